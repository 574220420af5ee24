#include "session/sessionthread.h"

#include <QMutexLocker>
#include <QThread>

#include "session/kavosession.h"

SessionThread::SessionThread(Tracer *tracer, QObject *parent)
    : QObject(parent)
    , m_session(new KavoSession)
{
    m_session->setTracer(tracer);
    m_thread = QThread::create([this] { run(); });
    m_thread->setObjectName(QStringLiteral("session"));
    // The session and its port belong to the thread from its first moment.
    m_session->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, this, &SessionThread::finished);
    m_thread->start();
}

SessionThread::~SessionThread()
{
    shutdown();
    m_thread->wait();
    delete m_thread;
}

void SessionThread::post(std::function<void(KavoSession &)> job)
{
    // Under the lock, the session is there: the thread takes it away under the lock too.
    const QMutexLocker locked(&m_lock);
    if (m_stopping || !m_session)
        return;
    m_jobs.push_back(std::move(job));
    m_session->wake();
}

void SessionThread::deliver(std::function<void()> then)
{
    QMetaObject::invokeMethod(this, std::move(then), Qt::QueuedConnection);
}

void SessionThread::shutdown()
{
    const QMutexLocker locked(&m_lock);
    m_stopping = true;
    m_jobs.clear();
    if (m_session) {
        m_session->shutdown();
        m_session->wake();
    }
}

void SessionThread::run()
{
    for (;;) {
        std::function<void(KavoSession &)> job;
        {
            const QMutexLocker locked(&m_lock);
            if (m_stopping)
                break;
            if (!m_jobs.empty()) {
                job = std::move(m_jobs.front());
                m_jobs.pop_front();
            }
        }
        if (job)
            job(*m_session);
        else
            m_session->idle();
    }
    // The port closes here, on its own thread, and the session goes with the thread.
    KavoSession *session = nullptr;
    {
        const QMutexLocker locked(&m_lock);
        std::swap(session, m_session);
    }
    session->shutdown();
    delete session;
}
