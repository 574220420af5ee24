#include "link/kavolink.h"

#include <QEventLoop>

KavoLink::KavoLink(QObject *parent)
    : QObject(parent)
    , MSComm1(new SerialControl(this))
    , tmrTimeOut(new QTimer(this))
{
    MSComm1->setObjectName(QStringLiteral("MSComm1"));
    tmrTimeOut->setObjectName(QStringLiteral("tmrTimeOut"));
    tmrTimeOut->setInterval(TimeOutMs);
    tmrTimeOut->setTimerType(Qt::PreciseTimer);

    connect(MSComm1, &SerialControl::OnComm, this, &KavoLink::MSComm1_OnComm);
    connect(tmrTimeOut, &QTimer::timeout, this, &KavoLink::tmrTimeOut_Timer);
    connect(MSComm1, &SerialControl::PortLost, this, [this](const QString &description) {
        abortOperation();
        emit portLost(description);
    });
}

KavoLink::~KavoLink() = default;

bool KavoLink::openPort(int port, qint32 bitRate, QString *error)
{
    error->clear();
    if (m_shutdown)
        return false;
    if (MSComm1->PortOpen())
        MSComm1->setPortOpen(false);
    MSComm1->setCommPort(port);
    const bool settingsTaken = MSComm1->setSettings(QStringLiteral("%1,N,8,1").arg(bitRate));
    if (!settingsTaken)
        *error = MSComm1->LastError();
    MSComm1->setRTSEnable(false);
    MSComm1->setDTREnable(false);
    MSComm1->setRThreshold(1);
    if (settingsTaken && !MSComm1->setPortOpen(true))
        *error = MSComm1->LastError();
    BufferIn.clear();
    return MSComm1->PortOpen();
}

void KavoLink::closePort()
{
    if (MSComm1->PortOpen())
        MSComm1->setPortOpen(false);
}

bool KavoLink::canOpen(int port)
{
    closePort();
    MSComm1->setCommPort(port);
    MSComm1->setRThreshold(1);
    const bool opened = MSComm1->setPortOpen(true);
    closePort();
    return opened;
}

void KavoLink::MSComm1_OnComm()
{
    if (MSComm1->CommEvent() == SerialControl::comEvReceive) {
        BufferIn += MSComm1->Input();
        wake();
    }
}

void KavoLink::tmrTimeOut_Timer()
{
    if (TimeOutTicks < 32767)
        ++TimeOutTicks;
    wake();
}

void KavoLink::wake()
{
    if (m_waitLoop)
        m_waitLoop->quit();
}

void KavoLink::SendText(const QByteArray &text)
{
    if (m_aborted)
        return;
    if (MSComm1->PortOpen())
        MSComm1->setOutput(text);
}

QByteArray KavoLink::WaitForPrompt()
{
    m_lastTimedOut = true;
    if (m_aborted)
        return {};

    QByteArray reply;
    char lastByte = 0;
    bool timedOut = false;
    TimeOutTicks = 0;
    tmrTimeOut->start();   // (re)starts a full period of silence

    QEventLoop loop;
    QEventLoop *outer = m_waitLoop;
    m_waitLoop = &loop;
    for (;;) {
        if (!BufferIn.isEmpty()) {
            reply += BufferIn;
            lastByte = BufferIn.back();
            BufferIn.clear();
            TimeOutTicks = 0;
            tmrTimeOut->start();
        }
        if (lastByte == '>')
            break;
        if (m_aborted || TimeOutTicks >= 1) {
            timedOut = true;
            break;
        }
        // Sleeps until bytes arrive, the clock ticks or the operation is ended, and runs
        // every other pending event of the window meanwhile. A loop that refuses to run
        // means the application is ending: no byte or tick will come any more.
        if (loop.exec() != 0) {
            m_aborted = true;
            timedOut = true;
            break;
        }
    }
    m_waitLoop = outer;

    m_lastTimedOut = timedOut;
    if (timedOut)
        return {};
    reply.chop(1);
    return reply;
}

bool KavoLink::ProbeDevice()
{
    BufferIn.clear();
    SendText(QByteArrayLiteral("\x1b\r"));
    QByteArray reply = WaitForPrompt();
    if (reply.isEmpty() && !m_lastTimedOut) {
        // Escape and carriage return are answered with a prompt each; when the first
        // arrived on its own, the second may still be on its way.
        const QByteArray rest = WaitForPrompt();
        if (!m_lastTimedOut)
            reply = '>' + rest;
    }
    return !reply.isEmpty() && reply.front() == '>';
}

void KavoLink::SendAndWait(const QByteArray &text)
{
    BufferIn.clear();
    SendText(text + '\r');
    WaitForPrompt();
}

void KavoLink::abortOperation()
{
    m_aborted = true;
    wake();
}

void KavoLink::shutdown()
{
    m_shutdown = true;
    abortOperation();
    tmrTimeOut->stop();
    closePort();
}
