// Command line of kavo-sim.
#pragma once

#include "text.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace kavosim {

struct Options {
    int rate = 9600;                 // the module's bit rate at start (setting D)
    int com = 0;                     // 0: the lowest free COM number
    std::string portsDir;            // empty: the default ports folder
    std::string cardDir;             // empty: a fresh temporary folder
    bool noCard = false;
    long long capacityKiB = 1998848;
    std::string identity = "KAV1";
    std::string serial = "00012345";
    std::string stateFile;
    std::string logFile;
    bool silent = false;
    bool babble = false;             // never answer; send lines of text without end, no prompt
    long long babbleAfter = -1;      // >= 0: answer that many command lines, then babble
    int babbleIntervalMs = 20;       // a line of babble this often; 0: as fast as the line takes it
    bool echo = false;               // send every byte taken back at once
    bool mismatchSilent = false;     // at a wrong rate or frame say nothing (else: garbled answer)
    std::map<std::string, Chunked> replies; // exact command line -> answer bytes
    std::map<std::string, int> delays;      // exact command line -> answer that many ms late
    std::optional<Chunked> probeReply;
    int chunkDelayMs = 50;
    int splitBytesMs = -1;           // < 0: answers go out in one write
    bool pace = false;
    Chunked prefix;
    Chunked suffix;
    long long writeErrorAt = 0;      // 0: off
    Chunked writeErrorText;
    long long writeSilentAt = 0;     // 0: off
    long long hangupAfter = 0;       // 0: off
    std::optional<std::uint64_t> random;
    std::optional<int> faultPercent; // --random: share of command lines with a fault
    bool markEarly = false;          // log note early=<ms> for commands that came too soon
    bool stdinEof = false;
};

enum class ParseResult { Run, Help, Version, Error };

ParseResult parseOptions(int argc, char** argv, Options& options, std::string& error);

const char* usageText();

} // namespace kavosim
