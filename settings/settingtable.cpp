#include "settings/settingtable.h"

#include <QRegularExpression>
#include <cmath>

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
    QString out;
    for (const char c : bytes) {
        if (out.size() >= limit) {
            out += QStringLiteral("...");
            break;
        }
        const auto b = static_cast<unsigned char>(c);
        switch (b) {
        case '\r': out += QStringLiteral("\\r"); break;
        case '\n': out += QStringLiteral("\\n"); break;
        case '\t': out += QStringLiteral("\\t"); break;
        case 0x1b: out += QStringLiteral("\\e"); break;
        case '\\': out += QStringLiteral("\\\\"); break;
        default:
            if (b < 0x20 || b >= 0x7f)
                out += QStringLiteral("\\x%1").arg(b, 2, 16, QLatin1Char('0'));
            else
                out += QLatin1Char(c);
        }
    }
    return out;
}

namespace {

QString quoted(const QByteArray &reply)
{
    return QStringLiteral("reply '") + printable(reply) + QLatin1Char('\'');
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

} // namespace SettingTable
