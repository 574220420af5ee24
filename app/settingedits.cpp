// The setting edits: each control of a setting tells the settings model what the user set,
// and the model composes the setting string by its rules (the volume lock, the bass boost
// switched off without losing its values); the controls then show what the model holds.
// Nothing is sent to the module: Write sends the setting strings.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>

#include "app/frmserialdata.h"

namespace {

// Most spinners show the distance of their position from their maximum, so the number
// grows as the thumb moves up.
int shownNumber(const QScrollBar *spinner)
{
    return spinner->maximum() - spinner->value();
}

} // namespace

void frmSerialData::lstKAVOBPS_Click()
{
    // Only the setting string changes: the PC port and the module follow on Write.
    if (lstKAVOBPS->currentIndex() >= 0)
        m_settings->setValue('D', lstKAVOBPS->currentIndex());
}

void frmSerialData::lstInputStyle_Click()
{
    if (lstInputStyle->currentIndex() >= 0)
        m_settings->setValue('S', lstInputStyle->currentIndex());
}

void frmSerialData::vscWriteTimeout_Change()
{
    m_settings->setValue('T', shownNumber(vscWriteTimeout));
}

void frmSerialData::vscFileOffset_Change()
{
    m_settings->setValue('N', shownNumber(vscFileOffset));
}

void frmSerialData::vscLoopCount_Change()
{
    m_settings->setValue('O', shownNumber(vscLoopCount));
}

void frmSerialData::chkBusyIndicator_Click()
{
    m_settings->setValue('H', chkBusyIndicator->isChecked() ? 1 : 0);
}

void frmSerialData::chkUninterrupted_Click()
{
    m_settings->setValue('U', chkUninterrupted->isChecked() ? 1 : 0);
}

// Volume: both channels share one setting string; "Same as L" locks the right channel to
// the left one and makes the string carry the single value. The volume spinners show their
// position as it is, 0 (loudest) at the top.
void frmSerialData::vscVolumeL_Change()
{
    m_settings->setVolumeLeft(vscVolumeL->value());
}

void frmSerialData::vscVolumeR_Change()
{
    m_settings->setVolumeRight(vscVolumeR->value());
}

void frmSerialData::chkVolumeLocked_Click()
{
    m_settings->setVolumeLocked(chkVolumeLocked->isChecked());
}

// Bass boost: the frequency step and the boost make one byte; "Bass Boost:" switches the
// boost off without moving the spinners.
void frmSerialData::vscBBFreq_Change()
{
    m_settings->setFrequencyStep(shownNumber(vscBBFreq));
}

void frmSerialData::vscBBBoost_Change()
{
    m_settings->setBoost(shownNumber(vscBBBoost));
}

void frmSerialData::chkBassBoost_Click()
{
    m_settings->setBassBoostOn(chkBassBoost->isChecked());
}

namespace {

// Which field of the model a number box shows.
std::optional<ModuleSettings::Field> fieldOf(const QString &box)
{
    using F = ModuleSettings::Field;
    static const QMap<QString, F> fields = {
        {QStringLiteral("txtWriteTimeout"), F::WriteTimeout}, {QStringLiteral("txtFileOffset"), F::FileOffset},
        {QStringLiteral("txtVolumeL"), F::VolumeLeft},        {QStringLiteral("txtVolumeR"), F::VolumeRight},
        {QStringLiteral("txtLoopCount"), F::LoopCount},       {QStringLiteral("txtBBFreq"), F::Frequency},
        {QStringLiteral("txtBBBoost"), F::Boost},
    };
    const auto it = fields.constFind(box);
    return it == fields.cend() ? std::nullopt : std::optional<F>(*it);
}

} // namespace

// A number as the box shows it (the frequency in Hz) into the model.
void frmSerialData::applyTyped(QLineEdit *box, int shown)
{
    using F = ModuleSettings::Field;
    switch (*fieldOf(box->objectName())) {
    case F::WriteTimeout: m_settings->setValue('T', shown); break;
    case F::FileOffset: m_settings->setValue('N', shown); break;
    case F::LoopCount: m_settings->setValue('O', shown); break;
    case F::VolumeLeft: m_settings->setVolumeLeft(shown); break;
    case F::VolumeRight: m_settings->setVolumeRight(shown); break;
    case F::Frequency: m_settings->setFrequencyStep(shown / ModuleSettings::step(F::Frequency)); break;
    case F::Boost: m_settings->setBoost(shown); break;
    }
}

// A typed number. Only what the user typed is looked at ("typed" is set by the box's
// textEdited, which the program's own changes do not raise). A good number goes into the
// model as a spinner's move would put it there; anything else is refused on the status
// line with the range, and the box shows the setting's number again (or stays empty while
// the setting has none).
void frmSerialData::numberBoxTyped(QLineEdit *box)
{
    if (!box->property("typed").toBool() || box->isReadOnly() || m_closing)
        return;
    box->setProperty("typed", false);
    const std::optional<ModuleSettings::Field> field = fieldOf(box->objectName());
    if (!field)
        return;
    const ModuleSettings::Typed typed = ModuleSettings::checkTyped(*field, box->text());
    if (!typed.ok) {
        const char letter = *field == ModuleSettings::Field::VolumeLeft || *field == ModuleSettings::Field::VolumeRight ? 'V'
                            : *field == ModuleSettings::Field::Frequency || *field == ModuleSettings::Field::Boost   ? 'B'
                            : *field == ModuleSettings::Field::WriteTimeout                                         ? 'T'
                            : *field == ModuleSettings::Field::FileOffset                                           ? 'N'
                                                                                                                    : 'O';
        showSetting(letter);
        // After Enter the user is still in the box: ready for the next try.
        if (box->hasFocus())
            box->selectAll();
        m_rangeError = typed.refusal;
        ShowStatus(typed.refusal);
        return;
    }
    clearRangeError();
    applyTyped(box, typed.value);
}

void frmSerialData::numberBoxStepped(QLineEdit *box, int steps)
{
    if (box->isReadOnly() || m_closing)
        return;
    const std::optional<ModuleSettings::Field> field = fieldOf(box->objectName());
    if (!field)
        return;
    box->setProperty("typed", false);
    // From the number the box shows (0 while empty), one step up or down, within range.
    const int from = box->text().toInt();
    const int by = ModuleSettings::step(*field);
    const int to = std::clamp(from + steps * by, 0, ModuleSettings::highest(*field));
    clearRangeError();
    applyTyped(box, to);
}

void frmSerialData::clearRangeError()
{
    if (!m_rangeError.isEmpty() && StatusPanel[2]->text() == m_rangeError)
        ShowStatus(QString());
    m_rangeError.clear();
}
