// Reading the module's nine settings, and writing nine setting strings back, the bit rate
// last.
#include <string_view>

#include "session/kavosession.h"

namespace {

QString settingTitle(char letter)
{
    return QStringLiteral("%1 - '%2'").arg(SettingTable::nameOf(letter), QString(QLatin1Char(letter)));
}

} // namespace

QByteArray KavoSession::querySetting(char letter)
{
    return m_link->SendAndWait(SettingTable::query(letter)).text;
}

ReadOutcome KavoSession::readSettings()
{
    ReadOutcome out;
    const auto endless = [&](char letter) {
        out.failed = letter;
        out.failure = endlessText();
        out.messages << endlessText();
        say(out.failure);
        out.aborted = m_link->operationAborted();
        return out;
    };
    if (!m_link->quietLine()) {
        if (!m_link->operationAborted())
            return endless(SettingTable::all().front().letter);
        out.aborted = true;
        return out;
    }
    for (const SettingTable::Setting &setting : SettingTable::all()) {
        if (!say(QStringLiteral("Getting ") + settingTitle(setting.letter))) {
            out.aborted = true;
            return out;
        }
        const Reply reply = m_link->SendAndWait(SettingTable::query(setting.letter));
        // A lost port or a closing window has said so already: stop without a word.
        if (reply.aborted()) {
            out.aborted = true;
            return out;
        }
        if (reply.endless())
            return endless(setting.letter);
        const SettingTable::Reading reading = SettingTable::readReply(setting.letter, reply.text);
        if (!reply.prompted() || !reading.ok) {
            // What was read so far stays.
            out.failed = setting.letter;
            out.failure = SettingTable::readFailure(setting.letter, reply.text, reading, reply.timedOut());
            say(out.failure);
            out.aborted = m_link->operationAborted();
            return out;
        }
        out.readings.insert(setting.letter, reading);
        emit settingRead(setting.letter, reading);
    }
    out.complete = true;
    say(QStringLiteral("All Settings Received"));
    out.aborted = m_link->operationAborted();
    return out;
}

WriteOutcome KavoSession::writeSettings(const std::function<QString(char letter)> &settingString)
{
    using Result = WriteOutcome::Result;
    WriteOutcome out;
    const auto aborted = [&] {
        out.result = Result::Aborted;
        return out;
    };

    // Without a complete set some setting strings are still empty: send nothing rather
    // than empty lines or a half set of settings.
    QStringList missing;
    for (const char letter : std::string_view(SettingTable::WriteOrder))
        if (settingString(letter).isEmpty())
            missing << SettingTable::nameOf(letter);
    if (!missing.isEmpty()) {
        out.result = Result::NotRead;
        out.problems << QStringLiteral("Nothing written: the settings must be read first (no value for %1)")
                            .arg(missing.join(QStringLiteral(", ")));
        say(out.problems.constFirst());
        return out;
    }

    if (!m_link->quietLine()) {
        if (m_link->operationAborted())
            return aborted();
        out.result = Result::Endless;
        out.messages << endlessText();
        out.problems << endlessText();
        say(endlessText());
        return out;
    }

    bool bitRateStored = false;
    int moduleRate = -1;
    for (const char letter : std::string_view(SettingTable::WriteOrder)) {
        if (!say(QStringLiteral("Setting ") + settingTitle(letter)))
            return aborted();
        // Taken now: an edit made while earlier rows were sent is stored too.
        const QString command = settingString(letter);
        const Reply reply = m_link->SendAndWait(command.toLatin1());
        if (reply.aborted())
            return aborted();
        if (reply.endless()) {
            // The rest is not sent: whatever listens there is no Kavo.
            out.result = Result::Endless;
            out.notStored << settingTitle(letter) + QStringLiteral(" (no prompt)");
            out.problems << endlessText();
            out.messages << endlessText();
            say(endlessText());
            return m_link->operationAborted() ? aborted() : out;
        }
        // The module takes a setting with its prompt alone; anything else refuses it.
        const bool stored = reply.bare();
        if (!stored)
            out.notStored << settingTitle(letter)
                                 + (reply.timedOut() ? QStringLiteral(" (no answer)")
                                                     : QStringLiteral(" (reply '%1')").arg(quoted(reply.text)));
        if (letter == 'D') {
            bitRateStored = stored;
            if (const auto d = SettingTable::parseSettingString(command, nullptr); d && d->letter == 'D')
                moduleRate = d->value;
        }
    }
    if (!out.notStored.isEmpty())
        out.problems << QStringLiteral("Not stored: ") + out.notStored.join(QStringLiteral(", "));

    const QList<qint32> &rates = SettingTable::bitRates();
    if (moduleRate >= 0 && rates.at(moduleRate) != bitRate()) {
        if (!bitRateStored) {
            // The module keeps its old rate, so the PC port must stay where it is.
            out.problems << QStringLiteral("PC COM bit rate left at %1 bps").arg(bitRate());
        } else {
            if (!say(QStringLiteral("Changing PC COM bit rate to match new setting")))
                return aborted();
            const int port = commPort();
            closePort();
            out.rateIndex = moduleRate;
            emit rateSelected(moduleRate);
            const qint32 rate = rates.at(moduleRate);
            const PortOpening opening = openPort(port, rate);
            if (!opening.message.isEmpty())
                out.messages << opening.message;
            if (!opening.open) {
                out.portClosed = true;
                out.problems << QStringLiteral("COM%1 could not be reopened at %2 bps; not connected").arg(port).arg(rate);
            } else if (!m_link->ProbeDevice()) {
                if (m_link->operationAborted())
                    return aborted();
                out.problems << QStringLiteral("the Kavo does not answer at %1 bps").arg(rate);
            }
            if (m_link->operationAborted())
                return aborted();
        }
    }

    out.result = out.problems.isEmpty() ? Result::Stored : Result::NotStored;
    say(out.problems.isEmpty() ? QStringLiteral("All Settings Stored") : out.problems.join(QStringLiteral("; ")));
    if (m_link->operationAborted())
        return aborted();
    return out;
}
