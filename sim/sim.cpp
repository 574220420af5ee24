// The command loop: bytes from the tool through the module, answers back onto the line, the
// write time-out, pacing, and the traffic log; with the set-up and the end of a run.
#include "sim.h"

#include "files.h"
#include "text.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#ifdef __linux__
#include <sys/prctl.h>
#include <sys/timerfd.h>
#endif

namespace kavosim {

namespace {

constexpr std::size_t kMaxLine = 1024;
// Paced, takenTogether() looks through at most this many waiting bytes: a long data block
// costs a wake-up every kilobyte, and what is left to handle once its last byte is due
// stays short.
constexpr std::size_t kMaxTakenTogether = 1024;
constexpr auto kMismatchQuiet = std::chrono::milliseconds(200);
// A paced write that went out late held up the tool's next command by as much; up to this
// much is made up on the schedule: wake-up and scheduling delays, not a stall.
constexpr auto kMaxMakeUp = std::chrono::milliseconds(2);
// A paced answer goes out in runs of about this much line time, each sent when its last byte
// is due: about a thousand wake-ups a second at most, however long the answer.
constexpr auto kOutputRun = std::chrono::milliseconds(1);

int gSignalWriteFd = -1;

void onSignal(int signal)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    if (gSignalWriteFd >= 0) {
        [[maybe_unused]] const ssize_t ignored = ::write(gSignalWriteFd, &byte, 1);
    }
    errno = saved;
}

std::chrono::nanoseconds byteTime(int bps)
{
    // Ten bit times per byte: start bit, eight data bits, stop bit.
    const long long rate = bps > 0 ? bps : 9600;
    return std::chrono::nanoseconds(10'000'000'000LL / rate);
}

// mkdir -p; every folder made here is private to the user.
bool makeDirs(const std::string& path, std::string& error)
{
    std::string partial;
    std::size_t pos = 0;
    while (pos <= path.size()) {
        const std::size_t slash = path.find('/', pos);
        const std::size_t end = slash == std::string::npos ? path.size() : slash;
        partial = path.substr(0, end);
        pos = end + 1;
        if (partial.empty())
            continue;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "cannot create folder " + partial + ": " + std::strerror(errno);
            return false;
        }
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = path + " is not a folder";
        return false;
    }
    return true;
}

} // namespace

Sim::Sim(Options options)
    : o_(std::move(options))
    , start_(Clock::now())
{
}

Sim::~Sim()
{
    tearDown();
}

int Sim::run()
{
    if (!setUp()) {
        tearDown();
        return exitCode_;
    }
    while (!quit_) {
        TimePoint wake = TimePoint::max();
        bool progress = true;
        while (progress && !quit_) {
            wake = TimePoint::max();
            babble(Clock::now(), wake);
            progress = processInput(Clock::now(), wake);
            progress = pumpOutput(Clock::now(), wake) || progress;
        }
        if (quit_)
            break;
        if (!mismatch_.empty())
            wake = std::min(wake, mismatchFlushAt_);
        const bool backingOff = Clock::now() < readBackoffUntil_;
        if (backingOff)
            wake = std::min(wake, readBackoffUntil_);

        pollfd fds[4] = {};
        fds[0].fd = backingOff ? -1 : master_;
        fds[0].events = static_cast<short>(POLLIN | (wantWritable_ ? POLLOUT : 0));
        fds[1].fd = signalPipe_[0];
        fds[1].events = POLLIN;
        fds[2].fd = o_.stdinEof ? STDIN_FILENO : -1;
        fds[2].events = POLLIN;
        fds[3].fd = timer_;
        fds[3].events = POLLIN;
        // The wake-up is an absolute point on the monotonic clock: a timer descriptor armed
        // at it where there is one, else a timeout worked out at the last moment.
        timespec timeout {};
        timespec* timeoutPtr = nullptr;
        if (!armTimer(wake) && wake != TimePoint::max()) {
            const auto left = std::max(std::chrono::nanoseconds(0), wake - Clock::now());
            timeout.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000);
            timeout.tv_nsec = static_cast<long>(left.count() % 1'000'000'000);
            timeoutPtr = &timeout;
        }
        if (::ppoll(fds, 4, timeoutPtr, nullptr) < 0) {
            if (errno == EINTR)
                continue;
            std::cerr << "kavo-sim: poll failed: " << std::strerror(errno) << "\n";
            exitCode_ = 1;
            break;
        }
        const TimePoint woke = Clock::now();
        if (fds[3].revents) {
            // Expired: the next armTimer() sets it again.
            std::uint64_t expirations = 0;
            [[maybe_unused]] const ssize_t ignored = ::read(timer_, &expirations, sizeof expirations);
            timerAt_ = TimePoint::max();
        }
        if (fds[1].revents) {
            // SIGUSR1 makes the module go wrong now: it babbles from here on. Every other
            // signal ends the run.
            unsigned char signal = 0;
            if (::read(signalPipe_[0], &signal, 1) == 1 && signal == SIGUSR1) {
                babbling_ = true;
            } else if (signal != 0) {
                quit_ = true;
                break;
            }
        }
        if (fds[2].revents) {
            char buffer[256];
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                quit_ = true;
                break;
            }
        }
        if (fds[0].revents)
            readLine(woke);
        if (!mismatch_.empty() && Clock::now() >= mismatchFlushAt_)
            flushMismatch(true);
    }
    tearDown();
    return exitCode_;
}

