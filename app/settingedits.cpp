// The setting edits: each control of a setting keeps its number box and its setting string
// up to date. They run for the user's edits, for the read's changes and when one calls
// another; they only compute text and never talk to the module (Write sends the strings).
#include "app/frmserialdata.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>

#include "settings/settingtable.h"

using SettingTable::setString;

namespace {

// Most spinners show the distance of their position from their maximum, so the number
// grows as the thumb moves up.
int shownNumber(const QScrollBar *spinner)
{
    return spinner->maximum() - spinner->value();
}

// A spinner's number into its box, then the setting string from the box.
void showSpinner(const QScrollBar *spinner, QLineEdit *box, QLabel *out, char letter)
{
    box->setText(QString::number(shownNumber(spinner)));
    out->setText(setString(letter, box->text().toInt()));
}

void showList(const QComboBox *list, QLabel *out, char letter)
{
    // No selection composes no command: an empty setting string is never written.
    if (list->currentIndex() < 0)
        out->clear();
    else
        out->setText(setString(letter, list->currentIndex()));
}

} // namespace

void frmSerialData::lstKAVOBPS_Click()
{
    // Only the setting string changes: the PC port and the module follow on Write.
    showList(lstKAVOBPS, outKAVOBPS, 'D');
}

void frmSerialData::lstInputStyle_Click()
{
    showList(lstInputStyle, outInputStyle, 'S');
}

void frmSerialData::vscWriteTimeout_Change()
{
    showSpinner(vscWriteTimeout, txtWriteTimeout, outWriteTimeout, 'T');
}

void frmSerialData::vscFileOffset_Change()
{
    showSpinner(vscFileOffset, txtFileOffset, outFileOffset, 'N');
}

void frmSerialData::vscLoopCount_Change()
{
    showSpinner(vscLoopCount, txtLoopCount, outLoopCount, 'O');
}

void frmSerialData::chkBusyIndicator_Click()
{
    outBusyIndicator->setText(setString('H', chkBusyIndicator->isChecked() ? 1 : 0));
}

void frmSerialData::chkUninterrupted_Click()
{
    outUninterrupted->setText(setString('U', chkUninterrupted->isChecked() ? 1 : 0));
}

// Volume: both channels share one setting string; "Same as L" locks the right channel to
// the left one and makes the string carry the single value.
void frmSerialData::vscVolumeL_Change()
{
    txtVolumeL->setText(QString::number(vscVolumeL->value()));
    if (chkVolumeLocked->isChecked()) {
        outVolume->setText(SettingTable::volumeString(txtVolumeL->text().toInt(), std::nullopt));
        // Moves the disabled right spinner along, which runs vscVolumeR_Change.
        vscVolumeR->setValue(vscVolumeL->value());
    } else {
        // The right spinner's position is what its box shows (and stands for the right
        // channel even before its box was first filled).
        outVolume->setText(SettingTable::volumeString(txtVolumeL->text().toInt(), vscVolumeR->value()));
    }
}

void frmSerialData::vscVolumeR_Change()
{
    txtVolumeR->setText(QString::number(vscVolumeR->value()));
    if (!chkVolumeLocked->isChecked())
        outVolume->setText(SettingTable::volumeString(vscVolumeL->value(), txtVolumeR->text().toInt()));
}

void frmSerialData::chkVolumeLocked_Click()
{
    if (chkVolumeLocked->isChecked()) {
        vscVolumeR->setEnabled(false);
        vscVolumeR->setValue(vscVolumeL->value());
        vscVolumeL_Change();
    } else {
        // The setting string keeps its single value until a volume spinner moves.
        vscVolumeR->setEnabled(true);
    }
}

// Bass boost: the frequency step and the boost make one byte; "Bass Boost:" switches the
// boost off without moving the spinners.
void frmSerialData::vscBBFreq_Change()
{
    txtBBFreq->setText(QString::number(shownNumber(vscBBFreq) * 10));
    vscBBBoost_Change();
}

void frmSerialData::vscBBBoost_Change()
{
    txtBBBoost->setText(QString::number(shownNumber(vscBBBoost)));
    if (txtBBFreq->text().isEmpty())
        txtBBFreq->setText(QStringLiteral("0"));
    const int boost = txtBBBoost->text().toInt();
    outBassBoost->setText(SettingTable::bassBoostString(true, boost, shownNumber(vscBBFreq)));
    // Raises chkBassBoost_Click when the box changes.
    chkBassBoost->setChecked(!(boost == 0 && txtBBFreq->text().toInt() == 0));
}

void frmSerialData::chkBassBoost_Click()
{
    if (chkBassBoost->isChecked())
        vscBBBoost_Change();
    else
        outBassBoost->setText(SettingTable::bassBoostString(false, 0, 0));
}
