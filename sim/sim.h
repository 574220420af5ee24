// The simulator process: a pseudo-terminal published as a COM port, one poll() loop
// that takes the tool's bytes, runs them through the module and sends the answers.
#pragma once

#include "module.h"
#include "options.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kavosim {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

class Sim {
public:
    explicit Sim(Options options);
    ~Sim();
    Sim(const Sim&) = delete;
    Sim& operator=(const Sim&) = delete;

    // Runs until a signal, end of standard input (--stdin-eof) or a hang-up.
    // Returns the process exit code.
    int run();

private:
    // A byte from the tool, with the tool's bit rate when it arrived. With --pace, due is
    // when its last bit is on the line: ten bit times after the byte before it, or after
    // its arrival when the line was idle. Without pacing due is its arrival.
    struct InByte {
        unsigned char byte;
        int rate;
        TimePoint arrived;
        TimePoint due;
    };
    // One step of the way out.
    struct OutItem {
        enum Kind { Bytes, Delay, SetRate, Hangup } kind;
        std::string bytes;
        int value = 0; // Delay: milliseconds; SetRate: bit rate
    };
    using Items = std::vector<OutItem>;

    enum class Fault { None, Garbage, OutOfRange, Error, Split, Silence, Trailing, RateChange, Hangup };

    bool setUp();
    bool openLine();
    bool publish();
    void removeLink();
    void tearDown();

    int toolRate() const;
    void readLine(TimePoint arrived);
    std::size_t takenTogether() const;
    bool armTimer(TimePoint wake);
    void babble(TimePoint now, TimePoint& wake);
    bool processInput(TimePoint now, TimePoint& wake);
    bool pumpOutput(TimePoint now, TimePoint& wake);
    void handleByte(const InByte& in);
    void handleLine(int rate);
    void finishWrite(int rate);
    void flushMismatch();
    void resetParser();
    void hangUp();

    // Sends the module's answer (plus prefix, prompt and suffix) and logs the command.
    void respond(int rate, const std::string& command, bool faultable, const std::function<Reply()>& execute,
                 std::string note);
    // Sends a text verbatim (no prefix, prompt or suffix) and logs the command.
    void respondVerbatim(int rate, const std::string& command, const Chunked& text, std::string note);
    void appendChunked(Items& items, const Chunked& text) const;
    void queue(Items items);
    const Chunked* replyFor(const std::string& line) const;

    Fault rollFault();
    std::uint64_t nextRandom();
    std::string randomBytes(int count, bool allowPrompt);
    void applyFault(Fault fault, Items& items, std::size_t answerAt, Reply& reply);

    void log(int rate, std::string_view command, std::string_view answer, std::string_view note);

    Options o_;
    std::unique_ptr<Module> module_;
    int master_ = -1;
    int slave_ = -1;
    int signalPipe_[2] = {-1, -1};
    std::string slavePath_;
    std::string linkPath_;
    std::string tempCard_;
    std::FILE* log_ = nullptr;
    TimePoint start_;

    int lineRate_ = 9600; // the module's own bit rate
    std::deque<InByte> in_;
    std::deque<OutItem> out_;

    // Line parser.
    bool dataMode_ = false;
    std::string line_;
    bool escPending_ = false;
    std::string mismatch_;
    int mismatchRate_ = 0;
    TimePoint mismatchFlushAt_{};

    // The "FC W 1 n" whose data is being received.
    struct PendingWrite {
        std::string command;
        std::size_t count = 0;
        std::string data;
        long long index = 0;
        const Chunked* reply = nullptr;
    } write_;
    long long writes_ = 0;
    long long received_ = 0;

    // --mark-early: when the entry being received began, when the last mismatch run began
    // and ended, and when the answer to the last logged entry was completely sent (for an
    // entry without an answer: when its last byte came).
    std::optional<TimePoint> entryStart_;
    TimePoint lastArrived_{};
    TimePoint mismatchStart_{};
    TimePoint mismatchLast_{};
    bool loggingMismatch_ = false;
    TimePoint answerDone_{};

    // Pacing and byte splitting. inClock_: when the last byte read from the tool is due;
    // takenDue_: when the byte being handled was due, the start of its answer; outClock_:
    // when the last byte sent (or the last pause) is over on the line.
    TimePoint inClock_{};
    TimePoint takenDue_{};
    TimePoint outClock_{};
    TimePoint outWaitUntil_{};
    TimePoint outWrote_ = TimePoint::max();     // when the last paced write was made
    std::chrono::nanoseconds outLate_{};        // how late it was, up to kMaxMakeUp
    bool wantWritable_ = false;
    int timer_ = -1;         // a timer descriptor armed at the next wake-up, or -1
    TimePoint timerAt_ = TimePoint::max();
    TimePoint readBackoffUntil_{};
    TimePoint nextBabble_{};   // --babble: when the next line of text goes out

    std::uint64_t random_ = 0;
    bool quit_ = false;
    int exitCode_ = 0;
};

} // namespace kavosim