bool Sim::setUp()
{
    exitCode_ = 1;
    Settings settings;
    settings.d = rateIndex(o_.rate);
    std::string error;
    if (!o_.stateFile.empty() && !loadStateFile(o_.stateFile, settings, error)) {
        std::cerr << "kavo-sim: " << error << "\n";
        exitCode_ = 2;
        return false;
    }
    lineRate_ = kRates[settings.d];
    babbling_ = o_.babble || o_.babbleAfter == 0;

    std::optional<std::string> card;
    if (!o_.noCard) {
        if (o_.cardDir.empty()) {
            const char* tmp = std::getenv("TMPDIR");
            std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kavo-sim-card-XXXXXX";
            if (!::mkdtemp(pattern.data())) {
                std::cerr << "kavo-sim: cannot create a card folder: " << std::strerror(errno) << "\n";
                return false;
            }
            tempCard_ = pattern;
            card = pattern;
        } else {
            // Made where missing; what is there must be a folder of this user's, not a link.
            struct stat st {};
            const bool missing = ::lstat(o_.cardDir.c_str(), &st) != 0 && errno == ENOENT;
            if (missing && !makeDirs(o_.cardDir, error)) {
                std::cerr << "kavo-sim: --card: " << error << "\n";
                return false;
            }
            if (const std::string why = cardFolderProblem(o_.cardDir); !why.empty()) {
                std::cerr << "kavo-sim: --card: the card folder " << o_.cardDir << " " << why << "\n";
                return false;
            }
            card = o_.cardDir;
        }
    }
    module_ = std::make_unique<Module>(card, o_.capacityKiB, o_.identity, o_.serial, settings);

    if (!o_.logFile.empty()) {
        log_ = std::fopen(o_.logFile.c_str(), "w");
        if (!log_) {
            std::cerr << "kavo-sim: cannot write log " << o_.logFile << ": " << std::strerror(errno) << "\n";
            return false;
        }
        std::setvbuf(log_, nullptr, _IOLBF, 0);
    }

    if (::pipe2(signalPipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::cerr << "kavo-sim: pipe: " << std::strerror(errno) << "\n";
        return false;
    }
    gSignalWriteFd = signalPipe_[1];
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGUSR1})
        ::sigaction(sig, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

#ifdef __linux__
    // Wake-ups land on the exact point asked for, not up to the default slack later.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    timer_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
#endif

    if (o_.random) {
        random_ = *o_.random;
        std::cerr << "kavo-sim: random faults, start value " << *o_.random << "\n";
    }

    if (!openLine() || !publish())
        return false;
    exitCode_ = 0;
    return true;
}

