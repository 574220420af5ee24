// Connecting: opening the port, finding the module at the chosen bit rate or at every rate
// in turn, checking its identity; its version and its card.
#include "session/kavosession.h"

namespace {

QString notConnectedText(const QString &portName)
{
    return portName + QStringLiteral(" is not connected to a Kavo or there was a time-out trying to connect to the Kavo");
}

QString mismatchText(const QString &portName, const QString &code)
{
    return portName + QStringLiteral(" is not connected to a Kavo (SN reported: ") + code + QStringLiteral(" <> ")
           + Replies::IdentityCode + QStringLiteral(")");
}

} // namespace

ConnectOutcome KavoSession::connectModule(const ConnectRequest &request)
{
    using Result = ConnectOutcome::Result;
    ConnectOutcome out;
    // Read afresh at every try and for every message: the user may choose another port.
    const auto port = [&] { return request.port ? request.port->get() : ComPorts::Port(); };
    const auto portName = [&] { return port().name(); };
    bool endless = false;   // the chosen rate met a device that keeps sending
    const auto aborted = [&] {
        out.result = Result::Aborted;
        out.messages.clear();
        return out;
    };
    // The module answered the probe: the search ends here, whatever its identity.
    const auto identify = [&]() -> bool {
        const VersionOutcome version = readVersion();
        if (version.aborted())
            return false;
        out.version = version.version;
        out.identity = version.identity;
        if (version.identity != Replies::IdentityCode) {
            out.messages << (version.result == VersionOutcome::Result::Endless ? endlessText()
                                             : mismatchText(portName(), quoted(version.identity.toLatin1())));
            out.result = Result::WrongIdentity;
            closePort();
        }
        return true;
    };

    if (request.automatic) {
        for (int i = 0; i < request.rates.size(); ++i) {
            const qint32 rate = request.rates.at(i);
            const PortOpening opening = openPort(port(), rate);
            if (!opening.message.isEmpty())
                out.messages << opening.message;
            if (!opening.open) {
                out.result = Result::PortUnavailable;
                break;
            }
            if (!say(QStringLiteral("Searching for Kavo at %1 bps").arg(rate)))
                return aborted();
            // Silence, garbled or other answers and a device that keeps sending all mean:
            // not here.
            if (!m_link->ProbeDevice()) {
                closePort();
                if (m_link->operationAborted())
                    return aborted();
                continue;
            }
            out.rate = rate;
            emit bitRateChanged(rate);
            if (!identify())
                return aborted();
            break;
        }
        // Every search that found no Kavo ends with this, a port that could not be opened
        // included (its own message came first).
        if (!portOpen())
            out.messages << notConnectedText(portName());
    } else {
        const qint32 rate = request.rates.value(request.chosen);
        if (!say(QStringLiteral("Opening ") + portName()))
            return aborted();
        const PortOpening opening = openPort(port(), rate);
        if (!opening.message.isEmpty())
            out.messages << opening.message;
        if (!opening.open) {
            out.result = Result::PortUnavailable;
        } else {
            if (!say(QStringLiteral("Searching for Kavo at %1 bps").arg(rate)))
                return aborted();
            Reply probe;
            if (m_link->ProbeDevice(&probe)) {
                out.rate = rate;
                if (!identify())
                    return aborted();
            } else {
                if (m_link->operationAborted())
                    return aborted();
                // Something answers, but without end: saying it timed out would mislead.
                endless = probe.endless();
                out.messages << (endless ? endlessText() : notConnectedText(portName()));
                // Bytes without a prompt: a module at another rate garbles its answer.
                out.otherRateAnswers = !endless && probe.unprompted > 0;
                closePort();
            }
        }
    }

    if (m_link->operationAborted())
        return aborted();
    if (portOpen()) {
        out.result = Result::Connected;
        return out;
    }
    // The status line tells how the search ended, not what it tried last.
    const QString name = portName();
    switch (out.result) {
    case Result::PortUnavailable:
        say(QStringLiteral("%1 could not be opened").arg(name));
        break;
    case Result::WrongIdentity:
        say(QStringLiteral("The device on %1 is not a Kavo").arg(name));
        break;
    default:
        if (endless) {
            say(endlessText());
            break;
        }
        say(request.automatic ? QStringLiteral("No Kavo answered on %1 at any bit rate").arg(name)
                              : QStringLiteral("No Kavo answered on %1 at %2 bps").arg(name).arg(request.rates.value(request.chosen)));
        break;
    }
    if (m_link->operationAborted())
        return aborted();
    return out;
}

VersionOutcome KavoSession::readVersion()
{
    VersionOutcome out;
    if (portGone()) {
        out.result = VersionOutcome::Result::Aborted;
        return out;
    }
    emit versionRead(QString());
    m_link->ProbeDevice();
    Reply reply = m_link->SendAndWait(QByteArrayLiteral("V"));
    // A Kavo's version reply is never empty: a prompt alone is a stray one (the tail of a
    // probe's answer, or of an exchange an earlier program left), and the reply follows.
    if (reply.prompted() && reply.text.isEmpty())
        reply = m_link->WaitForPrompt();
    if (reply.aborted()) {
        out.result = VersionOutcome::Result::Aborted;
        return out;
    }
    out.result = reply.endless() ? VersionOutcome::Result::Endless : VersionOutcome::Result::Read;
    out.version = QString::fromLatin1(reply.text);
    out.identity = Replies::identityCode(out.version);
    emit versionRead(out.version);
    return out;
}

CardOutcome KavoSession::readCardInfo()
{
    using Result = CardOutcome::Result;
    CardOutcome out;
    out.result = Result::Read;
    if (portGone()) {
        out.result = Result::Aborted;
        return out;
    }
    const auto ended = [&](const Reply &reply) {
        if (reply.aborted())
            out.result = Result::Aborted;
        if (reply.endless()) {
            out.result = Result::Endless;
            out.messages << endlessText();
        }
        return reply.aborted() || reply.endless();
    };
    if (!m_link->quietLine()) {
        out.result = m_link->operationAborted() ? Result::Aborted : Result::Endless;
        if (!out.aborted())
            out.messages << endlessText();
        return out;
    }
    const Reply reply = m_link->SendAndWait(QByteArrayLiteral("FC Q"));
    if (ended(reply))
        return out;
    if (reply.text.isEmpty()) {
        // A time-out or the prompt alone: the card's own status text says more.
        const Reply status = m_link->SendAndWait(QByteArrayLiteral("FC F"));
        if (ended(status))
            return out;
        out.info.status = QString::fromLatin1(status.text);
    } else {
        out.info = Replies::cardInfo(QString::fromLatin1(reply.text));
    }
    emit cardInfoRead(out.info);
    return out;
}
