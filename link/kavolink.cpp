#include "link/kavolink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>

#include "link/serialcontrol.h"

KavoLink::KavoLink(QObject *parent, Mode mode)
    : QObject(parent)
    , m_mode(mode)
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

bool KavoLink::openPort(const ComPorts::Port &port, qint32 bitRate, QString *error)
{
    error->clear();
    if (m_shutdown)
        return false;
    MSComm1->close();
    const bool settingsTaken = MSComm1->setSettings(QStringLiteral("%1,N,8,1").arg(bitRate));
    if (!settingsTaken)
        *error = MSComm1->LastError();
    MSComm1->setRTSEnable(false);
    MSComm1->setDTREnable(false);
    MSComm1->setRThreshold(1);
    if (settingsTaken && !MSComm1->open(port))
        *error = MSComm1->LastError();
    if (MSComm1->PortOpen())
        m_lastDevice = MSComm1->DevicePath();
    BufferIn.clear();
    return MSComm1->PortOpen();
}

void KavoLink::closePort()
{
    MSComm1->close();
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
        BufferIn += MSComm1->Input();
        trimBufferIn();
    }
}

void KavoLink::trimBufferIn()
{
    // Between waits a talkative device keeps only a tail here.
    if (BufferIn.size() > LongestReply)
        BufferIn.remove(0, BufferIn.size() - LongestReply);
}

void KavoLink::tmrTimeOut_Timer()
{
    if (TimeOutTicks < 32767)
        ++TimeOutTicks;
}

void KavoLink::SendText(const QByteArray &bytes)
{
    if (m_aborted)
        return;
    if (MSComm1->PortOpen())
        MSComm1->setOutput(bytes, QDeadlineTimer(LongestAnswerMs), &m_waker);
}

Reply KavoLink::WaitForPrompt(Listen listen)
{
    if (m_aborted)
        return {QByteArray(), Reply::End::Aborted};
    return m_mode == Mode::Blocking ? waitBlocking(listen) : waitInEventLoop(listen);
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
            BufferIn += MSComm1->Input();
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

Reply KavoLink::waitInEventLoop(Listen)
{
    QByteArray reply;
    Reply::End end = Reply::End::Prompt;
    TimeOutTicks = 0;
    tmrTimeOut->start();   // (re)starts a full period of silence
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (!BufferIn.isEmpty()) {
            if (reply.isEmpty()) {
                reply.swap(BufferIn);
            } else {
                reply += BufferIn;
                BufferIn.clear();
            }
            if (reply.back() == '>')
                break;
            TimeOutTicks = 0;
            tmrTimeOut->start();
        }
        if (reply.size() >= LongestReply || clock.elapsed() >= LongestAnswerMs) {
            end = Reply::End::Endless;
            break;
        }
        if (m_aborted) {
            end = Reply::End::Aborted;
            break;
        }
        if (TimeOutTicks >= 1) {
            end = Reply::End::Silence;
            break;
        }
        // Right after the command the answer is most likely a moment away: the port alone
        // is watched, with the other events let run in between often enough that nobody
        // notices.
        if (m_answersQuick && clock.elapsed() < QuickAnswerMs && MSComm1->PortOpen()) {
            if (!m_eventsHandled.isValid() || m_eventsHandled.elapsed() >= EventsEveryMs) {
                QCoreApplication::processEvents();
                m_eventsHandled.start();
            } else {
                // Until the other events are due, or the quick part of the wait is over:
                // bytes end the slice at once, so a silent line costs one wake-up here.
                const qint64 slice = qMin(EventsEveryMs - m_eventsHandled.elapsed(), QuickAnswerMs - clock.elapsed());
                if (MSComm1->waitForInput(QDeadlineTimer(qMax<qint64>(slice, 1)), nullptr)
                    == SerialControl::Wait::Input)
                    BufferIn += MSComm1->Input();
            }
            continue;
        }
        // Sleeps until bytes arrive, the clock ticks or something ends the operation, and
        // runs every other pending event meanwhile.
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        m_eventsHandled.start();
    }

    // A line that answered in the quick part is watched that way next time; one that kept
    // silent (nothing there, a module at another rate) is not, which spares each further
    // silent wait a wake-up.
    if (end == Reply::End::Prompt || end == Reply::End::Silence)
        m_answersQuick = end == Reply::End::Prompt && clock.elapsed() < QuickAnswerMs;
    if (end != Reply::End::Prompt)
        return {QByteArray(), end, reply.size()};
    reply.chop(1);
    return {reply, end};
}

Reply KavoLink::SendAndWait(const QByteArray &command)
{
    BufferIn.clear();
    SendText(command + '\r');
    return WaitForPrompt();
}

bool KavoLink::ProbeDevice(Reply *decided)
{
    Reply unused;
    if (!decided)
        decided = &unused;
    for (int attempt = 0;; ++attempt) {
        BufferIn.clear();
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
    return m_mode == Mode::Blocking ? quietBlocking() : quietInEventLoop();
}

bool KavoLink::quietBlocking()
{
    QElapsedTimer clock;
    clock.start();
    QElapsedTimer quiet;
    for (;;) {
        BufferIn.clear();
        quiet.start();
        while (BufferIn.isEmpty() && !m_aborted && quiet.elapsed() < QuietMs) {
            switch (MSComm1->waitForInput(QDeadlineTimer(QuietMs - quiet.elapsed()), &m_waker)) {
            case SerialControl::Wait::Input:
                BufferIn += MSComm1->Input();
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
            BufferIn.clear();
            return false;
        }
    }
}

bool KavoLink::quietInEventLoop()
{
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QElapsedTimer clock;
    clock.start();
    QElapsedTimer quiet;
    for (;;) {
        BufferIn.clear();
        quiet.start();
        while (BufferIn.isEmpty() && !m_aborted && quiet.elapsed() < QuietMs) {
            deadline.start(int(QuietMs - quiet.elapsed()));
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        if (m_aborted)
            return false;
        if (BufferIn.isEmpty())
            return true;
        if (clock.elapsed() >= LongestAnswerMs) {
            BufferIn.clear();
            return false;
        }
    }
}

void KavoLink::discardInput()
{
    BufferIn.clear();
}

void KavoLink::idle(QDeadlineTimer until)
{
    for (;;) {
        switch (MSComm1->waitForInput(until, &m_waker)) {
        case SerialControl::Wait::Input:
            BufferIn += MSComm1->Input();
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
    tmrTimeOut->stop();
    closePort();
}