void Sim::tearDown()
{
    if (babbled_ > 0) {
        std::cerr << "kavo-sim: babbled " << babbled_ << " bytes\n";
        babbled_ = 0;
    }
    removeLink();
    if (master_ >= 0)
        ::close(master_);
    if (slave_ >= 0)
        ::close(slave_);
    master_ = slave_ = -1;
    module_.reset();
    if (log_) {
        std::fclose(log_);
        log_ = nullptr;
    }
    if (!tempCard_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(tempCard_, ec);
        tempCard_.clear();
    }
    gSignalWriteFd = -1;
    if (timer_ >= 0)
        ::close(timer_);
    timer_ = -1;
    for (int& fd : signalPipe_) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

bool Sim::armTimer(TimePoint wake)
{
#ifdef __linux__
    if (timer_ < 0)
        return false;
    if (wake == timerAt_)
        return true;
    itimerspec when {};
    if (wake != TimePoint::max()) {
        // steady_clock counts CLOCK_MONOTONIC; a point already past fires at once.
        const auto ns = std::max<long long>(
            1, std::chrono::duration_cast<std::chrono::nanoseconds>(wake.time_since_epoch()).count());
        when.it_value.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
        when.it_value.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    }
    if (::timerfd_settime(timer_, TFD_TIMER_ABSTIME, &when, nullptr) != 0) {
        timerAt_ = TimePoint::max();
        return false;
    }
    timerAt_ = wake;
    return true;
#else
    (void)wake;
    return false;
#endif
}

void Sim::readLine(TimePoint arrived)
{
    unsigned char buffer[4096];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n <= 0) {
        // Should not happen while the slave is held open; do not spin if it does.
        readBackoffUntil_ = Clock::now() + std::chrono::milliseconds(100);
        return;
    }
    // Everything read was there when the poll woke: that is its arrival. What the tool sent
    // after our last paced write it sent as much later as that write was late (the tool
    // answers what it sees); the schedule gives that time back, so our own late wake-ups
    // do not add up over a transfer.
    const ToolLine tool = toolLine();
    const TimePoint sent = arrived >= outWrote_ ? arrived - outLate_ : arrived;
    for (ssize_t i = 0; i < n; ++i) {
        TimePoint due = arrived;
        if (o_.pace) {
            inClock_ = std::max(inClock_, sent) + byteTime(tool.rate);
            due = inClock_;
        }
        in_.push_back({buffer[i], tool.rate, tool.frame, arrived, due});
    }
}

std::size_t Sim::takenTogether() const
{
    // Follows handleByte() without doing anything: the waiting bytes up to the first one that
    // makes the module answer, log or hang up. Those before it only add to the line being
    // typed or to the data being received, where nothing shows, so they are handled together
    // with it once it is due: one wake-up for a command, or for a kilobyte of data.
    // With --echo every byte taken shows.
    if (o_.echo && !silent())
        return 1;
    std::string line = line_;
    bool data = dataMode_;
    std::size_t dataLeft = data ? write_.count - write_.data.size() : 0;
    TimePoint dataLast = write_.last;
    const std::chrono::milliseconds writeLimit(10 * module_->settings().t);
    bool esc = escPending_;
    std::size_t mismatch = mismatch_.size();
    long long received = received_;
    const std::size_t waiting = std::min(in_.size(), kMaxTakenTogether);
    for (std::size_t i = 0; i < waiting; ++i) {
        const InByte& in = in_[i];
        const std::size_t taken = i + 1;
        if (o_.hangupAfter > 0 && ++received >= o_.hangupAfter)
            return taken;
        if (!heard(in)) {
            if (in.byte == '\r' || ++mismatch >= 256)
                return taken;
            line.clear();
            data = esc = false;
            continue;
        }
        if (mismatch > 0)
            return taken;
        if (data) {
            // After a pause longer than setting T the module gives up on the data before
            // this byte comes.
            if (writeLimit.count() > 0 && timeOf(in) - dataLast > writeLimit)
                return std::max<std::size_t>(i, 1);
            dataLast = timeOf(in);
            if (--dataLeft == 0)
                return taken;
            continue;
        }
        if (in.byte == '\x1b') {
            if (!o_.probeReply)
                return taken;
            line.clear();
            esc = true;
            continue;
        }
        if (in.byte == '\r') {
            int count = 0;
            if (esc || !Module::isWrite(line, count))
                return taken;
            line.clear();
            data = true;
            dataLeft = static_cast<std::size_t>(count);
            dataLast = timeOf(in);
            continue;
        }
        if (esc)
            return taken;
        if (line.size() < kMaxLine)
            line += static_cast<char>(in.byte);
    }
    return waiting;
}

