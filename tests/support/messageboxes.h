#pragma once

#include <QMessageBox>
#include <QObject>
#include <QQueue>
#include <QTimer>
#include <functional>

// Watches for the program's message boxes, records each one and answers it: with the next
// queued answer, or with OK (No when there is no OK, Cancel when there is neither).
class MessageBoxes : public QObject
{
    Q_OBJECT
public:
    struct Seen {
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        Qt::TextFormat format = Qt::AutoText;
    };

    MessageBoxes();

    void answer(QMessageBox::StandardButton button) { m_answers.enqueue(button); }
    // Runs while a box is shown, before it is answered (for clicks during a message box).
    void onShown(std::function<void(QMessageBox *)> hook) { m_hook = std::move(hook); }
    QList<Seen> seen;
    QStringList texts() const;
    void clear() { seen.clear(); }

private:
    void poll();
    QTimer m_timer;
    QQueue<QMessageBox::StandardButton> m_answers;
    std::function<void(QMessageBox *)> m_hook;
};
