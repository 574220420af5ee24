#pragma once

#include <QString>
#include <QWidget>

class QAction;

// Drives the window as a user does: finds its controls by their names, clicks, picks list
// entries, types and presses keys, and waits until the window has finished what a click
// started. What it reads is what the user sees: texts, enabled and checked states.
class WindowDriver
{
public:
    explicit WindowDriver(QWidget *window) : m_window(window) {}

    // The control with this object name (nullptr when there is none), and typed.
    QWidget *widget(const QString &name) const;
    template <typename W>
    W *find(const QString &name) const
    {
        return qobject_cast<W *>(widget(name));
    }
    QAction *action(const QString &name) const;

    // A click on a button or check box, a menu item chosen, an entry picked from a list;
    // each then waits until the window is idle. False when the control is missing or the
    // window did not become idle within the bound.
    bool click(const QString &name, int idleWithinMs = 30000);
    bool trigger(const QString &action);
    bool pick(const QString &list, const QString &entry);
    // Replaces a number box's text as typed, then presses `end` (Enter, Tab ...).
    bool type(const QString &box, const QString &text, Qt::Key end = Qt::Key_Return);
    // A key pressed on the control, which gets the focus first.
    bool key(const QString &name, Qt::Key key);

    // Until no operation runs in the window.
    bool waitIdle(int ms = 30000) const;
    bool busy() const;

    // The text a label, box, button, check box or list shows; the status line's message.
    QString text(const QString &name) const;
    QString status() const { return text(QStringLiteral("StatusPanel3")); }
    bool enabled(const QString &name) const;
    bool checked(const QString &name) const;
    int value(const QString &name) const;   // a scroll bar's position, a list's index
    QString toolTip(const QString &name) const;
    bool connected() const { return text(QStringLiteral("cmdOpenCOM")) == QStringLiteral("Close"); }

private:
    QWidget *m_window;
};