// Something that is not a Kavo (a receiver of position fixes, a console on the wrong port):
// a line of text every --babble-interval ms (20), whatever the tool sends, and never a
// prompt. At interval 0 the text goes out as fast as the line takes it: a run of lines
// whenever the one before is out, the tool's commands taken in between.
void Sim::babble(TimePoint now, TimePoint& wake)
{
    if (!babbling_)
        return;
    static const std::string sentence = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
    if (o_.babbleIntervalMs == 0) {
        // What the tool sent is taken first (it waits only while text is going out).
        if (out_.empty() && in_.empty()) {
            std::string run;
            while (run.size() < 16384)
                run += sentence;
            out_.push_back({OutItem::Bytes, std::move(run), 0, false, true});
        }
        return;
    }
    if (now >= nextBabble_) {
        out_.push_back({OutItem::Bytes, sentence, 0, false, true});
        nextBabble_ = now + std::chrono::milliseconds(o_.babbleIntervalMs);
    }
    wake = std::min(wake, nextBabble_);
}

bool Sim::processInput(TimePoint now, TimePoint& wake)
{
    bool progress = false;
    // One command at a time: the next byte is taken once the answer has gone out.
    while (out_.empty() && !quit_) {
        if (writeTimedOut(now, wake)) {
            giveUpWrite();
            progress = true;
            continue;
        }
        if (in_.empty())
            break;
        const InByte in = in_.front();
        if (o_.pace && now < in.due) {
            // Asleep until the byte that does something is due, not one wake-up per byte.
            wake = std::min(wake, in_[takenTogether() - 1].due);
            break;
        }
        in_.pop_front();
        takenDue_ = in.due;
        handleByte(in);
        progress = true;
    }
    return progress;
}

bool Sim::pumpOutput(TimePoint now, TimePoint& wake)
{
    bool progress = false;
    wantWritable_ = false;
    while (!out_.empty() && !quit_) {
        if (now < outWaitUntil_) {
            wake = std::min(wake, outWaitUntil_);
            break;
        }
        OutItem& item = out_.front();
        if (item.kind == OutItem::Delay) {
            // Paced, the pause starts when what went before it is over on the line.
            if (o_.pace) {
                outClock_ += std::chrono::milliseconds(item.value);
                outWaitUntil_ = outClock_;
            } else {
                outWaitUntil_ = now + std::chrono::milliseconds(item.value);
            }
            out_.pop_front();
            progress = true;
            continue;
        }
        if (item.kind == OutItem::SetRate) {
            lineRate_ = item.value;
            out_.pop_front();
            progress = true;
            continue;
        }
        if (item.kind == OutItem::Hangup) {
            hangUp();
            return true;
        }
        if (item.bytes.empty()) {
            out_.pop_front();
            continue;
        }
        std::size_t allowed = item.bytes.size();
        std::chrono::nanoseconds perByte {};
        if (o_.pace) {
            perByte = byteTime(toolRate());
            // Byte k from here is fully on the line at outClock_ + (k + 1) * perByte and goes
            // no sooner. One wake-up sends a run: what the line carries in kOutputRun, at least
            // one byte, and never past the end of this piece, so the byte that completes a
            // piece (the prompt) goes exactly when it is due.
            if (now < outClock_ + perByte) {
                const auto run = std::clamp<std::size_t>(static_cast<std::size_t>(kOutputRun / perByte), 1,
                                                         item.bytes.size());
                wake = std::min(wake, outClock_ + perByte * static_cast<std::chrono::nanoseconds::rep>(run));
                break;
            }
            allowed = std::min<std::size_t>(allowed, static_cast<std::size_t>((now - outClock_) / perByte));
        }
        if (o_.splitBytesMs >= 0)
            allowed = 1;
        const TimePoint writing = Clock::now();
        const ssize_t n = ::write(master_, item.bytes.data(), allowed);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN) {
                wantWritable_ = true;
                break;
            }
            std::cerr << "kavo-sim: write to the line failed: " << std::strerror(errno) << "\n";
            out_.clear();
            break;
        }
        progress = true;
        if (item.babble)
            babbled_ += n;
        if (!item.notAnAnswer)
            answerDone_ = Clock::now();
        if (o_.pace) {
            outClock_ += perByte * n;
            outWrote_ = writing;
            outLate_ = std::clamp<std::chrono::nanoseconds>(writing - outClock_, {}, kMaxMakeUp);
        }
        item.bytes.erase(0, static_cast<std::size_t>(n));
        if (item.bytes.empty())
            out_.pop_front();
        if (o_.splitBytesMs > 0)
            outWaitUntil_ = now + std::chrono::milliseconds(o_.splitBytesMs);
        now = Clock::now();
    }
    return progress;
}

