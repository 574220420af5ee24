#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <array>
#include <optional>

// The module's nine settings as plain data: the query and set commands, the range of each
// value, the conversion of a query reply into values, and setting strings taken apart.
// No widgets here: the window maps the values onto its controls.
namespace SettingTable {

// How a setting's value is shown in the window.
enum class Kind {
    List,       // D, S: the selected index of a drop-down list
    Spinner,    // T, N, O: a number box driven by a spinner
    Flag,       // H, U: a check box, checked when the value is 1
    Volume,     // V: left and right channel, 0 (loudest) to 254 (off)
    BassBoost,  // B: boost in dB (high four bits) and frequency step (low four bits)
};

struct Setting {
    char letter;
    const char *name;   // as the status texts use it, e.g. "Write Time-out"
    int minimum;
    int maximum;        // for V: of each channel
    Kind kind;
};

// In the order the settings are read: D T S N H V O B U.
const std::array<Setting, 9> &all();
// The order the settings are written: the bit rate last, so that the eight before it
// still go out at the rate the PC port runs at.
inline constexpr char WriteOrder[] = "TSNHVOBUD";

// The five bit rates, in the order of both bit-rate lists; setting D is an index into them.
const QList<qint32> &bitRates();
// The index of `rate` among them, or -1.
int bitRateIndex(qint32 rate);

// nullptr for a letter that is not a setting.
const Setting *find(char letter);
QString nameOf(char letter);

// "ST D": the query, without the line end.
QByteArray query(char letter);
// "ST T 20": the set command (the setting string), without the line end.
QString setString(char letter, int value);
// "ST V 10" (channels locked together) or "ST V 10 20".
QString volumeString(int left, std::optional<int> right);
// "ST B <boost × 16 + step>", or "ST B 0" when the boost is switched off.
QString bassBoostString(bool on, int boost, int step);

// A query reply converted into the setting's value.
struct Reading {
    bool ok = false;
    // D, T, S, N, O: the value; H, U: 1 when the reply's number is 1, else 0;
    // V: the left channel; B: the whole byte.
    int value = 0;
    int right = 0;      // V: the right channel (the left value when the reply held one)
    QString problem;    // when not ok, what is wrong with the reply, for the status line

    int boost() const { return value / 16; }
    int step() const { return value % 16; }
};

// Converts the reply to "ST <letter>". Blanks, tabs, CR and LF around the reply (and, for
// V, around each channel) are tolerated. A number may carry a sign, a fraction and an
// exponent; it is rounded to the nearest whole number, halves to the even neighbour
// ("2.5" -> 2, "3.5" -> 4), and the rounded value must lie in the setting's range.
// A check box (H, U) takes any number: it is checked only when the number is exactly 1.
// V is split at the first blank into left and right; a lone value stands for both
// channels, as the module's own "ST V l" does.
Reading readReply(char letter, const QByteArray &reply);

// A setting string taken apart: the letter and the value it stores. V carries `right`
// when the string names both channels ("ST V 10 20"); one value stands for both.
struct Stored {
    char letter = 0;
    int value = 0;
    std::optional<int> right;

    // The setting string again.
    QString settingString() const;
    // Whether the module, asked for this setting, answered with the value stored here.
    bool matches(const Reading &reading) const;
};

// What a setting read from the module stores: V names the right channel only when it
// differs from the left one.
Stored storedFrom(char letter, const Reading &reading);

// Takes "ST T 20" apart: "ST", the letter and the value(s), one blank between each, plain
// decimal numbers (no sign, no leading zeros) within the setting's range. Blanks and line
// ends around the whole are allowed. When the text is not such a string, `why` says what
// is wrong with it.
std::optional<Stored> parseSettingString(const QString &text, QString *why);

// Rounds to the nearest whole number, halves to the even neighbour.
double roundHalfEven(double x);
// Parses a decimal number surrounded by optional blanks and line ends.
std::optional<double> parseNumber(const QByteArray &text);
// The module's bytes in printable form: \r \n \e \t \\ \xNN for the others; cut after
// `limit` characters with "...".
QString printable(const QByteArray &bytes, int limit = 40);

// "Could not read Volume - 'V': reply 'E05'" and friends.
QString readFailure(char letter, const QByteArray &reply, const Reading &reading, bool timedOut);

} // namespace SettingTable
