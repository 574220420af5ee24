#include "session/kavosession.h"

#include <QThread>

KavoSession::KavoSession(QObject *parent)
    : QObject(parent)
    , m_link(new KavoLink(this))
{
    connect(m_link, &KavoLink::portLost, this, &KavoSession::onPortLost);
}

KavoSession::~KavoSession() = default;

void KavoSession::setTracer(Tracer *tracer)
{
    m_link->setTracer(tracer);
}

PortOpening KavoSession::openPort(const ComPorts::Port &port, qint32 bitRate)
{
    PortOpening opening;
    QString error;
    m_link->openPort(port, bitRate, &error);
    if (!error.isEmpty())
        opening.message = QStringLiteral("Com%1 is not available.\r\n%2").arg(QString::number(port.number), error);
    opening.open = m_link->portOpen();
    tellLine();
    return opening;
}

void KavoSession::closePort()
{
    const bool wasOpen = m_link->portOpen();
    m_link->closePort();
    if (wasOpen)
        tellLine();
}

void KavoSession::tellLine()
{
    if (m_link->portOpen())
        emit lineChanged(QStringLiteral("COM%1").arg(m_link->commPort()), m_link->lineSettings());
    else
        emit lineChanged(QString(), QString());
}

QString KavoSession::devicePath() const
{
    return m_link->devicePath();
}

void KavoSession::idle()
{
    if (!m_busy)
        m_link->idle(QDeadlineTimer(QDeadlineTimer::Forever));
}

void KavoSession::wake()
{
    m_link->wake();
}

bool KavoSession::portOpen() const
{
    return m_link->portOpen();
}

int KavoSession::commPort() const
{
    return m_link->commPort();
}

QString KavoSession::lineSettings() const
{
    return m_link->lineSettings();
}

qint32 KavoSession::bitRate() const
{
    return m_link->bitRate();
}

bool KavoSession::beginOperation()
{
    if (m_busy || m_shutdown)
        return false;
    m_link->beginOperation();
    if (m_link->operationAborted())   // shut down
        return false;
    m_busy = true;
    m_interrupted = false;
    emit busyChanged(true);
    return true;
}

void KavoSession::endOperation()
{
    m_busy = false;
    if (m_shutdown && m_link->portOpen()) {
        m_link->shutdown();
        tellLine();
    }
    emit busyChanged(false);
}

void KavoSession::interrupt()
{
    if (!m_busy)
        return;
    m_interrupted = true;
    m_link->abortOperation();
}

void KavoSession::shutdown()
{
    m_shutdown = true;
    m_link->abortOperation();
    // The port closes on the session's own thread: now, when nothing runs there (and this
    // is that thread), or as the running operation ends.
    if (!m_busy && thread() == QThread::currentThread()) {
        const bool wasOpen = m_link->portOpen();
        m_link->shutdown();
        if (wasOpen)
            tellLine();
    }
}

bool KavoSession::portGone()
{
    if (!m_link->lostAndNotReopened())
        return false;
    m_link->abortOperation();
    return true;
}

void KavoSession::onPortLost(const QString &description)
{
    QString what = QStringLiteral("COM%1").arg(m_link->commPort());
    if (!m_link->lastDevice().isEmpty())
        what += QStringLiteral(" (%1)").arg(m_link->lastDevice());
    what += QStringLiteral(" was disconnected");
    // The system's words for a vanished device say nothing more than that.
    static const QStringList says_nothing_more = {
        QStringLiteral("Inappropriate ioctl for device"), QStringLiteral("Resource temporarily unavailable"),
        QStringLiteral("Input/output error"), QStringLiteral("No such file or directory"),
        QStringLiteral("Bad file descriptor"), QStringLiteral("No such device"),
        QStringLiteral("No such device or address"), QStringLiteral("Unknown error"),
    };
    if (!description.isEmpty() && !says_nothing_more.contains(description))
        what += QStringLiteral(" (%1)").arg(description);
    tellLine();
    emit portLost(what);
}

QString KavoSession::endlessText() const
{
    return QStringLiteral("The device on COM%1 keeps sending without a prompt; it may not be a Kavo.").arg(commPort());
}

QString KavoSession::quoted(const QByteArray &reply)
{
    return SettingTable::printable(reply, 200);
}

bool KavoSession::say(const QString &text)
{
    emit status(text);
    return !m_link->operationAborted();
}
