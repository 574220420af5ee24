#include "options.h"

#include "module.h"

#include <string_view>

namespace kavosim {

const char* usageText()
{
    return "Usage: kavo-sim [options]\n"
           "Stands in for a Kavo module on a pseudo-terminal published as a COM port.\n"
           "\n"
           "Line and port:\n"
           "  --rate BPS            module bit rate at start: 9600 19200 38400 57600 115200 (9600)\n"
           "  --com N               publish as COMN, 1..16 (default: lowest free number)\n"
           "  --ports-dir DIR       folder of the COM links (default: $XDG_RUNTIME_DIR/kavoconfig/ports when\n"
           "                        that folder is this user's own and private, else\n"
           "                        ${XDG_STATE_HOME:-$HOME/.local/state}/kavoconfig/ports)\n"
           "  --stdin-eof           end when standard input reaches end of file\n"
           "Module:\n"
           "  --card DIR            folder that is the card root (default: a fresh temporary folder)\n"
           "  --no-card             no card: every FC and PC command answers E08\n"
           "  --capacity KIB        card capacity in KiB (1998848)\n"
           "  --identity CODE       identity code in the V reply (KAV1)\n"
           "  --serial TEXT         serial number in the V reply (00012345)\n"
           "  --state FILE          X=value lines overriding the setting defaults\n"
           "  --log FILE            traffic log, one tab-separated line per command\n"
           "Faults:\n"
           "  --silent              never answer\n"
           "  --babble              never answer; send lines of text without end and never a prompt\n"
           "  --babble-after N      answer N command lines, then babble as --babble does\n"
           "  --babble-interval MS  a line of babble every MS ms (20); 0: as fast as the line takes it\n"
           "  --echo                send every byte taken back at once, before the answer\n"
           "  --delay 'CMD=MS'      answer command line CMD MS ms late (repeatable)\n"
           "  --mismatch-silent     at a wrong bit rate or frame say nothing (default: garbled bytes)\n"
           "  --reply 'CMD=TEXT'    answer command line CMD with TEXT verbatim (repeatable)\n"
           "  --probe-reply TEXT    answer an ESC and the CR after it with TEXT\n"
           "  --chunk-delay MS      pause at each \\| in a text (50)\n"
           "  --split-bytes MS      send answers byte by byte, MS apart\n"
           "  --pace                take and send bytes no faster than the line rate\n"
           "  --prefix TEXT         bytes before every answer\n"
           "  --suffix TEXT         bytes after every prompt\n"
           "  --write-error K[=TEXT] answer the K-th FC W with TEXT (EF9>), data dropped\n"
           "  --write-silent K      never answer the K-th FC W, data dropped\n"
           "  --hangup-after N      exit at once when N bytes have been received\n"
           "  --random N            random faults, pseudo-random sequence started from N\n"
           "  --faults PERCENT      with --random: share of command lines that get a fault\n"
           "Log:\n"
           "  --mark-early          note early=<ms> on a command that began before the answer\n"
           "                        to the one before it had been sent completely\n"
           "Other:\n"
           "  -h, --help            show this help and end\n"
           "  --version             show the version and end\n"
           "Texts take the escapes \\r \\n \\t \\e \\\\ \\xNN, and \\| (chunk break).\n";
}

namespace {

bool number(std::string_view text, long long min, long long max, long long& value)
{
    return parseDecimal(text, max, value) && value >= min;
}

} // namespace

ParseResult parseOptions(int argc, char** argv, Options& o, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        std::optional<std::string> inlineValue;
        if (name.rfind("--", 0) == 0) {
            const std::size_t eq = name.find('=');
            if (eq != std::string::npos) {
                inlineValue = name.substr(eq + 1);
                name.erase(eq);
            }
        }
        auto flag = [&]() {
            if (inlineValue) {
                error = name + " takes no value";
                return false;
            }
            return true;
        };
        auto value = [&](std::string& out) {
            if (inlineValue) {
                out = *inlineValue;
                return true;
            }
            if (i + 1 >= argc) {
                error = name + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        auto numeric = [&](long long min, long long max, long long& out) {
            std::string text;
            if (!value(text))
                return false;
            if (!number(text, min, max, out)) {
                error = name + ": expected a number from " + std::to_string(min) + " to " + std::to_string(max)
                    + ", got \"" + text + "\"";
                return false;
            }
            return true;
        };
        auto text = [&](Chunked& out) {
            std::string raw;
            if (!value(raw))
                return false;
            if (!decodeEscapes(raw, out, error)) {
                error = name + ": " + error;
                return false;
            }
            return true;
        };

        long long n = 0;
        if (name == "--help" || name == "-h") {
            return ParseResult::Help;
        } else if (name == "--version") {
            return ParseResult::Version;
        } else if (name == "--rate") {
            if (!numeric(1, 115200, n))
                return ParseResult::Error;
            if (rateIndex(static_cast<int>(n)) < 0) {
                error = "--rate: expected one of 9600 19200 38400 57600 115200";
                return ParseResult::Error;
            }
            o.rate = static_cast<int>(n);
        } else if (name == "--com") {
            if (!numeric(1, 16, n))
                return ParseResult::Error;
            o.com = static_cast<int>(n);
        } else if (name == "--ports-dir") {
            if (!value(o.portsDir))
                return ParseResult::Error;
        } else if (name == "--card") {
            if (!value(o.cardDir))
                return ParseResult::Error;
        } else if (name == "--no-card") {
            if (!flag())
                return ParseResult::Error;
            o.noCard = true;
        } else if (name == "--capacity") {
            if (!numeric(0, 1LL << 40, o.capacityKiB))
                return ParseResult::Error;
        } else if (name == "--identity") {
            if (!value(o.identity))
                return ParseResult::Error;
        } else if (name == "--serial") {
            if (!value(o.serial))
                return ParseResult::Error;
        } else if (name == "--state") {
            if (!value(o.stateFile))
                return ParseResult::Error;
        } else if (name == "--log") {
            if (!value(o.logFile))
                return ParseResult::Error;
        } else if (name == "--silent") {
            if (!flag())
                return ParseResult::Error;
            o.silent = true;
        } else if (name == "--babble") {
            if (!flag())
                return ParseResult::Error;
            o.babble = true;
            o.silent = true;
        } else if (name == "--babble-after") {
            if (!numeric(0, 1LL << 50, o.babbleAfter))
                return ParseResult::Error;
        } else if (name == "--babble-interval") {
            if (!numeric(0, 600000, n))
                return ParseResult::Error;
            o.babbleIntervalMs = static_cast<int>(n);
        } else if (name == "--echo") {
            if (!flag())
                return ParseResult::Error;
            o.echo = true;
        } else if (name == "--mismatch-silent") {
            if (!flag())
                return ParseResult::Error;
            o.mismatchSilent = true;
        } else if (name == "--delay") {
            std::string raw;
            if (!value(raw))
                return ParseResult::Error;
            const std::size_t eq = raw.rfind('=');
            long long ms = 0;
            std::string command;
            if (eq == std::string::npos || !number(std::string_view(raw).substr(eq + 1), 0, 600000, ms)) {
                error = "--delay: expected CMD=MS with MS from 0 to 600000, got \"" + raw + "\"";
                return ParseResult::Error;
            }
            if (!decodePlain(raw.substr(0, eq), command, error)) {
                error = "--delay: " + error;
                return ParseResult::Error;
            }
            o.delays[command] = static_cast<int>(ms);
        } else if (name == "--reply") {
            std::string raw;
            if (!value(raw))
                return ParseResult::Error;
            const std::size_t eq = raw.find('=');
            if (eq == std::string::npos) {
                error = "--reply: expected CMD=TEXT, got \"" + raw + "\"";
                return ParseResult::Error;
            }
            std::string command;
            Chunked answer;
            if (!decodePlain(raw.substr(0, eq), command, error) || !decodeEscapes(raw.substr(eq + 1), answer, error)) {
                error = "--reply: " + error;
                return ParseResult::Error;
            }
            o.replies[command] = answer;
        } else if (name == "--probe-reply") {
            Chunked answer;
            if (!text(answer))
                return ParseResult::Error;
            o.probeReply = answer;
        } else if (name == "--chunk-delay") {
            if (!numeric(0, 600000, n))
                return ParseResult::Error;
            o.chunkDelayMs = static_cast<int>(n);
        } else if (name == "--split-bytes") {
            if (!numeric(0, 600000, n))
                return ParseResult::Error;
            o.splitBytesMs = static_cast<int>(n);
        } else if (name == "--pace") {
            if (!flag())
                return ParseResult::Error;
            o.pace = true;
        } else if (name == "--prefix") {
            if (!text(o.prefix))
                return ParseResult::Error;
        } else if (name == "--suffix") {
            if (!text(o.suffix))
                return ParseResult::Error;
        } else if (name == "--write-error") {
            std::string raw;
            if (!value(raw))
                return ParseResult::Error;
            const std::size_t eq = raw.find('=');
            const std::string count = raw.substr(0, eq);
            if (!number(count, 1, 1LL << 40, o.writeErrorAt)) {
                error = "--write-error: expected K or K=TEXT with K >= 1, got \"" + raw + "\"";
                return ParseResult::Error;
            }
            o.writeErrorText = Chunked{{"EF9>"}};
            if (eq != std::string::npos && !decodeEscapes(raw.substr(eq + 1), o.writeErrorText, error)) {
                error = "--write-error: " + error;
                return ParseResult::Error;
            }
        } else if (name == "--write-silent") {
            if (!numeric(1, 1LL << 40, o.writeSilentAt))
                return ParseResult::Error;
        } else if (name == "--hangup-after") {
            if (!numeric(1, 1LL << 50, o.hangupAfter))
                return ParseResult::Error;
        } else if (name == "--random") {
            std::string raw;
            if (!value(raw))
                return ParseResult::Error;
            long long start = 0;
            if (!parseDecimal(raw, (1LL << 62), start)) {
                error = "--random: expected a non-negative decimal number, got \"" + raw + "\"";
                return ParseResult::Error;
            }
            o.random = static_cast<std::uint64_t>(start);
        } else if (name == "--faults") {
            if (!numeric(0, 100, n))
                return ParseResult::Error;
            o.faultPercent = static_cast<int>(n);
        } else if (name == "--mark-early") {
            if (!flag())
                return ParseResult::Error;
            o.markEarly = true;
        } else if (name == "--stdin-eof") {
            if (!flag())
                return ParseResult::Error;
            o.stdinEof = true;
        } else {
            error = "unknown option \"" + std::string(argv[i]) + "\" (see --help)";
            return ParseResult::Error;
        }
    }
    if (o.faultPercent && !o.random) {
        error = "--faults needs --random";
        return ParseResult::Error;
    }
    if (o.noCard && !o.cardDir.empty()) {
        error = "--card and --no-card exclude each other";
        return ParseResult::Error;
    }
    return ParseResult::Run;
}

} // namespace kavosim