void Sim::handleByte(const InByte& in)
{
    ++received_;
    const char c = static_cast<char>(in.byte);
    if (!heard(in)) {
        if (mismatch_.empty())
            mismatchStart_ = in.arrived;
        mismatchLast_ = in.arrived;
    } else {
        if (!entryStart_)
            entryStart_ = in.arrived;
        lastArrived_ = in.arrived;
    }
    if (o_.hangupAfter > 0 && received_ >= o_.hangupAfter) {
        flushMismatch(false);
        log(in.rate, dataMode_ ? write_.command : line_ + c, "", "hangup");
        hangUp();
        return;
    }
    if (!heard(in)) {
        // A line at the wrong rate or in the wrong frame delivers garbage: the module hears
        // nothing it understands.
        if (dataMode_ || escPending_ || !line_.empty())
            resetParser();
        if (mismatch_.empty())
            mismatchRate_ = in.rate;
        mismatchWrongRate_ = mismatchWrongRate_ || in.rate != lineRate_;
        mismatchWrongFrame_ = mismatchWrongFrame_ || !in.frame.plain();
        mismatchLine_ = {in.rate, in.frame};
        mismatch_ += c;
        mismatchFlushAt_ = Clock::now() + kMismatchQuiet;
        if (c == '\r' || mismatch_.size() >= 256)
            flushMismatch(true);
        return;
    }
    // The tool has come round to the module's rate and frame before the module answered the
    // garbage: the answer would reach it intact, and no module answers a run without its CR.
    flushMismatch(false);
    if (o_.echo)
        queue({{OutItem::Bytes, std::string(1, c), 0, true}});
    if (dataMode_) {
        write_.data += c;
        write_.last = timeOf(in);
        if (write_.data.size() == write_.count)
            finishWrite(in.rate);
        return;
    }
    if (c == '\x1b') {
        line_.clear();
        if (o_.probeReply) {
            escPending_ = true;
            return;
        }
        if (const Chunked* reply = replyFor("\x1b"))
            respondVerbatim(in.rate, "\x1b", *reply, {});
        else
            respond(in.rate, "\x1b", false, [] { return Reply{}; }, {});
        return;
    }
    if (c == '\r') {
        handleLine(in);
        return;
    }
    if (escPending_) {
        // --probe-reply answers ESC only together with the CR after it.
        log(in.rate, "\x1b", "", "");
        escPending_ = false;
    }
    if (line_.size() < kMaxLine)
        line_ += c;
}

void Sim::handleLine(const InByte& in)
{
    const int rate = in.rate;
    std::string line;
    line.swap(line_);
    if (escPending_) {
        escPending_ = false;
        respondVerbatim(rate, "\x1b", *o_.probeReply, {});
        return;
    }
    const Chunked* reply = replyFor(line);
    int count = 0;
    if (Module::isWrite(line, count)) {
        dataMode_ = true;
        write_ = PendingWrite{line, static_cast<std::size_t>(count), {}, ++writes_, reply, rate, timeOf(in)};
        write_.data.reserve(write_.count);
        return;
    }
    if (reply)
        respondVerbatim(rate, line, *reply, {});
    else
        respond(rate, line, !line.empty(), [&] { return module_->execute(line); }, {});
    if (!line.empty())
        lineAnswered();
}

