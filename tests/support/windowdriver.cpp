#include "windowdriver.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAction>
#include <QComboBox>
#include <QEventLoop>
#include <QTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

QWidget *WindowDriver::widget(const QString &name) const
{
    if (m_window->objectName() == name)
        return m_window;
    return m_window->findChild<QWidget *>(name);
}

QAction *WindowDriver::action(const QString &name) const
{
    return m_window->findChild<QAction *>(name);
}

bool WindowDriver::busy() const
{
    return m_window->property("busy").toBool();
}

bool WindowDriver::waitIdle(int ms) const
{
    // Woken by the window's own signal the moment it is idle (a polling wait would answer
    // up to its period late, and hold the window's events back meanwhile).
    if (!busy())
        return true;
    QEventLoop loop;
    QTimer bound;
    bound.setSingleShot(true);
    QObject::connect(&bound, &QTimer::timeout, &loop, &QEventLoop::quit);
    const int index = m_window->metaObject()->indexOfSignal("busyChanged(bool)");
    QMetaObject::Connection changed;
    if (index >= 0)
        changed = QObject::connect(m_window, SIGNAL(busyChanged(bool)), &loop, SLOT(quit()));
    bound.start(ms);
    while (busy() && bound.isActive())
        loop.exec();
    QObject::disconnect(changed);
    return !busy();
}

bool WindowDriver::click(const QString &name, int idleWithinMs)
{
    auto *button = find<QAbstractButton>(name);
    if (!button)
        return false;
    QTest::mouseClick(button, Qt::LeftButton);
    return waitIdle(idleWithinMs);
}

bool WindowDriver::trigger(const QString &name)
{
    QAction *a = action(name);
    if (!a)
        return false;
    a->trigger();
    return waitIdle();
}

bool WindowDriver::pick(const QString &list, const QString &entry)
{
    auto *box = find<QComboBox>(list);
    if (!box)
        return false;
    const int index = box->findText(entry);
    if (index < 0)
        return false;
    box->setCurrentIndex(index);
    emit box->activated(index);
    return waitIdle();
}

bool WindowDriver::type(const QString &name, const QString &text, Qt::Key end)
{
    auto *box = find<QLineEdit>(name);
    if (!box)
        return false;
    box->setFocus(Qt::MouseFocusReason);
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClicks(box, text);
    QTest::keyClick(box, end);
    return waitIdle();
}

bool WindowDriver::key(const QString &name, Qt::Key key)
{
    QWidget *w = widget(name);
    if (!w)
        return false;
    w->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(w, key);
    return waitIdle();
}

QString WindowDriver::text(const QString &name) const
{
    QWidget *w = widget(name);
    if (auto *label = qobject_cast<QLabel *>(w))
        return label->text();
    if (auto *box = qobject_cast<QLineEdit *>(w))
        return box->text();
    if (auto *button = qobject_cast<QAbstractButton *>(w))
        return button->text();
    if (auto *list = qobject_cast<QComboBox *>(w))
        return list->currentText();
    return QString();
}

bool WindowDriver::enabled(const QString &name) const
{
    const QWidget *w = widget(name);
    return w && w->isEnabled();
}

bool WindowDriver::checked(const QString &name) const
{
    const auto *button = find<QAbstractButton>(name);
    return button && button->isChecked();
}

int WindowDriver::value(const QString &name) const
{
    QWidget *w = widget(name);
    if (auto *slider = qobject_cast<QAbstractSlider *>(w))
        return slider->value();
    if (auto *list = qobject_cast<QComboBox *>(w))
        return list->currentIndex();
    return -1;
}

QString WindowDriver::toolTip(const QString &name) const
{
    const QWidget *w = widget(name);
    return w ? w->toolTip() : QString();
}
