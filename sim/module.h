// The module's own behaviour: settings, the card, and the answer to each command line.
// Nothing here knows about the line, timing or fault injection.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavosim {

// Bit rates selected by setting D (its value is the index).
inline constexpr int kRates[5] = {9600, 19200, 38400, 57600, 115200};

// Index of bps in kRates, or -1.
int rateIndex(int bps);

struct Settings {
    int d = 0;   // rate index 0..4
    int t = 20;  // 0..254
    int s = 1;   // 0..2
    int n = 0;   // 0..32767
    int h = 1;   // 0..1
    int vl = 16; // 0..254
    int vr = 16; // 0..254
    int o = 1;   // 0..254
    int b = 0;   // 0..255
    int u = 0;   // 0..1
};

// Stores setting letter from its value words ("37", or "10" / "10 20" for V).
// Nothing is stored unless every value is plain decimal and in range.
bool storeSetting(Settings& settings, char letter, const std::vector<std::string>& values);

// Reads `X=value` lines (blank lines and lines starting with '#' are skipped) from a regular
// file of this user's of at most 64 KiB; anything else is refused with `error` saying why.
bool loadStateFile(const std::string& path, Settings& settings, std::string& error);

// What the module answers to one command, without the prompt.
struct Reply {
    std::string body;
    int newRateIndex = -1; // >= 0: the line switches to this rate after the prompt
    std::string note;      // for the traffic log
};

class Module {
public:
    // card: the folder that stands for the card root, or none for "no card".
    Module(std::optional<std::string> card, long long capacityKiB, std::string identity,
           std::string serial, Settings settings);
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    Settings& settings() { return settings_; }

    // Answers a complete command line (without its CR). "FC W 1 n" is not
    // handled here: see isWrite() and writeData().
    Reply execute(std::string_view line);

    // True when line is "FC W 1 n" with n in 1..65535: n raw bytes follow. Like every
    // command line, its words are separated by single blanks and its number has no leading zero.
    static bool isWrite(std::string_view line, int& count);

    // Appends the data of an "FC W" to the open file.
    Reply writeData(std::string_view data);

    // The answer when the data of an "FC W" stopped coming for longer than setting T allows:
    // nothing is written.
    static Reply dataTimedOut();

private:
    Reply setting(const std::vector<std::string>& words);
    Reply card(const std::vector<std::string>& words);
    Reply play(const std::vector<std::string>& words);
    bool cardPath(const std::string& name, std::string& path) const;
    long long usedKiB() const;
    void closeFile();

    std::optional<std::string> card_;
    long long capacityKiB_;
    std::string identity_;
    std::string serial_;
    Settings settings_;
    int openFile_ = -1;
};

} // namespace kavosim
