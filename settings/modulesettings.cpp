#include "settings/modulesettings.h"

#include <QJsonArray>
#include <QMutexLocker>
#include <algorithm>
#include <string_view>

namespace {

// Where a plain setting keeps its value: its place in the read order.
int slotOf(char letter)
{
    const auto &all = SettingTable::all();
    for (size_t i = 0; i < all.size(); ++i)
        if (all[i].letter == letter)
            return int(i);
    return -1;
}

bool isPlain(char letter)
{
    const SettingTable::Setting *s = SettingTable::find(letter);
    return s && s->kind != SettingTable::Kind::Volume && s->kind != SettingTable::Kind::BassBoost;
}

int clampTo(char letter, int value)
{
    const SettingTable::Setting *s = SettingTable::find(letter);
    return s ? std::clamp(value, s->minimum, s->maximum) : value;
}

constexpr int VolumeMax = 254;
constexpr int NibbleMax = 15;

} // namespace

ModuleSettings::ModuleSettings(QObject *parent)
    : QObject(parent)
{
}

template <typename Edit>
void ModuleSettings::edit(Edit &&change)
{
    QByteArray touched;
    {
        const QMutexLocker locked(&m_lock);
        touched = change(m_values);
    }
    for (const char letter : touched)
        emit changed(letter);
}

QString ModuleSettings::stringOf(const Values &v, char letter) const
{
    switch (letter) {
    case 'V':
        if (!v.volumeSet)
            return QString();
        return SettingTable::volumeString(v.left, v.twoValues ? std::optional<int>(v.right) : std::nullopt);
    case 'B':
        if (!v.bassSet)
            return QString();
        return SettingTable::bassBoostString(v.bassOn, v.boostDb, v.step);
    default: {
        const int slot = slotOf(letter);
        if (slot < 0 || !v.plain[slot])
            return QString();
        return SettingTable::setString(letter, *v.plain[slot]);
    }
    }
}

bool ModuleSettings::has(char letter) const
{
    return !settingString(letter).isEmpty();
}

QString ModuleSettings::settingString(char letter) const
{
    const QMutexLocker locked(&m_lock);
    return stringOf(m_values, letter);
}

SettingsFile::Strings ModuleSettings::strings() const
{
    const QMutexLocker locked(&m_lock);
    SettingsFile::Strings all;
    for (const SettingTable::Setting &s : SettingTable::all())
        if (const QString text = stringOf(m_values, s.letter); !text.isEmpty())
            all.insert(s.letter, text);
    return all;
}

bool ModuleSettings::complete() const
{
    return missing().isEmpty();
}

QStringList ModuleSettings::missing() const
{
    const QMutexLocker locked(&m_lock);
    QStringList names;
    for (const char letter : std::string_view(SettingTable::WriteOrder))
        if (stringOf(m_values, letter).isEmpty())
            names << SettingTable::nameOf(letter);
    return names;
}

std::optional<int> ModuleSettings::value(char letter) const
{
    const QMutexLocker locked(&m_lock);
    const int slot = slotOf(letter);
    return isPlain(letter) && slot >= 0 ? m_values.plain[slot] : std::nullopt;
}

int ModuleSettings::volumeLeft() const
{
    const QMutexLocker locked(&m_lock);
    return m_values.left;
}

int ModuleSettings::volumeRight() const
{
    const QMutexLocker locked(&m_lock);
    return m_values.right;
}

bool ModuleSettings::volumeLocked() const
{
    const QMutexLocker locked(&m_lock);
    return m_values.locked;
}

bool ModuleSettings::bassBoostOn() const
{
    const QMutexLocker locked(&m_lock);
    return m_values.bassOn;
}

int ModuleSettings::boost() const
{
    const QMutexLocker locked(&m_lock);
    return m_values.boostDb;
}

int ModuleSettings::frequencyStep() const
{
    const QMutexLocker locked(&m_lock);
    return m_values.step;
}

