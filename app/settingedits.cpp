// The setting edits: each control of a setting keeps its number box and its setting string
// up to date. They run for the user's edits, for the read's changes and when one calls
// another; they only compute text and never talk to the module (Write sends the strings).
#include "app/frmserialdata.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <algorithm>
#include <optional>

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
    txtVolumeR->setReadOnly(chkVolumeLocked->isChecked());
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

namespace {

// A number box beside its spinner: which setting it shows, and how its number maps onto the
// spinner's position.
struct NumberBox {
    QLineEdit *box;
    QScrollBar *spinner;
    QLabel *out;
    void (frmSerialData::*change)();
    const char *what;
    const char *unit;   // after the range, e.g. " Hz"
    int scale;          // the box shows the spinner's number times this
    bool fromTop;       // the number is the distance of the position from the maximum

    // The number the spinner's position stands for, and the position for a number.
    int numberAt(int position) const { return (fromTop ? spinner->maximum() - position : position) * scale; }
    int positionFor(int number) const
    {
        const int steps = number / scale;
        return fromTop ? spinner->maximum() - steps : steps;
    }
    int highest() const { return spinner->maximum() * scale; }
};

std::optional<NumberBox> numberBoxOf(frmSerialData *w, const QLineEdit *box)
{
    const NumberBox boxes[] = {
        {w->txtWriteTimeout, w->vscWriteTimeout, w->outWriteTimeout, &frmSerialData::vscWriteTimeout_Change,
         "Write Time-out", "", 1, true},
        {w->txtFileOffset, w->vscFileOffset, w->outFileOffset, &frmSerialData::vscFileOffset_Change,
         "Input File Number Offset", "", 1, true},
        {w->txtVolumeL, w->vscVolumeL, w->outVolume, &frmSerialData::vscVolumeL_Change, "Volume Left", "", 1, false},
        {w->txtVolumeR, w->vscVolumeR, w->outVolume, &frmSerialData::vscVolumeR_Change, "Volume Right", "", 1, false},
        {w->txtLoopCount, w->vscLoopCount, w->outLoopCount, &frmSerialData::vscLoopCount_Change, "Loop Count", "", 1,
         true},
        {w->txtBBFreq, w->vscBBFreq, w->outBassBoost, &frmSerialData::vscBBFreq_Change, "Bass Boost Frequency", " Hz",
         10, true},
        {w->txtBBBoost, w->vscBBBoost, w->outBassBoost, &frmSerialData::vscBBBoost_Change, "Bass Boost", " dB", 1, true},
    };
    for (const NumberBox &b : boxes)
        if (b.box == box)
            return b;
    return std::nullopt;
}

} // namespace

// Moves the spinner to `position`; when it already stands there its handler runs all the
// same, so the box and the setting string show its number.
static void moveSpinner(frmSerialData *w, const NumberBox &entry, int position)
{
    if (entry.spinner->value() != position)
        entry.spinner->setValue(position);   // raises the change handler
    else
        (w->*entry.change)();
}

// A typed number. Only what the user typed is looked at ("typed" is set by the box's
// textEdited, which the program's own changes do not raise). The number is checked against
// the range the box shows; a good one moves the spinner, whose change handler then fills
// the box and composes the setting string as an arrow click would. Anything else is
// refused on the status line, with the range; the spinner and the setting string stay, and
// the box shows the spinner's number again (or stays empty while the setting has no
// setting string yet). A frequency must be a multiple of 10 Hz, the spinner's steps: 45 is
// refused rather than rounded, so that what is written is what was typed.
void frmSerialData::numberBoxTyped(QLineEdit *box)
{
    if (!box->property("typed").toBool() || box->isReadOnly() || m_closing)
        return;
    box->setProperty("typed", false);
    const std::optional<NumberBox> entry = numberBoxOf(this, box);
    if (!entry)
        return;

    const QString typed = box->text().trimmed();
    const QString range = QStringLiteral("(0 to %1%2%3)")
                              .arg(entry->highest())
                              .arg(QLatin1String(entry->unit))
                              .arg(entry->scale > 1 ? QStringLiteral(" in steps of %1").arg(entry->scale) : QString());
    const QString what = QLatin1String(entry->what);

    // Plain decimal digits; a minus sign before them makes a number below the range.
    const bool negative = typed.startsWith(QLatin1Char('-'));
    const QString digits = negative ? typed.mid(1) : typed;
    const bool isNumber = !digits.isEmpty()
                          && std::all_of(digits.cbegin(), digits.cend(),
                                         [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
    bool fits = false;
    const int number = digits.toInt(&fits);   // false beyond the int's range
    QString refusal;
    if (!isNumber)
        refusal = QStringLiteral("%1: '%2' is not a number %3").arg(what, typed, range);
    else if (negative || !fits || number > entry->highest())
        refusal = QStringLiteral("%1: %2 is out of range %3").arg(what, typed, range);
    else if (number % entry->scale != 0)
        refusal = QStringLiteral("%1: %2 is not a multiple of %3 %4").arg(what, typed).arg(entry->scale).arg(range);

    if (!refusal.isEmpty()) {
        box->setText(entry->out->text().isEmpty() ? QString() : QString::number(entry->numberAt(entry->spinner->value())));
        // After Enter the user is still in the box: ready for the next try.
        if (box->hasFocus())
            box->selectAll();
        m_rangeError = refusal;
        ShowStatus(refusal);
        return;
    }
    clearRangeError();
    moveSpinner(this, *entry, entry->positionFor(number));
}

void frmSerialData::numberBoxStepped(QLineEdit *box, int steps)
{
    if (box->isReadOnly() || m_closing)
        return;
    const std::optional<NumberBox> entry = numberBoxOf(this, box);
    if (!entry)
        return;
    box->setProperty("typed", false);
    // From the number shown (the spinner's), one step of the box's scale up or down,
    // within the range.
    const int from = entry->numberAt(entry->spinner->value());
    const int to = std::clamp(from + steps * entry->scale, 0, entry->highest());
    clearRangeError();
    moveSpinner(this, *entry, entry->positionFor(to));
}

void frmSerialData::clearRangeError()
{
    if (!m_rangeError.isEmpty() && StatusPanel[2]->text() == m_rangeError)
        ShowStatus(QString());
    m_rangeError.clear();
}
