#include "session/kavosession.h"

KavoSession::KavoSession(QObject *parent)
    : QObject(parent)
    , m_link(new KavoLink(this))
{
    connect(m_link, &KavoLink::portLost, this, &KavoSession::portLost);
}

KavoSession::~KavoSession() = default;

PortOpening KavoSession::openPort(int port, qint32 bitRate)
{
    PortOpening opening;
    QString error;
    m_link->openPort(port, bitRate, &error);
    if (!error.isEmpty())
        opening.message = QStringLiteral("Com%1 is not available.\r\n%2").arg(QString::number(m_link->commPort()), error);
    opening.open = m_link->portOpen();
    return opening;
}

void KavoSession::closePort()
{
    m_link->closePort();
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

int KavoSession::portNumberOf(const QString &portName)
{
    bool ok = false;
    const int n = portName.mid(3).toInt(&ok);
    return ok ? n : 0;
}

bool KavoSession::beginOperation()
{
    if (m_busy)
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
    m_link->shutdown();
}

bool KavoSession::say(const QString &text)
{
    emit status(text);
    return !m_link->operationAborted();
}