void ModuleSettings::setValue(char letter, int value)
{
    if (!isPlain(letter))
        return;
    edit([&](Values &v) {
        v.plain[slotOf(letter)] = clampTo(letter, value);
        return QByteArray(1, letter);
    });
}

void ModuleSettings::setVolumeLeft(int value)
{
    edit([&](Values &v) {
        v.volumeSet = true;
        v.left = std::clamp(value, 0, VolumeMax);
        if (v.locked)
            v.right = v.left;
        else
            v.twoValues = true;
        return QByteArray("V");
    });
}

void ModuleSettings::setVolumeRight(int value)
{
    edit([&](Values &v) {
        if (v.locked)
            return QByteArray();
        v.volumeSet = true;
        v.right = std::clamp(value, 0, VolumeMax);
        v.twoValues = true;
        return QByteArray("V");
    });
}

void ModuleSettings::setVolumeLocked(bool locked)
{
    edit([&](Values &v) {
        v.locked = locked;
        if (locked) {
            v.right = v.left;
            v.twoValues = false;
        }
        return QByteArray("V");
    });
}

void ModuleSettings::setBassBoostOn(bool on)
{
    edit([&](Values &v) {
        v.bassSet = true;
        // Switched on with both at 0 it is off again at once: there is nothing to boost.
        v.bassOn = on && !(v.boostDb == 0 && v.step == 0);
        return QByteArray("B");
    });
}

void ModuleSettings::setBoost(int dB)
{
    edit([&](Values &v) {
        v.bassSet = true;
        v.boostDb = std::clamp(dB, 0, NibbleMax);
        v.bassOn = !(v.boostDb == 0 && v.step == 0);
        return QByteArray("B");
    });
}

void ModuleSettings::setFrequencyStep(int step)
{
    edit([&](Values &v) {
        v.bassSet = true;
        v.step = std::clamp(step, 0, NibbleMax);
        v.bassOn = !(v.boostDb == 0 && v.step == 0);
        return QByteArray("B");
    });
}

void ModuleSettings::take(char letter, const SettingTable::Reading &reading)
{
    if (!reading.ok)
        return;
    edit([&](Values &v) {
        switch (letter) {
        case 'V':
            if (reading.right != reading.value)
                v.locked = false;
            v.volumeSet = true;
            v.left = reading.value;
            v.right = v.locked ? reading.value : reading.right;
            v.twoValues = !v.locked;
            break;
        case 'B':
            v.bassSet = true;
            v.boostDb = reading.boost();
            v.step = reading.step();
            v.bassOn = reading.value != 0;
            break;
        default:
            if (!isPlain(letter))
                return QByteArray();
            v.plain[slotOf(letter)] = reading.value;
            break;
        }
        return QByteArray(1, letter);
    });
}

void ModuleSettings::take(const SettingTable::Stored &stored)
{
    edit([&](Values &v) {
        switch (stored.letter) {
        case 'V':
            v.volumeSet = true;
            v.locked = !stored.right.has_value();
            v.left = stored.value;
            v.right = stored.right.value_or(stored.value);
            v.twoValues = !v.locked;
            break;
        case 'B':
            v.bassSet = true;
            v.bassOn = stored.value != 0;
            if (v.bassOn) {
                v.boostDb = stored.value / 16;
                v.step = stored.value % 16;
            }
            break;
        default:
            if (!isPlain(stored.letter))
                return QByteArray();
            v.plain[slotOf(stored.letter)] = stored.value;
            break;
        }
        return QByteArray(1, stored.letter);
    });
}

void ModuleSettings::take(const SettingsFile::Strings &strings)
{
    for (const SettingTable::Setting &s : SettingTable::all())
        if (const auto stored = SettingTable::parseSettingString(strings.value(s.letter), nullptr))
            take(*stored);
}