void Sim::finishWrite(int rate)
{
    dataMode_ = false;
    PendingWrite write = std::move(write_);
    write_ = PendingWrite{};
    const std::string note = "data=" + std::to_string(write.count);
    if (write.reply) {
        respondVerbatim(rate, write.command, *write.reply, note);
    } else if (write.index == o_.writeErrorAt) {
        respondVerbatim(rate, write.command, o_.writeErrorText, note);
    } else if (write.index == o_.writeSilentAt) {
        log(rate, write.command, "", note);
    } else {
        respond(rate, write.command, true, [&] { return module_->writeData(write.data); }, note);
    }
    lineAnswered();
}

bool Sim::writeTimedOut(TimePoint now, TimePoint& wake) const
{
    // Setting T: how long the module waits for the next byte of an "FC W", in 10 ms; 0 waits
    // for ever.
    if (!dataMode_ || module_->settings().t == 0)
        return false;
    const TimePoint giveUpAt = write_.last + std::chrono::milliseconds(10 * module_->settings().t);
    if (!in_.empty() && timeOf(in_.front()) <= giveUpAt)
        return false;
    if (now >= giveUpAt)
        return true;
    wake = std::min(wake, giveUpAt);
    return false;
}

void Sim::giveUpWrite()
{
    // What came of the data is dropped; what comes next is command text again.
    const TimePoint gaveUp = write_.last + std::chrono::milliseconds(10 * module_->settings().t);
    dataMode_ = false;
    PendingWrite write = std::move(write_);
    write_ = PendingWrite{};
    takenDue_ = std::max(takenDue_, gaveUp);
    respond(write.rate, write.command, false, [] { return Module::dataTimedOut(); },
            "write-timeout=" + std::to_string(write.data.size()));
    lineAnswered();
}

void Sim::lineAnswered()
{
    ++linesAnswered_;
    if (o_.babbleAfter >= 0 && linesAnswered_ >= o_.babbleAfter)
        babbling_ = true;
}

void Sim::flushMismatch(bool answer)
{
    if (mismatch_.empty())
        return;
    std::string command;
    command.swap(mismatch_);
    if (command.back() == '\r')
        command.pop_back();
    std::string note;
    if (mismatchWrongRate_)
        note = "rate-mismatch";
    if (mismatchWrongFrame_)
        note += note.empty() ? "format-mismatch" : " format-mismatch";
    mismatchWrongRate_ = mismatchWrongFrame_ = false;
    // The module takes the garbage for an unknown command and answers it at its own rate and
    // in its own frame; the tool reads that as its receiver is set.
    std::string garbled;
    if (answer && !o_.mismatchSilent)
        garbled = garble(o_.prefix.joined() + "E01>" + o_.suffix.joined(), lineRate_, mismatchLine_.rate,
                         mismatchLine_.frame);
    loggingMismatch_ = true;
    log(mismatchRate_, command, silent() ? std::string() : garbled, note);
    loggingMismatch_ = false;
    if (!garbled.empty())
        queue({{OutItem::Bytes, garbled, 0, true}});
}

void Sim::resetParser()
{
    line_.clear();
    escPending_ = false;
    dataMode_ = false;
    write_ = PendingWrite{};
    entryStart_.reset();
}

void Sim::hangUp()
{
    removeLink();
    if (master_ >= 0)
        ::close(master_);
    if (slave_ >= 0)
        ::close(slave_);
    master_ = slave_ = -1;
    out_.clear();
    quit_ = true;
    exitCode_ = 0;
}

const Chunked* Sim::replyFor(const std::string& line) const
{
    if (o_.replies.empty())
        return nullptr;
    auto it = o_.replies.find(line);
    if (it == o_.replies.end())
        it = o_.replies.find(normalizeBlanks(line));
    return it == o_.replies.end() ? nullptr : &it->second;
}

