// Reading the module's nine settings, and writing nine setting strings back, the bit rate
// last.
#include <optional>
#include <string_view>

#include "session/kavosession.h"

namespace {

QString settingTitle(char letter)
{
    return QStringLiteral("%1 - '%2'").arg(SettingTable::nameOf(letter), QString(QLatin1Char(letter)));
}

// Why a setting's answer does not take it: " (no answer)", " (reply 'E05')".
QString notStoredWhy(const Reply &reply)
{
    return reply.timedOut() ? QStringLiteral(" (no answer)")
                            : QStringLiteral(" (reply '%1')").arg(KavoSession::quoted(reply.text));
}

} // namespace

ReadOutcome KavoSession::readSettings()
{
    using Result = ReadOutcome::Result;
    ReadOutcome out;
    const auto aborted = [&] {
        out.result = Result::Aborted;
        return out;
    };
    if (portGone())
        return aborted();
    const auto endless = [&](char letter) {
        out.result = Result::Endless;
        out.failed = letter;
        out.failure = endlessText();
        out.messages << endlessText();
        say(out.failure);
        return m_link->operationAborted() ? aborted() : out;
    };
    if (!m_link->quietLine())
        return m_link->operationAborted() ? aborted() : endless(SettingTable::all().front().letter);
    for (const SettingTable::Setting &setting : SettingTable::all()) {
        if (!say(QStringLiteral("Getting ") + settingTitle(setting.letter)))
            return aborted();
        const Reply reply = m_link->SendAndWait(SettingTable::query(setting.letter));
        // A lost port or a closing window has said so already: stop without a word.
        if (reply.aborted())
            return aborted();
        if (reply.endless())
            return endless(setting.letter);
        const SettingTable::Reading reading = SettingTable::readReply(setting.letter, reply.text);
        if (!reply.prompted() || !reading.ok) {
            // What was read so far stays.
            out.result = Result::Stopped;
            out.failed = setting.letter;
            out.failure = SettingTable::readFailure(setting.letter, reply.text, reading, reply.timedOut());
            say(out.failure);
            return m_link->operationAborted() ? aborted() : out;
        }
        out.readings.insert(setting.letter, reading);
        emit settingRead(setting.letter, reading);
    }
    out.result = Result::Complete;
    say(QStringLiteral("All Settings Received"));
    return m_link->operationAborted() ? aborted() : out;
}

WriteOutcome KavoSession::writeSettings(const std::function<QString(char letter)> &settingString)
{
    using Result = WriteOutcome::Result;
    WriteOutcome out;
    const auto aborted = [&] {
        out.result = Result::Aborted;
        return out;
    };
    if (portGone())
        return aborted();

    // Without a complete set some setting strings are still empty: send nothing rather
    // than empty lines or a half set of settings.
    QStringList missing;
    for (const char letter : std::string_view(SettingTable::WriteOrder))
        if (settingString(letter).isEmpty())
            missing << SettingTable::nameOf(letter);
    if (!missing.isEmpty()) {
        out.result = Result::NotRead;
        out.problems << QStringLiteral("Nothing written: no value for %1 (press Read, set them, or open a settings file)")
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

    Reply bitRateReply;
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
        if (letter == 'D') {
            bitRateReply = reply;
            if (const auto d = SettingTable::parseSettingString(command, nullptr); d && d->letter == 'D')
                moduleRate = d->value;
        }
        // The module takes a setting with its prompt alone; anything else refuses it. The
        // bit rate is judged by where the module answers afterwards when it changes.
        if (reply.bare())
            out.stored += letter;
        else
            out.notStored << settingTitle(letter) + notStoredWhy(reply);
    }

    const QList<qint32> &rates = SettingTable::bitRates();
    const qint32 oldRate = bitRate();
    if (moduleRate >= 0 && rates.at(moduleRate) != oldRate) {
        const qint32 newRate = rates.at(moduleRate);
        const QString bitRateRow = settingTitle('D') + notStoredWhy(bitRateReply);
        if (bitRateReply.prompted() && bitRateReply.text.startsWith('E')) {
            // Refused: the module keeps its old rate, so the PC port stays where it is.
            out.problems << QStringLiteral("Not stored: ") + out.notStored.join(QStringLiteral(", "))
                         << QStringLiteral("PC COM bit rate left at %1 bps").arg(oldRate);
        } else {
            // Taken, or answered late or oddly: the module may have moved either way, so
            // the PC port follows it and looks; when nothing answers there, it looks back
            // at the old rate, and stays where the module answers.
            if (!say(QStringLiteral("Changing PC COM bit rate to match new setting")))
                return aborted();
            // The device that was open, as it was chosen.
            const ComPorts::Port port = m_link->port();
            const auto moveTo = [&](qint32 rate) -> std::optional<bool> {
                closePort();
                const PortOpening opening = openPort(port, rate);
                if (!opening.message.isEmpty())
                    out.messages << opening.message;
                if (!opening.open)
                    return std::nullopt;
                const bool answered = m_link->ProbeDevice();
                return answered;
            };
            std::optional<bool> atNew = moveTo(newRate);
            if (m_link->operationAborted())
                return aborted();
            qint32 settled = newRate;
            if (!atNew) {
                out.portClosed = true;
                out.problems << QStringLiteral("COM%1 could not be reopened at %2 bps; not connected").arg(port.number).arg(newRate);
            } else if (*atNew) {
                // It answers at the new rate: the bit rate was stored, whatever its answer.
                if (out.notStored.removeOne(bitRateRow))
                    out.stored += 'D';
            } else {
                if (!say(QStringLiteral("The Kavo does not answer at %1 bps; looking for it at %2 bps").arg(newRate).arg(oldRate)))
                    return aborted();
                const std::optional<bool> atOld = moveTo(oldRate);
                if (m_link->operationAborted())
                    return aborted();
                if (atOld && *atOld) {
                    settled = oldRate;
                    out.stored.replace("D", "");
                    out.problems << QStringLiteral("the Kavo answers at %1 bps, not at %2 bps: PC COM bit rate left at %1 bps")
                                        .arg(oldRate)
                                        .arg(newRate);
                } else {
                    // Nowhere: back to the rate it was told to use, as the PC port would
                    // be if it had answered there.
                    const std::optional<bool> again = moveTo(newRate);
                    if (m_link->operationAborted())
                        return aborted();
                    if (!again) {
                        out.portClosed = true;
                        out.problems << QStringLiteral("COM%1 could not be reopened at %2 bps; not connected")
                                            .arg(port.number)
                                            .arg(newRate);
                    } else {
                        out.problems << QStringLiteral("the Kavo does not answer at %1 bps, nor at %2 bps")
                                            .arg(newRate)
                                            .arg(oldRate);
                    }
                }
            }
            if (!out.portClosed) {
                out.rate = settled;
                emit bitRateChanged(settled);
            }
            if (!out.notStored.isEmpty())
                out.problems.prepend(QStringLiteral("Not stored: ") + out.notStored.join(QStringLiteral(", ")));
        }
    } else if (!out.notStored.isEmpty()) {
        out.problems << QStringLiteral("Not stored: ") + out.notStored.join(QStringLiteral(", "));
    }

    out.result = out.problems.isEmpty() ? Result::Stored : Result::NotStored;
    say(out.problems.isEmpty() ? QStringLiteral("All Settings Stored") : out.problems.join(QStringLiteral("; ")));
    if (m_link->operationAborted())
        return aborted();
    return out;
}
