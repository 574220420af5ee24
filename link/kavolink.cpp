#include "link/kavolink.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <algorithm>

#include "link/serialcontrol.h"

KavoLink::KavoLink(QObject *parent)
    : QObject(parent)
    , MSComm1(new SerialControl(this))
{
    MSComm1->setObjectName(QStringLiteral("MSComm1"));
    connect(MSComm1, &SerialControl::OnComm, this, &KavoLink::MSComm1_OnComm);
    connect(MSComm1, &SerialControl::PortLost, this, [this](const QString &description) {
        trace(TraceEntry::Kind::Lost, description.toUtf8());
        m_lost = true;
        abortOperation();
        emit portLost(description);
    });
    m_openClock.start();
}

bool KavoLink::tracing() const
{
    return m_tracer || kavoLink().isDebugEnabled();
}

void KavoLink::trace(TraceEntry::Kind kind, const QByteArray &bytes, qint64 followed)
{
    if (!tracing())
        return;
    TraceEntry entry;
    entry.kind = kind;
    entry.sinceOpenNs = m_openClock.nsecsElapsed();
    entry.wallMs = QDateTime::currentMSecsSinceEpoch();
    // The port's name is made once per port, not for every entry.
    if (m_tracedPortNumber != MSComm1->CommPort()) {
        m_tracedPortNumber = MSComm1->CommPort();
        m_tracedPort = m_tracedPortNumber > 0 ? QStringLiteral("COM%1").arg(m_tracedPortNumber) : QString();
    }
    entry.port = m_tracedPort;
    entry.rate = bitRate();
    entry.bytes = bytes;
    entry.followed = followed;
    if (kavoLink().isDebugEnabled())
        qCDebug(kavoLink).noquote() << entry.line();
    if (m_tracer)
        m_tracer->record(entry);
}

void KavoLink::take(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    trace(TraceEntry::Kind::Received, bytes);
    BufferIn += bytes;
}

void KavoLink::drop()
{
    if (!BufferIn.isEmpty())
        trace(TraceEntry::Kind::Dropped, BufferIn);
    BufferIn.clear();
}

KavoLink::~KavoLink() = default;

bool KavoLink::openPort(const ComPorts::Port &port, qint32 bitRate, QString *error)
{
    error->clear();
    if (m_shutdown)
        return false;
    m_lost = false;
    MSComm1->close();
    const bool settingsTaken = MSComm1->setSettings(QStringLiteral("%1,N,8,1").arg(bitRate));
    if (!settingsTaken)
        *error = MSComm1->LastError();
    MSComm1->setRTSEnable(false);
    MSComm1->setDTREnable(false);
    MSComm1->setRThreshold(1);
    if (settingsTaken && !MSComm1->open(port))
        *error = MSComm1->LastError();
    BufferIn.clear();
    if (MSComm1->PortOpen()) {
        m_lastDevice = MSComm1->DevicePath();
        m_openClock.start();
        trace(TraceEntry::Kind::Opened);
    }
    return MSComm1->PortOpen();
}

void KavoLink::closePort()
{
    if (!MSComm1->PortOpen())
        return;
    MSComm1->close();
    trace(TraceEntry::Kind::Closed);
}

bool KavoLink::portOpen() const
{
    return MSComm1->PortOpen();
}

