// The nine settings in the window: what the session reads goes into the controls, and what
// the setting strings say goes to the session to be written.
#include "app/frmserialdata.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>

namespace {

using SettingTable::Reading;

// A spinner that shows maximum − position is set to show `value`.
void setSpinner(QScrollBar *spinner, int value)
{
    spinner->setValue(spinner->maximum() - value);
}

} // namespace

QLabel *frmSerialData::settingStringLabel(char letter) const
{
    switch (letter) {
    case 'D': return outKAVOBPS;
    case 'T': return outWriteTimeout;
    case 'S': return outInputStyle;
    case 'N': return outFileOffset;
    case 'H': return outBusyIndicator;
    case 'V': return outVolume;
    case 'O': return outLoopCount;
    case 'B': return outBassBoost;
    case 'U': return outUninterrupted;
    }
    return nullptr;
}

SettingsFile::Strings frmSerialData::settingStrings() const
{
    SettingsFile::Strings strings;
    for (const SettingTable::Setting &s : SettingTable::all())
        if (const QString text = settingStringLabel(s.letter)->text(); !text.isEmpty())
            strings.insert(s.letter, text);
    return strings;
}

// Puts a setting read from the module into its controls. Setting a control raises its
// handler when the value changes; the handler is then run once more in any case, so
// the number box and the setting string always show what was read.
void frmSerialData::onSettingRead(char letter, const Reading &r)
{
    switch (letter) {
    case 'D':
        // The list's own selection event composes the string when the index changes;
        // an unchanged index already has its string.
        lstKAVOBPS->setCurrentIndex(r.value);
        break;
    case 'T':
        setSpinner(vscWriteTimeout, r.value);
        vscWriteTimeout_Change();
        break;
    case 'S':
        lstInputStyle->setCurrentIndex(r.value);
        break;
    case 'N':
        setSpinner(vscFileOffset, r.value);
        vscFileOffset_Change();
        break;
    case 'H':
        chkBusyIndicator->setChecked(r.value == 1);
        chkBusyIndicator_Click();
        break;
    case 'V':
        // Two different channels cannot stand locked together: Write would then send the
        // left value for both and change the module's right channel. One value for both
        // leaves "Same as L" as the user set it.
        if (r.right != r.value)
            chkVolumeLocked->setChecked(false);
        vscVolumeL->setValue(r.value);
        vscVolumeR->setValue(r.right);
        vscVolumeL_Change();
        vscVolumeR_Change();
        break;
    case 'O':
        setSpinner(vscLoopCount, r.value);
        vscLoopCount_Change();
        break;
    case 'B':
        setSpinner(vscBBFreq, r.step());
        setSpinner(vscBBBoost, r.boost());
        vscBBFreq_Change();   // runs vscBBBoost_Change, which sets "Bass Boost:"
        break;
    case 'U':
        chkUninterrupted->setChecked(r.value == 1);
        chkUninterrupted_Click();
        break;
    }
}

// As the user would set it: a setting file's line becomes the same setting string.
void frmSerialData::putIntoControls(const SettingTable::Stored &stored)
{
    switch (stored.letter) {
    case 'V': {
        // One value: both channels locked together; two values: each channel its own.
        const bool locked = !stored.right.has_value();
        chkVolumeLocked->setChecked(locked);
        vscVolumeL->setValue(stored.value);
        if (!locked)
            vscVolumeR->setValue(*stored.right);
        vscVolumeL_Change();
        if (!locked)
            vscVolumeR_Change();
        break;
    }
    case 'B':
        if (stored.value == 0) {
            // Off: the spinners keep their places.
            chkBassBoost->setChecked(false);
            chkBassBoost_Click();
        } else {
            setSpinner(vscBBFreq, stored.value % 16);
            setSpinner(vscBBBoost, stored.value / 16);
            vscBBFreq_Change();
        }
        break;
    default: {
        Reading r;
        r.ok = true;
        r.value = stored.value;
        onSettingRead(stored.letter, r);
        if (stored.letter == 'D')
            lstKAVOBPS_Click();
        else if (stored.letter == 'S')
            lstInputStyle_Click();
        break;
    }
    }
}

bool frmSerialData::ReadAllSettings()
{
    const ReadOutcome outcome = session->readSettings();
    if (outcome.aborted)
        return false;
    // A read that stopped leaves the settings it did not read empty: what they showed
    // before is not what the module holds now.
    if (!outcome.complete && outcome.failed) {
        bool unread = false;
        for (const SettingTable::Setting &s : SettingTable::all()) {
            unread = unread || s.letter == outcome.failed;
            if (unread)
                clearSetting(s.letter);
        }
    }
    // What the module holds: nothing of a settings file is left to keep.
    m_settingsFromFile.clear();
    noteSettingsBaseline();
    updateButtons();
    showMessages(outcome.messages);
    return outcome.complete;
}

void frmSerialData::cmdReadSettings_Click()
{
    OperationGuard operation(this, cmdReadSettings);
    if (!operation.acquired())
        return;
    ReadAllSettings();
}

void frmSerialData::WriteAllSettings()
{
    // Each row is taken from its label at the moment it is sent; with every row taken,
    // that is what the module now holds.
    SettingsFile::Strings sent;
    const WriteOutcome outcome = session->writeSettings([this, &sent](char letter) {
        const QString text = settingStringLabel(letter)->text();
        sent.insert(letter, text);
        return text;
    });
    if (outcome.result == WriteOutcome::Result::Aborted)
        return;
    if (outcome.result == WriteOutcome::Result::Stored) {
        m_settingsFromFile.clear();
        m_baseline = sent;
    }
    // Without a port there is no connection.
    if (outcome.portClosed)
        setConnectedState(false);
    showMessages(outcome.messages);
}

void frmSerialData::cmdWriteSettings_Click()
{
    OperationGuard operation(this, cmdWriteSettings);
    if (!operation.acquired())
        return;
    WriteAllSettings();
}
