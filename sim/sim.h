// The simulator process: a pseudo-terminal published as a COM port, one poll() loop
// that takes the tool's bytes, runs them through the module and sends the answers.
// sim.cpp holds the loop, pty.cpp the line and its publishing, faults.cpp the random faults.
#pragma once

#include "garble.h"
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
    // frame: the character frame the tool had set.
    struct InByte {
        unsigned char byte;
        int rate;
        Frame frame;
        TimePoint arrived;
        TimePoint due;
    };
    // The tool's side of the line as it set it on the port.
    struct ToolLine {
        int rate = 0;
        Frame frame;
    };
    // One step of the way out.
    struct OutItem {
        enum Kind { Bytes, Delay, SetRate, Hangup } kind;
        std::string bytes;
        int value = 0; // Delay: milliseconds; SetRate: bit rate
        // --echo bytes and the garbled answer to bytes the module did not hear: nothing the
        // tool can know to wait for, so no answer for --mark-early.
        bool notAnAnswer = false;
        bool babble = false;     // text of --babble, counted at the end
    };
    using Items = std::vector<OutItem>;

    enum class Fault { None, Garbage, OutOfRange, Error, Split, Silence, Trailing, RateChange, Hangup };

    bool setUp();
    // The line (pty.cpp).
    bool openLine();
    bool publish();
    void removeLink();
    void tearDown();

    int toolRate() const;
    ToolLine toolLine() const;
    // The module hears a byte only at its own rate and in its own frame.
    bool heard(const InByte& in) const { return in.rate == lineRate_ && in.frame.plain(); }
    // When a byte came, as far as the write time-out is concerned: when it was due on the line
    // with --pace, else when it was read.
    TimePoint timeOf(const InByte& in) const { return o_.pace ? in.due : in.arrived; }
    bool silent() const { return o_.silent || babbling_; }
    void readLine(TimePoint arrived);
    std::size_t takenTogether() const;
    bool armTimer(TimePoint wake);
    void babble(TimePoint now, TimePoint& wake);
    bool processInput(TimePoint now, TimePoint& wake);
    bool pumpOutput(TimePoint now, TimePoint& wake);
    void handleByte(const InByte& in);
    void handleLine(const InByte& in);
    void finishWrite(int rate);
    // Logs the bytes the module could not make out; with answer (and no --mismatch-silent)
    // sends back what the tool's receiver makes of the module's answer to them.
    void flushMismatch(bool answer);
    // The data of an "FC W" has stopped coming for longer than setting T allows: true when the
    // module gives up now, else wake is moved to when it will, if no byte comes by then.
    bool writeTimedOut(TimePoint now, TimePoint& wake) const;
    void giveUpWrite();
    void lineAnswered();
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
    // --delay: the answer to this line starts that many ms late.
    void delayAnswer(const std::string& line, Items& items) const;

    // Random faults (faults.cpp).
    Fault rollFault();
    Reply faultError();
    // The log's note for a fault: random:<fault>, with the new rate for a rate change.
    std::string faultNote(Fault fault, const Reply& reply) const;
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
    int mismatchRate_ = 0;        // the tool's rate at the first byte of the run
    bool mismatchWrongRate_ = false;
    bool mismatchWrongFrame_ = false;
    ToolLine mismatchLine_;       // the tool's line at the last byte of the run
    TimePoint mismatchFlushAt_{};

    // The "FC W 1 n" whose data is being received.
    struct PendingWrite {
        std::string command;
        std::size_t count = 0;
        std::string data;
        long long index = 0;
        const Chunked* reply = nullptr;
        int rate = 0;
        TimePoint last{};   // when the command's CR or the last data byte came (timeOf())
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
    bool babbling_ = false;
    long long babbled_ = 0;    // bytes of babble sent
    long long linesAnswered_ = 0; // command lines (not ESC, not an empty line) answered

    std::uint64_t random_ = 0;
    bool quit_ = false;
    int exitCode_ = 0;
};

} // namespace kavosim
