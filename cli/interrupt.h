#pragma once

#include <QObject>

class QSocketNotifier;

// Ctrl+C (SIGINT), SIGTERM and SIGHUP (the terminal closed), delivered through the event
// loop: the signal handler only notes the signal and writes a byte to a pipe, and the
// notifier on its other end emits interrupted() in the next pass of the event loop.
class InterruptWatch : public QObject
{
    Q_OBJECT
public:
    explicit InterruptWatch(QObject *parent = nullptr);
    ~InterruptWatch() override;

    // True once a signal came, and which one.
    static bool requested();
    static int signalNumber();

signals:
    void interrupted();

private:
    QSocketNotifier *m_notifier = nullptr;
};