void ModuleSettings::clear(char letter)
{
    edit([&](Values &v) {
        switch (letter) {
        case 'V':
            // "Same as L" is the user's choice, not the module's, and stays.
            v.volumeSet = false;
            v.left = v.right = 0;
            v.twoValues = !v.locked;
            break;
        case 'B':
            v.bassSet = false;
            v.bassOn = false;
            v.boostDb = v.step = 0;
            break;
        default:
            if (!isPlain(letter))
                return QByteArray();
            v.plain[slotOf(letter)].reset();
            break;
        }
        return QByteArray(1, letter);
    });
}

void ModuleSettings::clearAll()
{
    for (const SettingTable::Setting &s : SettingTable::all())
        clear(s.letter);
}

QJsonObject ModuleSettings::json(char letter) const
{
    const QMutexLocker locked(&m_lock);
    const QString text = stringOf(m_values, letter);
    if (text.isEmpty())
        return {};
    QJsonObject object;
    object.insert(QStringLiteral("letter"), QString(QLatin1Char(letter)));
    object.insert(QStringLiteral("name"), SettingTable::nameOf(letter));
    switch (letter) {
    case 'V':
        object.insert(QStringLiteral("value"), QJsonArray{m_values.left, m_values.right});
        break;
    case 'B':
        object.insert(QStringLiteral("value"), m_values.bassOn ? m_values.boostDb * 16 + m_values.step : 0);
        break;
    default:
        object.insert(QStringLiteral("value"), *m_values.plain[slotOf(letter)]);
        break;
    }
    object.insert(QStringLiteral("string"), text);
    return object;
}

int ModuleSettings::highest(Field field)
{
    switch (field) {
    case Field::FileOffset: return 32767;
    case Field::Frequency: return NibbleMax * 10;
    case Field::Boost: return NibbleMax;
    default: return 254;
    }
}

int ModuleSettings::step(Field field)
{
    return field == Field::Frequency ? 10 : 1;
}

ModuleSettings::Typed ModuleSettings::checkTyped(Field field, const QString &text)
{
    static const char *const names[] = {"Write Time-out", "Input File Number Offset", "Volume Left", "Volume Right",
                                        "Loop Count", "Bass Boost Frequency", "Bass Boost"};
    const QString what = QLatin1String(names[int(field)]);
    const int top = highest(field);
    const int by = step(field);
    const QString unit = field == Field::Frequency ? QStringLiteral(" Hz") : field == Field::Boost ? QStringLiteral(" dB") : QString();
    const QString range = QStringLiteral("(0 to %1%2%3)")
                              .arg(top)
                              .arg(unit)
                              .arg(by > 1 ? QStringLiteral(" in steps of %1").arg(by) : QString());

    Typed typed;
    const QString trimmed = text.trimmed();
    // Plain decimal digits; a minus sign before them makes a number below the range.
    const bool negative = trimmed.startsWith(QLatin1Char('-'));
    const QString digits = negative ? trimmed.mid(1) : trimmed;
    const bool isNumber = !digits.isEmpty() && std::all_of(digits.cbegin(), digits.cend(), [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    });
    bool fits = false;
    const int number = digits.toInt(&fits);   // false beyond the int's range
    // A typed text is quoted cut short: the status line is no place for a page of digits.
    const QString shown = trimmed.size() > 20 ? trimmed.left(20) + QStringLiteral("...") : trimmed;
    if (!isNumber)
        typed.refusal = QStringLiteral("%1: '%2' is not a number %3").arg(what, shown, range);
    else if (negative || !fits || number > top)
        typed.refusal = QStringLiteral("%1: %2 is out of range %3").arg(what, shown, range);
    else if (number % by != 0)
        typed.refusal = QStringLiteral("%1: %2 is not a multiple of %3 %4").arg(what, shown).arg(by).arg(range);
    typed.ok = typed.refusal.isEmpty();
    typed.value = typed.ok ? number : 0;
    return typed;
}