const ComPorts::Port &KavoLink::port() const
{
    return MSComm1->port();
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

int KavoLink::noiseQuietMs() const
{
    const qint32 rate = std::max<qint32>(bitRate(), 300);
    return int((4 * 10 * 1000 + rate - 1) / rate) + NoiseMarginMs;
}

void KavoLink::MSComm1_OnComm()
{
    if (MSComm1->CommEvent() == SerialControl::comEvReceive) {
        take(MSComm1->Input());
        trimBufferIn();
    }
}

void KavoLink::trimBufferIn()
{
    // Between waits a talkative device keeps only a tail here.
    if (BufferIn.size() > LongestReply)
        BufferIn.remove(0, BufferIn.size() - LongestReply);
}

void KavoLink::SendText(const QByteArray &bytes)
{
    if (m_aborted)
        return;
    if (!MSComm1->PortOpen()) {
        // The port was lost before this operation began (its loss is told already): there
        // is nobody to talk to, and nothing to wait for.
        if (m_lost)
            abortOperation();
        return;
    }
    if (tracing()) {
        // A piece of a file goes out with its command line: the command is recorded, and how
        // many bytes followed it.
        const qsizetype end = bytes.indexOf('\r');
        // (A view of the command, not a copy: the tracer keeps a copy of its own.)
        if (bytes.startsWith("FC W ") && end >= 0 && end + 1 < bytes.size())
            trace(TraceEntry::Kind::Sent, QByteArray::fromRawData(bytes.constData(), end + 1), bytes.size() - end - 1);
        else
            trace(TraceEntry::Kind::Sent, bytes);
    }
    MSComm1->setOutput(bytes, QDeadlineTimer(LongestAnswerMs), &m_waker);
}

Reply KavoLink::WaitForPrompt(Listen listen)
{
    if (m_aborted)
        return {QByteArray(), Reply::End::Aborted};
    return waitBlocking(listen);
}

Reply KavoLink::waitBlocking(Listen listen)
{
    QByteArray reply;
    Reply::End end = Reply::End::Prompt;
    QElapsedTimer clock;
    clock.start();
    qint64 lastBytes = 0;   // when the wait began or bytes came last, on the clock
    const qint64 noiseQuiet = listen == Listen::Probe ? noiseQuietMs() : -1;
    for (;;) {
        if (!BufferIn.isEmpty()) {
            // The chunk is taken whole: as the reply itself when it is the first.
            if (reply.isEmpty()) {
                reply.swap(BufferIn);
            } else {
                reply += BufferIn;
                BufferIn.clear();
            }
            if (reply.back() == '>')
                break;
            lastBytes = clock.elapsed();
        }
        const qint64 now = clock.elapsed();
        if (reply.size() >= LongestReply || now >= LongestAnswerMs) {
            end = Reply::End::Endless;
            break;
        }
        if (m_aborted) {
            end = Reply::End::Aborted;
            break;
        }
        if (now - lastBytes >= TimeOutMs) {
            end = Reply::End::Silence;
            break;
        }
        const bool noisy = noiseQuiet >= 0 && !reply.isEmpty();
        if (noisy && now - lastBytes >= noiseQuiet) {
            end = Reply::End::Noise;
            break;
        }
        qint64 until = std::min<qint64>(lastBytes + TimeOutMs, LongestAnswerMs);
        if (noisy)
            until = std::min(until, lastBytes + noiseQuiet);
        switch (MSComm1->waitForInput(QDeadlineTimer(until - now), &m_waker)) {
        case SerialControl::Wait::Input:
            take(MSComm1->Input());
            break;
        case SerialControl::Wait::Woken:
            m_waker.clear();
            break;
        case SerialControl::Wait::Deadline:
        case SerialControl::Wait::Closed:
            break;
        }
    }
    if (end != Reply::End::Prompt)
        return {QByteArray(), end, reply.size()};
    reply.chop(1);
    return {reply, end};
}

Reply KavoLink::SendAndWait(const QByteArray &command)
{
    drop();
    SendText(command + '\r');
    return WaitForPrompt();
}

bool KavoLink::ProbeDevice(Reply *decided)
{
    Reply unused;
    if (!decided)
        decided = &unused;
    for (int attempt = 0;; ++attempt) {
        drop();
        SendText(QByteArrayLiteral("\x1b\r"));
        Reply reply = WaitForPrompt(Listen::Probe);
        if (reply.prompted() && reply.text.isEmpty()) {
            // Escape and carriage return are answered with a prompt each; when the first
            // arrived on its own, the second may still be on its way.
            const Reply rest = WaitForPrompt(Listen::Probe);
            if (rest.prompted())
                reply.text = '>' + rest.text;
        }
        *decided = reply;
        if (reply.prompted() && reply.text.startsWith('>'))
            return true;
        // Text that ends in a prompt is some other answer: the rest of an exchange that an
        // earlier program left, or a late answer. Once the line is quiet, ask again.
        if (attempt > 0 || !reply.prompted() || reply.text.isEmpty())
            return false;
        if (!quietLine(true)) {
            decided->end = m_aborted ? Reply::End::Aborted : Reply::End::Endless;
            return false;
        }
    }
}

bool KavoLink::quietLine(bool always)
{
    if (m_aborted)
        return false;
    if (BufferIn.isEmpty() && !always)
        return true;
    return quietBlocking();
}

bool KavoLink::quietBlocking()
{
    QElapsedTimer clock;
    clock.start();
    QElapsedTimer quiet;
    for (;;) {
        drop();
        quiet.start();
        while (BufferIn.isEmpty() && !m_aborted && quiet.elapsed() < QuietMs) {
            switch (MSComm1->waitForInput(QDeadlineTimer(QuietMs - quiet.elapsed()), &m_waker)) {
            case SerialControl::Wait::Input:
                take(MSComm1->Input());
                break;
            case SerialControl::Wait::Woken:
                m_waker.clear();
                break;
            default:
                break;
            }
        }
        if (m_aborted)
            return false;
        if (BufferIn.isEmpty())
            return true;
        if (clock.elapsed() >= LongestAnswerMs) {
            drop();
            return false;
        }
    }
}

void KavoLink::discardInput()
{
    drop();
}

void KavoLink::idle(QDeadlineTimer until)
{
    for (;;) {
        switch (MSComm1->waitForInput(until, &m_waker)) {
        case SerialControl::Wait::Input:
            take(MSComm1->Input());
            trimBufferIn();
            continue;
        case SerialControl::Wait::Woken:
            m_waker.clear();
            return;
        case SerialControl::Wait::Deadline:
        case SerialControl::Wait::Closed:
            return;
        }
    }
}

void KavoLink::wake()
{
    m_waker.wake();
}

void KavoLink::abortOperation()
{
    // A wait in progress sees it at once (a blocking one is woken; one that runs the event
    // loop sees it when the event that called this has been handled).
    m_aborted = true;
    m_waker.wake();
}

bool KavoLink::lostAndNotReopened() const
{
    return m_lost && !MSComm1->PortOpen();
}

bool KavoLink::resume()
{
    if (m_shutdown || !MSComm1->PortOpen())
        return false;
    m_aborted = false;
    return true;
}

void KavoLink::shutdown()
{
    m_shutdown = true;
    abortOperation();
    closePort();
}
