// Reading all nine settings from the module into the controls, and writing the nine
// setting strings back, the bit rate last.
#include "app/frmserialdata.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QScrollBar>
#include <QStringList>
#include <string_view>

#include "settings/settingtable.h"

namespace {

using SettingTable::Reading;

// The label that shows a setting's setting string.
QLabel *settingStringOf(frmSerialData *w, char letter)
{
    switch (letter) {
    case 'D': return w->outKAVOBPS;
    case 'T': return w->outWriteTimeout;
    case 'S': return w->outInputStyle;
    case 'N': return w->outFileOffset;
    case 'H': return w->outBusyIndicator;
    case 'V': return w->outVolume;
    case 'O': return w->outLoopCount;
    case 'B': return w->outBassBoost;
    case 'U': return w->outUninterrupted;
    }
    return nullptr;
}

// A spinner that shows maximum − position is set to show `value`, then its handler runs.
void setSpinner(QScrollBar *spinner, int value)
{
    spinner->setValue(spinner->maximum() - value);
}

// Puts a setting read from the module into its controls. Setting a control raises its
// handler when the value changes; the handler is then run once more in any case, so
// the number box and the setting string always show what was read.
void putIntoControls(frmSerialData *w, char letter, const Reading &r)
{
    switch (letter) {
    case 'D':
        // The list's own selection event composes the string when the index changes;
        // an unchanged index already has its string.
        w->lstKAVOBPS->setCurrentIndex(r.value);
        break;
    case 'T':
        setSpinner(w->vscWriteTimeout, r.value);
        w->vscWriteTimeout_Change();
        break;
    case 'S':
        w->lstInputStyle->setCurrentIndex(r.value);
        break;
    case 'N':
        setSpinner(w->vscFileOffset, r.value);
        w->vscFileOffset_Change();
        break;
    case 'H':
        w->chkBusyIndicator->setChecked(r.value == 1);
        w->chkBusyIndicator_Click();
        break;
    case 'V':
        // "Same as L" is left as the user set it: when checked, the left value is
        // shown and stored for both channels.
        w->vscVolumeL->setValue(r.value);
        w->vscVolumeR->setValue(r.right);
        w->vscVolumeL_Change();
        w->vscVolumeR_Change();
        break;
    case 'O':
        setSpinner(w->vscLoopCount, r.value);
        w->vscLoopCount_Change();
        break;
    case 'B':
        setSpinner(w->vscBBFreq, r.step());
        setSpinner(w->vscBBBoost, r.boost());
        w->vscBBFreq_Change();   // runs vscBBBoost_Change, which sets "Bass Boost:"
        break;
    case 'U':
        w->chkUninterrupted->setChecked(r.value == 1);
        w->chkUninterrupted_Click();
        break;
    }
}

QString settingTitle(char letter)
{
    return QStringLiteral("%1 - '%2'").arg(SettingTable::nameOf(letter), QString(QLatin1Char(letter)));
}

} // namespace

QByteArray frmSerialData::QuerySetting(char letter)
{
    link->BufferIn.clear();
    link->SendText(SettingTable::query(letter) + '\r');
    return link->WaitForPrompt();
}

bool frmSerialData::ReadAllSettings()
{
    for (const SettingTable::Setting &setting : SettingTable::all()) {
        ShowStatus(QStringLiteral("Getting ") + settingTitle(setting.letter));
        if (link->operationAborted())
            return false;
        const QByteArray reply = QuerySetting(setting.letter);
        // A lost port or a closing window has said so already: stop without a word.
        if (link->operationAborted())
            return false;
        const bool timedOut = link->lastWaitTimedOut();
        const Reading reading = SettingTable::readReply(setting.letter, reply);
        if (timedOut || !reading.ok) {
            // What was read so far stays in the controls.
            ShowStatus(SettingTable::readFailure(setting.letter, reply, reading, timedOut));
            return false;
        }
        putIntoControls(this, setting.letter, reading);
    }
    ShowStatus(QStringLiteral("All Settings Received"));
    return true;
}

void frmSerialData::cmdReadSettings_Click()
{
    OperationGuard operation(this);
    if (!operation.acquired())
        return;
    ReadAllSettings();
}

void frmSerialData::WriteAllSettings()
{
    // Without a complete read some setting strings are still empty: send nothing rather
    // than empty lines or a half set of settings.
    QStringList missing;
    for (const char letter : std::string_view(SettingTable::WriteOrder))
        if (settingStringOf(this, letter)->text().isEmpty())
            missing << SettingTable::nameOf(letter);
    if (!missing.isEmpty()) {
        ShowStatus(QStringLiteral("Nothing written: the settings must be read first (no value for %1)")
                       .arg(missing.join(QStringLiteral(", "))));
        return;
    }

    QStringList notStored;
    bool bitRateStored = false;
    for (const char letter : std::string_view(SettingTable::WriteOrder)) {
        ShowStatus(QStringLiteral("Setting ") + settingTitle(letter));
        if (link->operationAborted())
            return;
        // Taken now: an edit made while earlier rows were sent is stored too.
        const QByteArray command = settingStringOf(this, letter)->text().toLatin1();
        link->BufferIn.clear();
        link->SendText(command + '\r');
        const QByteArray reply = link->WaitForPrompt();
        if (link->operationAborted())
            return;
        // The module takes a setting with its prompt alone; anything else refuses it.
        const bool timedOut = link->lastWaitTimedOut();
        const bool stored = !timedOut && reply.trimmed().isEmpty();
        if (!stored)
            notStored << settingTitle(letter)
                             + (timedOut ? QStringLiteral(" (no answer)")
                                         : QStringLiteral(" (reply '%1')").arg(SettingTable::printable(reply)));
        if (letter == 'D')
            bitRateStored = stored;
    }

    QStringList problems;
    if (!notStored.isEmpty())
        problems << QStringLiteral("Not stored: ") + notStored.join(QStringLiteral(", "));

    const int moduleRate = lstKAVOBPS->currentIndex();
    if (moduleRate != lstPCBPS->currentIndex()) {
        if (!bitRateStored) {
            // The module keeps its old rate, so the PC port must stay where it is.
            problems << QStringLiteral("PC COM bit rate left at ") + lstPCBPS->currentText() + QStringLiteral(" bps");
        } else {
            ShowStatus(QStringLiteral("Changing PC COM bit rate to match new setting"));
            if (link->operationAborted())
                return;
            CloseComPort();
            lstPCBPS->setCurrentIndex(moduleRate);
            const int port = PortNumberOf(lstPCCOM->currentText());
            const QString rate = lstPCBPS->currentText();
            if (!OpenComPort(port, rate.toInt())) {
                // OpenComPort has told why; without a port there is no connection.
                setConnectedState(false);
                problems << QStringLiteral("COM%1 could not be reopened at %2 bps; not connected").arg(port).arg(rate);
            } else if (!link->ProbeDevice()) {
                if (link->operationAborted())
                    return;
                problems << QStringLiteral("the Kavo does not answer at %1 bps").arg(rate);
            }
            if (link->operationAborted())
                return;
        }
    }

    ShowStatus(problems.isEmpty() ? QStringLiteral("All Settings Stored") : problems.join(QStringLiteral("; ")));
}

void frmSerialData::cmdWriteSettings_Click()
{
    OperationGuard operation(this);
    if (!operation.acquired())
        return;
    WriteAllSettings();
}
