// The nine settings in the window: the controls show the settings model, reading fills the
// model on the session's thread, and Write sends what the model holds as each row goes out.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <memory>

#include "app/onsession.h"

namespace {

// A spinner whose number is its maximum minus its position.
void setSpinnerNumber(QScrollBar *spinner, int number)
{
    const QSignalBlocker quiet(spinner);
    spinner->setValue(spinner->maximum() - number);
}

void setPosition(QScrollBar *spinner, int position)
{
    const QSignalBlocker quiet(spinner);
    spinner->setValue(position);
}

void setIndex(QComboBox *list, int index)
{
    const QSignalBlocker quiet(list);
    list->setCurrentIndex(index);
}

void setChecked(QCheckBox *box, bool checked)
{
    const QSignalBlocker quiet(box);
    box->setChecked(checked);
}

// A number box shows a number once its setting has a value, and nothing before.
void setNumber(QLineEdit *box, std::optional<int> number)
{
    box->setText(number ? QString::number(*number) : QString());
}

} // namespace

// The controls of one setting as the model holds it, raising no handler: an unset setting
// shows its designed start (empty boxes, spinners where they start).
void frmSerialData::showSetting(char letter)
{
    const QString text = m_settings->settingString(letter);
    const bool set = !text.isEmpty();
    const std::optional<int> value = m_settings->value(letter);
    switch (letter) {
    case 'D':
        setIndex(lstKAVOBPS, value.value_or(-1));
        outKAVOBPS->setText(text);
        break;
    case 'S':
        setIndex(lstInputStyle, value.value_or(-1));
        outInputStyle->setText(text);
        break;
    case 'T':
        setSpinnerNumber(vscWriteTimeout, value.value_or(0));
        setNumber(txtWriteTimeout, value);
        outWriteTimeout->setText(text);
        break;
    case 'N':
        setSpinnerNumber(vscFileOffset, value.value_or(0));
        setNumber(txtFileOffset, value);
        outFileOffset->setText(text);
        break;
    case 'O':
        setSpinnerNumber(vscLoopCount, value.value_or(0));
        setNumber(txtLoopCount, value);
        outLoopCount->setText(text);
        break;
    case 'H':
        setChecked(chkBusyIndicator, value.value_or(0) == 1);
        outBusyIndicator->setText(text);
        break;
    case 'U':
        setChecked(chkUninterrupted, value.value_or(0) == 1);
        outUninterrupted->setText(text);
        break;
    case 'V': {
        const bool locked = m_settings->volumeLocked();
        setChecked(chkVolumeLocked, locked);
        vscVolumeR->setEnabled(!locked);
        // While the right channel follows the left one, its number cannot be typed.
        txtVolumeR->setReadOnly(locked);
        setPosition(vscVolumeL, m_settings->volumeLeft());
        setPosition(vscVolumeR, m_settings->volumeRight());
        setNumber(txtVolumeL, set ? std::optional<int>(m_settings->volumeLeft()) : std::nullopt);
        setNumber(txtVolumeR, set ? std::optional<int>(m_settings->volumeRight()) : std::nullopt);
        outVolume->setText(text);
        break;
    }
    case 'B':
        setSpinnerNumber(vscBBFreq, m_settings->frequencyStep());
        setSpinnerNumber(vscBBBoost, m_settings->boost());
        setNumber(txtBBFreq, set ? std::optional<int>(m_settings->frequencyStep() * 10) : std::nullopt);
        setNumber(txtBBBoost, set ? std::optional<int>(m_settings->boost()) : std::nullopt);
        setChecked(chkBassBoost, m_settings->bassBoostOn());
        outBassBoost->setText(text);
        break;
    }
    updateButtons();
}

void frmSerialData::ReadAllSettings(std::function<void()> then)
{
    // The settings arrive in the model on the session's thread, one by one, and the
    // controls follow them.
    onSession<ReadOutcome>([](KavoSession &session) { return session.readSettings(); },
                           [this, then](const ReadOutcome &outcome) {
                               if (outcome.aborted() || m_closing) {
                                   then();
                                   return;
                               }
                               // A read that stopped leaves the settings it did not read empty:
                               // what they showed before is not what the module holds now.
                               if (!outcome.complete() && outcome.failed) {
                                   bool unread = false;
                                   for (const SettingTable::Setting &s : SettingTable::all()) {
                                       unread = unread || s.letter == outcome.failed;
                                       if (unread)
                                           m_settings->clear(s.letter);
                                   }
                               }
                               // What the module holds: nothing of a settings file is left to keep.
                               m_settingsFromFile.clear();
                               noteSettingsBaseline();
                               showMessages(outcome.messages, then);
                           });
}

void frmSerialData::cmdReadSettings_Click()
{
    if (!beginOperation(cmdReadSettings))
        return;
    ReadAllSettings([this] { endOperation(); });
}

void frmSerialData::WriteAllSettings(std::function<void(bool written)> then)
{
    // Each row is taken from the model at the moment it is sent (an edit made meanwhile
    // reaches the rows not sent yet); with every row taken, that is what the module holds.
    auto sent = std::make_shared<SettingsFile::Strings>();
    onSession<WriteOutcome>(
        [settings = m_settings, sent](KavoSession &session) {
            return session.writeSettings([&](char letter) {
                const QString text = settings->settingString(letter);
                sent->insert(letter, text);
                return text;
            });
        },
        [this, then, sent](const WriteOutcome &outcome) {
            if (outcome.aborted() || m_closing) {
                then(false);
                return;
            }
            const bool stored = outcome.result == WriteOutcome::Result::Stored;
            if (stored) {
                m_settingsFromFile.clear();
                m_baseline = *sent;
            }
            // Without a port there is no connection.
            if (outcome.portClosed)
                setConnectedState(false);
            showMessages(outcome.messages, [then, stored] { then(stored); });
        });
}

void frmSerialData::cmdWriteSettings_Click()
{
    if (!beginOperation(cmdWriteSettings))
        return;
    WriteAllSettings([this](bool) { endOperation(); });
}

bool frmSerialData::unsavedEdits() const
{
    return m_settings->strings() != m_baseline;
}

void frmSerialData::noteSettingsBaseline()
{
    m_baseline = m_settings->strings();
}