void Sim::delayAnswer(const std::string& line, Items& items) const
{
    if (o_.delays.empty())
        return;
    auto it = o_.delays.find(line);
    if (it == o_.delays.end())
        it = o_.delays.find(normalizeBlanks(line));
    if (it != o_.delays.end() && it->second > 0)
        items.insert(items.begin(), OutItem{OutItem::Delay, {}, it->second});
}

void Sim::appendChunked(Items& items, const Chunked& text) const
{
    for (std::size_t i = 0; i < text.pieces.size(); ++i) {
        if (i > 0)
            items.push_back({OutItem::Delay, {}, o_.chunkDelayMs});
        if (!text.pieces[i].empty())
            items.push_back({OutItem::Bytes, text.pieces[i], 0});
    }
}

void Sim::queue(Items items)
{
    // Paced, an answer starts when the byte it answers was due on the line, however late
    // that byte was handled; when the line is still busy sending, it follows on.
    if (o_.pace && out_.empty())
        outClock_ = std::max(outClock_, takenDue_);
    for (OutItem& item : items) {
        if (silent() && (item.kind == OutItem::Bytes || item.kind == OutItem::Delay))
            continue;
        out_.push_back(std::move(item));
    }
}

namespace {

std::string sentBytes(const std::vector<std::string>& pieces)
{
    std::string all;
    for (const std::string& piece : pieces)
        all += piece;
    return all;
}

std::string joinNotes(std::initializer_list<std::string_view> notes)
{
    std::string all;
    for (const std::string_view note : notes) {
        if (note.empty())
            continue;
        if (!all.empty())
            all += ' ';
        all += note;
    }
    return all;
}

} // namespace

void Sim::respond(int rate, const std::string& command, bool faultable, const std::function<Reply()>& execute,
                  std::string note)
{
    const Fault fault = faultable && o_.random ? rollFault() : Fault::None;
    Reply reply = fault == Fault::Error ? faultError() : execute();
    Items items;
    appendChunked(items, o_.prefix);
    const std::size_t answerAt = items.size();
    items.push_back({OutItem::Bytes, reply.body + '>', 0});
    appendChunked(items, o_.suffix);
    if (fault != Fault::None)
        applyFault(fault, items, answerAt, reply);
    if (reply.newRateIndex >= 0)
        items.push_back({OutItem::SetRate, {}, kRates[reply.newRateIndex]});
    delayAnswer(command, items);

    std::vector<std::string> sent;
    for (const OutItem& item : items) {
        if (item.kind == OutItem::Bytes)
            sent.push_back(item.bytes);
    }
    log(rate, command, silent() ? std::string() : sentBytes(sent),
        joinNotes({reply.note, note, faultNote(fault, reply)}));
    queue(std::move(items));
}

void Sim::respondVerbatim(int rate, const std::string& command, const Chunked& text, std::string note)
{
    Items items;
    appendChunked(items, text);
    delayAnswer(command, items);
    log(rate, command, silent() ? std::string() : text.joined(), note);
    queue(std::move(items));
}

void Sim::log(int rate, std::string_view command, std::string_view answer, std::string_view note)
{
    if (!log_)
        return;
    std::string notes(note);
    if (o_.markEarly) {
        // The entry began before the answer to the entry before it had gone out completely:
        // the tool did not wait for that answer. Entries without an answer count as done
        // when their last byte came. A read always comes after the writes before it, so
        // "began" and "done" compare like the events on the line.
        const std::optional<TimePoint> began = loggingMismatch_ ? std::optional(mismatchStart_) : entryStart_;
        if (began && *began < answerDone_) {
            const auto us = std::chrono::duration_cast<std::chrono::microseconds>(answerDone_ - *began).count();
            if (!notes.empty())
                notes += ' ';
            notes += "early=" + std::to_string((us + 999) / 1000);
        }
        answerDone_ = loggingMismatch_ ? mismatchLast_ : lastArrived_;
    }
    if (!loggingMismatch_)
        entryStart_.reset();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count();
    std::fprintf(log_, "%lld\t%d\t%s\t%s\t%s\n", static_cast<long long>(ms), rate, escapeForLog(command).c_str(),
                 escapeForLog(answer).c_str(), escapeForLog(notes).c_str());
    std::fflush(log_);
}

} // namespace kavosim
