#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <optional>

// The module's nine settings as plain data: the query and set commands, the range of each
// value, and the conversion of a query reply into values. No widgets here; the window's
// routines (settings/readwrite.cpp, settings/settingedits.cpp) map the values onto controls.
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
