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
    const auto aborted = [&] {
        out.result = Result::Aborted;
        out.messages.clear();
        return out;
    };
    // The module answered the probe: the search ends here, whatever its identity.
    const auto identify = [&]() -> bool {
        const VersionOutcome version = readVersion();
        if (version.aborted)
            return false;
        out.version = version.version;
        out.identity = version.identity;
        if (version.identity != Replies::IdentityCode) {
            out.messages << mismatchText(request.portName(), version.identity);
            out.result = Result::WrongIdentity;
            closePort();
        }
        return true;
    };

    if (request.automatic) {
        for (int i = 0; i < request.rates.size(); ++i) {
            const QString &rate = request.rates.at(i);
            const PortOpening opening = openPort(portNumberOf(request.portName()), rate.toInt());
            if (!opening.message.isEmpty())
                out.messages << opening.message;
            if (!opening.open) {
                out.result = Result::PortUnavailable;
                break;
            }
            if (!say(QStringLiteral("Searching for Kavo at ") + rate + QStringLiteral(" bps")))
                return aborted();
            if (!m_link->ProbeDevice()) {
                closePort();
                if (m_link->operationAborted())
                    return aborted();
                continue;
            }
            out.rateIndex = i;
            emit rateSelected(i);
            if (!identify())
                return aborted();
            break;
        }
        if (!portOpen())
            out.messages << notConnectedText(request.portName());
    } else {
        const QString rate = request.rates.value(request.chosen);
        if (!say(QStringLiteral("Opening ") + request.portName()))
            return aborted();
        const PortOpening opening = openPort(portNumberOf(request.portName()), rate.toInt());
        if (!opening.message.isEmpty())
            out.messages << opening.message;
        if (!opening.open) {
            out.result = Result::PortUnavailable;
        } else {
            if (!say(QStringLiteral("Searching for Kavo at ") + rate + QStringLiteral(" bps")))
                return aborted();
            if (m_link->ProbeDevice()) {
                out.rateIndex = request.chosen;
                if (!identify())
                    return aborted();
            } else {
                if (m_link->operationAborted())
                    return aborted();
                out.messages << notConnectedText(request.portName());
                closePort();
            }
        }
    }

    if (m_link->operationAborted())
        return aborted();
    if (portOpen())
        out.result = Result::Connected;
    return out;
}

VersionOutcome KavoSession::readVersion()
{
    VersionOutcome out;
    emit versionShown(QString());
    m_link->ProbeDevice();
    const Reply reply = m_link->SendAndWait(QByteArrayLiteral("V"));
    if (reply.aborted()) {
        out.aborted = true;
        return out;
    }
    out.version = QString::fromLatin1(reply.text);
    out.identity = Replies::identityCode(out.version);
    emit versionShown(out.version);
    return out;
}

CardOutcome KavoSession::readCardInfo()
{
    CardOutcome out;
    const Reply reply = m_link->SendAndWait(QByteArrayLiteral("FC Q"));
    if (reply.aborted()) {
        out.aborted = true;
        return out;
    }
    if (reply.text.isEmpty()) {
        // A time-out or the prompt alone: the card's own status text says more.
        const Reply status = m_link->SendAndWait(QByteArrayLiteral("FC F"));
        if (status.aborted()) {
            out.aborted = true;
            return out;
        }
        out.info.status = QString::fromLatin1(status.text);
        return out;
    }
    out.info = Replies::cardInfo(QString::fromLatin1(reply.text));
    return out;
}
