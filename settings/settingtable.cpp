#include "settings/settingtable.h"

#include <QRegularExpression>
#include <QStringList>
#include <cmath>

#include "link/printable.h"

namespace SettingTable {

const std::array<Setting, 9> &all()
{
    static const std::array<Setting, 9> table = {{
        {'D', "Bit Rate", 0, 4, Kind::List},
        {'T', "Write Time-out", 0, 254, Kind::Spinner},
        {'S', "Input Style", 0, 2, Kind::List},
        {'N', "Input File Number Offset", 0, 32767, Kind::Spinner},
        {'H', "Hardware Busy Indicator", 0, 1, Kind::Flag},
        {'V', "Volume", 0, 254, Kind::Volume},
        {'O', "Loop Count", 0, 254, Kind::Spinner},
        {'B', "Bass Boost", 0, 255, Kind::BassBoost},
        {'U', "Uninterrupted Playback", 0, 1, Kind::Flag},
    }};
    return table;
}

const QList<qint32> &bitRates()
{
    static const QList<qint32> rates = {9600, 19200, 38400, 57600, 115200};
    return rates;
}

int bitRateIndex(qint32 rate)
{
    return int(bitRates().indexOf(rate));
}

const Setting *find(char letter)
{
    for (const Setting &s : all())
        if (s.letter == letter)
            return &s;
    return nullptr;
}

QString nameOf(char letter)
{
    const Setting *s = find(letter);
    return s ? QString::fromLatin1(s->name) : QString();
}

QByteArray query(char letter)
{
    return QByteArrayLiteral("ST ") + letter;
}

QString setString(char letter, int value)
{
    return QStringLiteral("ST %1 %2").arg(QLatin1Char(letter)).arg(value);
}

QString volumeString(int left, std::optional<int> right)
{
    QString text = setString('V', left);
    if (right)
        text += QStringLiteral(" %1").arg(*right);
    return text;
}

QString bassBoostString(bool on, int boost, int step)
{
    return setString('B', on ? boost * 16 + step : 0);
}

double roundHalfEven(double x)
{
    if (std::fabs(x - std::trunc(x)) == 0.5)
        return 2.0 * std::round(x / 2.0);
    return std::round(x);
}

std::optional<double> parseNumber(const QByteArray &text)
{
    static const QRegularExpression number(
        QStringLiteral("^[ \\t\\r\\n]*([+-]?(?:[0-9]+\\.?[0-9]*|\\.[0-9]+)(?:[eE][+-]?[0-9]+)?)[ \\t\\r\\n]*$"));
    const QRegularExpressionMatch match = number.match(QString::fromLatin1(text));
    if (!match.hasMatch())
        return std::nullopt;
    // The pattern leaves only overflow (infinity: outside every range) and underflow
    // (0) for the conversion to complain about; both are still numbers.
    return match.captured(1).toDouble();
}

QString printable(const QByteArray &bytes, int limit)
{
    return ::printable(bytes, limit);
}

namespace {

QString quoted(const QByteArray &reply)
{
    return QStringLiteral("reply '") + SettingTable::printable(reply) + QLatin1Char('\'');
}

// One whole number of the reply within [minimum, maximum].
bool wholeNumber(const QByteArray &text, const Setting &s, const QByteArray &reply, int *value, Reading *r)
{
    const std::optional<double> number = parseNumber(text);
    if (!number) {
        r->problem = quoted(reply);
        return false;
    }
    const double rounded = roundHalfEven(*number);
    if (!(rounded >= s.minimum && rounded <= s.maximum)) {
        r->problem = quoted(reply) + QStringLiteral(" is out of range (%1 to %2)").arg(s.minimum).arg(s.maximum);
        return false;
    }
    *value = static_cast<int>(rounded);
    return true;
}

} // namespace

Reading readReply(char letter, const QByteArray &reply)
{
    Reading r;
    const Setting *s = find(letter);
    if (!s) {
        r.problem = QStringLiteral("no such setting");
        return r;
    }
    const QByteArray text = reply.trimmed();
    if (text.isEmpty()) {
        r.problem = reply.isEmpty() ? QStringLiteral("empty reply") : quoted(reply);
        return r;
    }

    switch (s->kind) {
    case Kind::Flag: {
        const std::optional<double> number = parseNumber(text);
        if (!number) {
            r.problem = quoted(reply);
            return r;
        }
        r.value = *number == 1.0 ? 1 : 0;
        break;
    }
    case Kind::Volume: {
        const qsizetype blank = text.indexOf(' ');
        const QByteArray left = blank < 0 ? text : text.left(blank);
        const QByteArray right = blank < 0 ? text : text.mid(blank + 1);
        if (!wholeNumber(left, *s, reply, &r.value, &r) || !wholeNumber(right, *s, reply, &r.right, &r))
            return r;
        break;
    }
    case Kind::List:
    case Kind::Spinner:
    case Kind::BassBoost:
        if (!wholeNumber(text, *s, reply, &r.value, &r))
            return r;
        break;
    }
    r.ok = true;
    return r;
}

QString readFailure(char letter, const QByteArray &reply, const Reading &reading, bool timedOut)
{
    QString problem = reading.problem;
    if (timedOut)
        problem = QStringLiteral("no answer");
    else if (problem.isEmpty())
        problem = quoted(reply);
    return QStringLiteral("Could not read %1 - '%2': %3").arg(nameOf(letter), QString(QLatin1Char(letter)), problem);
}

QString Stored::settingString() const
{
    if (letter == 'V')
        return volumeString(value, right);
    return setString(letter, value);
}

bool Stored::matches(const Reading &reading) const
{
    if (!reading.ok)
        return false;
    if (letter == 'V')
        return reading.value == value && reading.right == right.value_or(value);
    return reading.value == value;
}

Stored storedFrom(char letter, const Reading &reading)
{
    Stored stored;
    stored.letter = letter;
    stored.value = reading.value;
    if (letter == 'V' && reading.right != reading.value)
        stored.right = reading.right;
    return stored;
}

namespace {

// A plain decimal number: digits only, no leading zero unless it is the only digit.
std::optional<int> plainNumber(const QString &word)
{
    if (word.isEmpty() || word.size() > 6)
        return std::nullopt;
    for (const QChar c : word)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    if (word.size() > 1 && word.front() == QLatin1Char('0'))
        return std::nullopt;
    return word.toInt();
}

} // namespace

std::optional<Stored> parseSettingString(const QString &text, QString *why)
{
    const auto fail = [why](const QString &problem) -> std::optional<Stored> {
        if (why)
            *why = problem;
        return std::nullopt;
    };
    const QString trimmed = text.trimmed();
    const QStringList words = trimmed.split(QLatin1Char(' '));
    if (words.size() < 3 || words[0] != QStringLiteral("ST") || words[1].size() != 1)
        return fail(QStringLiteral("not a setting string (\"ST\", a setting letter and its value)"));
    const char letter = words[1].front().toLatin1();
    const Setting *s = find(letter);
    if (!s)
        return fail(QStringLiteral("'%1' is not a setting letter (D, T, S, N, H, V, O, B or U)").arg(words[1]));
    if (words.contains(QString()))
        return fail(QStringLiteral("values are separated by one blank"));
    const int valueCount = int(words.size()) - 2;
    if (valueCount > (s->kind == Kind::Volume ? 2 : 1))
        return fail(s->kind == Kind::Volume ? QStringLiteral("Volume takes one or two values")
                                            : QStringLiteral("%1 takes one value").arg(QString::fromLatin1(s->name)));
    Stored stored;
    stored.letter = letter;
    for (int i = 0; i < valueCount; ++i) {
        const QString &word = words[2 + i];
        const std::optional<int> number = plainNumber(word);
        if (!number)
            return fail(QStringLiteral("'%1' is not a plain decimal number")
                            .arg(word.size() > 20 ? word.left(20) + QStringLiteral("...") : word));
        if (*number < s->minimum || *number > s->maximum)
            return fail(QStringLiteral("%1 %2 is out of range (%3 to %4)")
                            .arg(QString::fromLatin1(s->name))
                            .arg(*number)
                            .arg(s->minimum)
                            .arg(s->maximum));
        if (i == 0)
            stored.value = *number;
        else
            stored.right = *number;
    }
    return stored;
}

} // namespace SettingTable
