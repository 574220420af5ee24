#include "link/kavolink.h"

#include <QEventLoop>
#include <QTimer>

#include "link/serialcontrol.h"

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

bool KavoLink::portOpen() const
{
    return MSComm1->PortOpen();
}

int KavoLink::commPort() const
{
    return MSComm1->CommPort();
}

QString KavoLink::lineSettings() const
{
    return MSComm1->Settings();
}

qint32 KavoLink::bitRate() const
{
    return MSComm1->Settings().section(QLatin1Char(','), 0, 0).toInt();
}

QString KavoLink::devicePath() const
{
    return MSComm1->DevicePath();
}

bool KavoLink::canOpen(int port, QString *problem)
{
    closePort();
    MSComm1->setCommPort(port);
    MSComm1->setRThreshold(1);
    const bool opened = MSComm1->setPortOpen(true);
    if (!opened && problem)
        *problem = MSComm1->LastError();
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

void KavoLink::SendText(const QByteArray &bytes)
{
    if (m_aborted)
        return;
    if (MSComm1->PortOpen())
        MSComm1->setOutput(bytes);
}

Reply KavoLink::WaitForPrompt()
{
    if (m_aborted)
        return {QByteArray(), Reply::End::Aborted};

    QByteArray reply;
    char lastByte = 0;
    Reply::End end = Reply::End::Prompt;
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
        if (m_aborted) {
            end = Reply::End::Aborted;
            break;
        }
        if (TimeOutTicks >= 1) {
            end = Reply::End::Silence;
            break;
        }
        // Sleeps until bytes arrive, the clock ticks or the operation is ended, and runs
        // every other pending event meanwhile. A loop that refuses to run means the
        // application is ending: no byte or tick will come any more.
        if (loop.exec() != 0) {
            m_aborted = true;
            end = Reply::End::Aborted;
            break;
        }
    }
    m_waitLoop = outer;

    if (end != Reply::End::Prompt)
        return {QByteArray(), end};
    reply.chop(1);
    return {reply, end};
}

Reply KavoLink::SendAndWait(const QByteArray &command)
{
    BufferIn.clear();
    SendText(command + '\r');
    return WaitForPrompt();
}

bool KavoLink::ProbeDevice()
{
    BufferIn.clear();
    SendText(QByteArrayLiteral("\x1b\r"));
    Reply reply = WaitForPrompt();
    if (reply.prompted() && reply.text.isEmpty()) {
        // Escape and carriage return are answered with a prompt each; when the first
        // arrived on its own, the second may still be on its way.
        const Reply rest = WaitForPrompt();
        if (rest.prompted())
            reply.text = '>' + rest.text;
    }
    return reply.prompted() && reply.text.startsWith('>');
}

void KavoLink::discardInput()
{
    BufferIn.clear();
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
