#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTimer>

// Answers the program's message boxes without a timer: an event filter on the application
// notes each box as it is shown and answers it at once (OK, else the preferred answer to a
// question, else No). Nothing wakes up while no box is shown, so it may stay installed
// during timed sections.
class BoxCatcher : public QObject
{
public:
    explicit BoxCatcher(QMessageBox::StandardButton question = QMessageBox::No) : m_question(question)
    {
        qApp->installEventFilter(this);
    }
    ~BoxCatcher() override { qApp->removeEventFilter(this); }

    QStringList texts;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            auto *box = qobject_cast<QMessageBox *>(watched);
            if (box && !box->property("kavoBenchAnswered").toBool()) {
                box->setProperty("kavoBenchAnswered", true);
                texts << box->text();
                QTimer::singleShot(0, box, [box = QPointer<QMessageBox>(box), question = m_question] {
                    if (!box)
                        return;
                    QAbstractButton *button = box->button(QMessageBox::Ok);
                    if (!button)
                        button = box->button(question);
                    if (!button)
                        button = box->button(QMessageBox::No);
                    if (button)
                        button->click();
                    else
                        box->reject();
                });
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QMessageBox::StandardButton m_question;
};
