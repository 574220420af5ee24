#pragma once

#include <QObject>

class QSocketNotifier;

// Ctrl+C (SIGINT) and SIGTERM, delivered through the event loop: the signal handler only
// writes a byte to a pipe, and the notifier on its other end emits interrupted() in the
// next pass of whatever event loop runs, a wait on the module's answer included.
class InterruptWatch : public QObject
{
    Q_OBJECT
public:
    explicit InterruptWatch(QObject *parent = nullptr);
    ~InterruptWatch() override;

    // True once a signal came.
    static bool requested();

signals:
    void interrupted();

private:
    QSocketNotifier *m_notifier = nullptr;
};
