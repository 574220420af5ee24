#pragma once

#include <QMutex>
#include <QObject>
#include <deque>
#include <functional>

class KavoSession;
class QThread;
class Tracer;

// A session on a thread of its own, for a front end whose own thread must never wait: the
// front end posts jobs, which run on that thread one after another, and takes what they
// find through the session's signals (queued to it) and through deliver(). Between jobs the
// thread watches the port, so a module that is pulled is noticed at once.
class SessionThread : public QObject
{
    Q_OBJECT
public:
    // `tracer`, when given, records the session's traffic.
    explicit SessionThread(Tracer *tracer = nullptr, QObject *parent = nullptr);
    // Ends the running job as shutdown() does and waits for the thread.
    ~SessionThread() override;

    // The session, living on the thread: connect to its signals right after construction;
    // call interrupt() on it while a job runs.
    KavoSession *session() const { return m_session; }

    // Runs `job` on the session's thread after the jobs before it. Any thread.
    void post(std::function<void(KavoSession &)> job);
    // Runs `then` on this object's thread (the front end's), queued. Any thread; meant for a
    // job that hands its outcome back.
    void deliver(std::function<void()> then);
    // Ends the running job (an upload still closes its card file), drops the ones waiting,
    // closes the port and ends the thread; finished() follows.
    void shutdown();

signals:
    void finished();

private:
    void run();

    KavoSession *m_session;
    QThread *m_thread;
    QMutex m_lock;
    std::deque<std::function<void(KavoSession &)>> m_jobs;
    bool m_stopping = false;
};
