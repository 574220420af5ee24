#include "messageboxes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>

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
        if (m_hook)
            m_hook(box);
        QMessageBox::StandardButton choice = m_answers.isEmpty() ? QMessageBox::Ok : m_answers.dequeue();
        // An answer the box does not offer: OK, else No, else Cancel.
        for (const QMessageBox::StandardButton fallback : {QMessageBox::Ok, QMessageBox::No, QMessageBox::Cancel})
            if (!(s.buttons & choice))
                choice = fallback;
        if (QAbstractButton *b = box->button(choice))
            b->click();
    }
}
