#include "messageboxes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QPointer>

MessageBoxes::MessageBoxes()
{
    connect(&m_timer, &QTimer::timeout, this, &MessageBoxes::poll);
    m_timer.start(5);
}

QStringList MessageBoxes::texts() const
{
    QStringList list;
    for (const Seen &s : seen)
        list << s.text;
    return list;
}

void MessageBoxes::poll()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(w);
        if (!box || !box->isVisible() || box->property("kavoAnswered").toBool())
            continue;
        box->setProperty("kavoAnswered", true);
        Seen s;
        s.title = box->windowTitle();
        s.text = box->text();
        s.icon = box->icon();
        s.buttons = box->standardButtons();
        s.format = box->textFormat();
        seen << s;
        // Answered from a timer of its own: what the hook does may show another box (and
        // wait in it), and this poll's timer does not fire again until it has returned.
        QPointer<QMessageBox> shown = box;
        QTimer::singleShot(0, this, [this, shown, buttons = s.buttons] {
            if (!shown)
                return;
            if (m_hook)
                m_hook(shown);
            if (!shown || !shown->isVisible())
                return;
            QMessageBox::StandardButton choice = m_answers.isEmpty() ? QMessageBox::Ok : m_answers.dequeue();
            // An answer the box does not offer: OK, else No, else Cancel.
            for (const QMessageBox::StandardButton fallback : {QMessageBox::Ok, QMessageBox::No, QMessageBox::Cancel})
                if (!(buttons & choice))
                    choice = fallback;
            if (QAbstractButton *b = shown->button(choice))
                b->click();
        });
    }
}
