// The randomized fault soak. Two kavo-sim modules in random-fault mode (garbage and
// out-of-range replies, error replies, replies split at random points, silence, bytes
// after the prompt, hang-ups, rate changes) stand on COM1 and COM2, some of them also
// echoing every byte, answering the play and card-file close commands late, or starting
// to send without end after a while. A driver uses the window as a user does, through its
// controls: it clicks Open/Close, Read, Write and Play, edits the settings (spinners,
// lists, check boxes, typed numbers), toggles automatic detection, picks ports and bit
// rates, takes the test file off a card, pulls a module, points a COM link at the other
// module while its port is open, follows a read that stopped with a Write, closes the
// window and restarts the program, all at random. While an operation runs (on the
// session's thread), a timer clicks the disabled buttons, edits, picks ports and rates,
// pulls modules and closes the window; every message box gets some of that before it is
// answered Yes, No or OK at random (the question about changed settings: Discard mostly,
// Cancel now and then, Discard always when the driver closes the window).
//
// What must hold is checked after every step and while operations run, from outside the
// window: Soak::checkWhileBusy(), Soak::checkIdle(), LineCheck (nothing interleaved on the
// line), Soak::checkUpload(), Soak::checkSettingWritten() (settings go only to the module
// the window was connected to when Write was clicked), that every enabled click begins
// one operation and nothing done during it begins another, and the time bound of every
// click, from the click until the window is idle again (Soak::boundMs()), and of closing
// the window (Soak::closeBoundMs()).
//
// The driver's random start value is printed at the start. KAVO_SOAK_RANDOM=<n> runs the
// same driver decisions again; the simulators' faults follow their own start values (drawn
// by the driver) and the traffic, and the traffic depends on timing, so a replay retraces
// the run closely rather than exactly. KAVO_SOAK_OPERATIONS (300) and KAVO_SOAK_SECONDS
// (150) bound a run; an operation in progress when the time is up is finished first.
// KAVO_SOAK_TRAIL=1 prints every step.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

#include "link/comports.h"
#include "link/kavolink.h"
#include "playtest/testfile.h"
#include "settings/settingtable.h"
#include "support/kavosim.h"
#include "support/messageboxes.h"
#include "support/testenv.h"
#include "support/windowdriver.h"
#include "support/windowfixture.h"

#if defined(__SANITIZE_ADDRESS__)
#define KAVO_SOAK_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KAVO_SOAK_SANITIZED 1
#endif
#endif

// The time a reply wait may take at most, and the margin a click has beyond its waits (see
// Soak::boundMs()); the sanitizers slow everything down.
#ifdef KAVO_SOAK_SANITIZED
constexpr qint64 PerWaitMs = 2500, MarginMs = 15000;
#else
constexpr qint64 PerWaitMs = 1500, MarginMs = 5000;
#endif

// Counts the operations the window begins: its "busy" property turning true, as its
// busyChanged signal tells, where the window has that signal.
class SoakOperationCounter : public QObject
{
    Q_OBJECT
public:
    // False when the window does not tell (the count is then not kept).
    bool attach(QObject *window)
    {
        if (window->metaObject()->indexOfSignal("busyChanged(bool)") < 0)
            return false;
        return bool(connect(window, SIGNAL(busyChanged(bool)), this, SLOT(changed(bool))));
    }
    int begun = 0;

public slots:
    void changed(bool busy)
    {
        if (busy)
            ++begun;
    }
};

namespace {

const QString CardPath = QStringLiteral("/KAVOTEST.MP3");
const QString PlayCommand = QStringLiteral("PC F /KAVOTEST.MP3");
const QString OpenCommand = QStringLiteral("FC O 1 W /KAVOTEST.MP3");
const QString CloseCommand = QStringLiteral("FC C 1");
const QString UploadComplete = QStringLiteral("Upload complete");
const QString AllReceived = QStringLiteral("All Settings Received");

// The controls of the nine settings, by their names.
const char *const SettingStrings[] = {"outKAVOBPS", "outWriteTimeout", "outInputStyle", "outFileOffset", "outBusyIndicator",
                                      "outVolume",  "outLoopCount",    "outBassBoost",  "outUninterrupted"};
const char *const Spinners[] = {"vscWriteTimeout", "vscFileOffset", "vscVolumeL", "vscVolumeR",
                                "vscLoopCount",    "vscBBFreq",     "vscBBBoost"};
const char *const SettingLists[] = {"lstKAVOBPS", "lstInputStyle"};
const char *const SettingChecks[] = {"chkBusyIndicator", "chkVolumeLocked", "chkBassBoost", "chkUninterrupted"};
// A number box, the highest number it takes and the step its numbers go in.
struct NumberBox {
    const char *name;
    int highest;
    int step;
};
const NumberBox NumberBoxes[] = {{"txtWriteTimeout", 254, 1}, {"txtFileOffset", 32767, 1}, {"txtVolumeL", 254, 1},
                                 {"txtVolumeR", 254, 1},      {"txtLoopCount", 254, 1},    {"txtBBFreq", 150, 10},
                                 {"txtBBBoost", 15, 1}};
const char *const OperationButtons[] = {"cmdOpenCOM", "cmdReadSettings", "cmdWriteSettings", "cmdPlayTest"};

// The local test file: 11 full pieces and a short one, with the bytes the line treats
// specially elsewhere (prompt, CR, ESC, LF, NUL) among them.
QByteArray localTestBytes()
{
    QByteArray bytes(11 * 512 + 368, '\0');
    quint32 x = 2005u;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        x = x * 1664525u + 1013904223u;
        bytes[i] = char(x >> 24);
    }
    const char special[] = {'>', '\r', '\x1b', '\n', '\0'};
    for (qsizetype i = 0; i < bytes.size(); i += 89)
        bytes[i] = special[(i / 89) % 5];
    return bytes;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

quint64 envNumber(const char *name, quint64 fallback, bool *given = nullptr)
{
    bool ok = false;
    const quint64 n = qEnvironmentVariable(name).toULongLong(&ok);
    if (given)
        *given = ok;
    return ok ? n : fallback;
}

// Runs the event loop until `done` holds or `ms` have passed; true when it holds. What the
// session's thread hands to the window is handled the moment it comes; `done` is looked at
// every few milliseconds.
bool waitUntil(const std::function<bool()> &done, qint64 ms)
{
    if (done())
        return true;
    const QDeadlineTimer deadline(ms);
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || deadline.hasExpired())
            loop.quit();
    });
    poll.start();
    while (!done() && !deadline.hasExpired())
        loop.exec();
    return done();
}

// The pseudo-terminals (the simulators' ports) this process holds open: 0, 1 and 2 are left
// out, they may be the terminal the tests run in. A device that has gone (its simulator
// ended) is named with Gone after it.
const QString Gone = QStringLiteral(" (deleted)");

QStringList ptyDevices()
{
    QStringList devices;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &entry : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        if (entry.toInt() <= 2)
            continue;
        const QString target = QFileInfo(fds.filePath(entry)).symLinkTarget();
        if (target.startsWith(QStringLiteral("/dev/pts/")))
            devices << target;
    }
    return devices;
}

// --- the traffic log, read as it grows ---------------------------------------------------

// Complete lines only: a line being written has no line end yet.
class LogReader
{
public:
    explicit LogReader(QString path) : m_path(std::move(path)) {}
    QList<TrafficLine> take()
    {
        QList<TrafficLine> lines;
        QFile file(m_path);
        if (!file.open(QIODevice::ReadOnly) || !file.seek(m_offset))
            return lines;
        const QByteArray bytes = file.readAll();
        const qsizetype end = bytes.lastIndexOf('\n');
        if (end < 0)
            return lines;
        m_offset += end + 1;
        for (const QByteArray &raw : bytes.left(end).split('\n'))
            lines << TrafficLine::parse(raw);
        return lines;
    }

private:
    QString m_path;
    qint64 m_offset = 0;
};

bool hasNote(const TrafficLine &line, const QString &note)
{
    const QStringList notes = line.note.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &n : notes)
        if (n == note || n.startsWith(note + QLatin1Char('=')))
            return true;
    return false;
}

QString describe(const TrafficLine &line)
{
    return QStringLiteral("%1 ms  %2  '%3' -> '%4'  %5").arg(line.ms).arg(line.rate).arg(line.command, line.answer, line.note);
}

// Nothing interleaved on the line. The simulator (--mark-early) notes "early=<ms>" on every
// log entry whose first byte it read before it had written the last byte of the previous
// entry's answer, i.e. a command the tool sent while that answer was still on its way.
// The tool waits for the answer of every command it sends (those to "PC F" and "FC C 1"
// too, which some modules here give late), with these exceptions:
//  - the probe sends ESC and CR together: the empty command right after "\e";
//  - a prompt in the bytes after the prompt of a faulty answer (the answer holds a '>'
//    before its end) can land after the next exchange emptied BufferIn and end that
//    exchange's wait early; the tool is then one answer behind the module until the line
//    is quiet, and its next commands may come early too. A gap of 1.5 s between two
//    entries (more than the longest split answer, 0.36 s, plus the 1 s time-out) means the
//    line was quiet and the tool caught up;
//  - a window closed in the middle of an exchange leaves its answer unread: the next
//    program's first commands may come while it is still arriving (abandoned()).
// Any other early entry is two exchanges on the line at once.
class LineCheck
{
public:
    // An empty text, or what is wrong.
    QString take(const TrafficLine &line)
    {
        QString problem;
        if (m_haveLast && line.ms - m_last.ms >= 1500)
            m_behind = false;
        if (hasNote(line, QStringLiteral("early"))) {
            const bool probeCr = m_haveLast && line.command.isEmpty() && m_last.command == QStringLiteral("\\e");
            if (probeCr)
                ++probeCrs;
            else if (m_behind)
                ++tolerated;
            else
                problem = QStringLiteral("a command came while the previous answer was still on its way:\n  %1\n  %2")
                              .arg(m_haveLast ? describe(m_last) : QStringLiteral("(none)"), describe(line));
        }
        const qsizetype prompt = line.answer.indexOf(QLatin1Char('>'));
        const bool promptInside = prompt >= 0 && prompt < line.answer.size() - 1;
        if (promptInside)
            m_behind = true;
        m_last = line;
        m_haveLast = true;
        return problem;
    }

    // The program ended an exchange without its answer.
    void abandoned() { m_behind = true; }

    int probeCrs = 0;
    int tolerated = 0;

private:
    TrafficLine m_last;
    bool m_haveLast = false;
    bool m_behind = false;
};

// --- one COM port and the simulators that stand on it over the run ------------------------

struct SimSlot {
    int com = 0;
    QString cardDir;
    std::unique_ptr<KavoSim> sim;
    std::unique_ptr<LogReader> reader;
    LineCheck lineCheck;
    QList<TrafficLine> opLines;   // this slot's log lines of the step in progress
    bool noCard = false;
    bool babbles = false;          // sends without end after some command lines
    int steps = 0;                 // steps since this simulator started
    int started = 0;
};

// The module the window is connected to: a slot and which of the simulators started on
// it; no slot while the window is connected to none.
struct SettingsSource {
    const SimSlot *slot = nullptr;
    int started = 0;
    bool operator==(const SettingsSource &) const = default;
};

// Every text a label shows while the watch runs, beginning with the one it found. It looks
// before each event the program's thread handles: what the session's thread says comes as
// events of their own, one text each, so a text that the next one replaces at once is seen
// too.
class StatusWatch : public QObject
{
public:
    void start(QLabel *panel)
    {
        m_panel = panel;
        texts.clear();
        poll();
        qApp->installEventFilter(this);
    }
    void stop()
    {
        poll();
        qApp->removeEventFilter(this);
        m_panel = nullptr;
    }
    QStringList texts;

protected:
    bool eventFilter(QObject *, QEvent *) override
    {
        poll();
        return false;
    }

private:
    void poll()
    {
        if (m_panel && (texts.isEmpty() || texts.last() != m_panel->text()))
            texts << m_panel->text();
    }
    QPointer<QLabel> m_panel;
};

enum class Op {
    Connect, Close, Read, Write, Play, DisabledClick, Edit, ToggleAuto, PickRate, PickPort,
    RemoveCardFile, PullModule, RepointLink, RestartProgram, Count
};

const char *opName(Op op)
{
    switch (op) {
    case Op::Connect: return "connect";
    case Op::Close: return "close";
    case Op::Read: return "read";
    case Op::Write: return "write";
    case Op::Play: return "play";
    case Op::DisabledClick: return "disabled-click";
    case Op::Edit: return "edit";
    case Op::ToggleAuto: return "toggle-auto";
    case Op::PickRate: return "pick-rate";
    case Op::PickPort: return "pick-port";
    case Op::RemoveCardFile: return "remove-card-file";
    case Op::PullModule: return "pull-module";
    case Op::RepointLink: return "repoint-link";
    case Op::RestartProgram: return "restart-program";
    case Op::Count: break;
    }
    return "?";
}

// --- the soak itself -----------------------------------------------------------------------

class Soak
{
public:
    Soak(quint32 start, int maxOperations, qint64 capMs, const QString &localDir)
        : m_start(start)
        , m_rng(start)
        , m_maxOperations(maxOperations)
        , m_capMs(capMs)
        , m_localDir(localDir)
        , m_local(localTestBytes())
    {
        m_pieces = int((m_local.size() + 511) / 512);
    }
    ~Soak();

    // False when a check failed; problems() says what.
    bool run();
    QStringList problems() const { return m_problems; }
    QString summary() const;
    QStringList trail() const { return m_trail; }

private:
    // set-up
    bool startSim(SimSlot &slot);
    bool ensureSims();
    void checkSimOutput(SimSlot &slot);
    bool openProgram();
    void closeProgram();

    // the window, seen from outside
    WindowDriver &d() { return *m_driver; }
    // The device of the port the process holds open; empty when none is (or more than one).
    static QString openDevice();
    bool windowGone() const { return m_windowClosed && (!w || !w->isVisible()); }
    static bool boxShown();

    // steps
    void step();
    void click(const QString &name, Op kind);
    void nudge();
    void nestedAction(const char *where);
    void answerBox(QMessageBox *box);
    void edit();
    void toggleAuto();
    void pickRate();
    void pickPort();
    void removeCardFile();
    void pullModule(const char *where);
    void awaitLoss(const SimSlot &slot, const QString &device);
    void retire(SimSlot &slot, const QString &why);
    void repointLink();
    void closeWindowNow(const char *where);

    // input as a user gives it: through the driver between operations (which then waits
    // until the window is idle), as plain events while one runs (nothing may wait then)
    void chooseEntry(const QString &list, int index);
    void pressKey(const QString &name, Qt::Key key);
    void typeNumber(const QString &box, const QString &text, Qt::Key end);
    void clickControl(const QString &name);

    // checks
    void fail(const QString &what);
    void checkWhileBusy(const QString &where);
    void checkIdle();
    void collectLines();
    void checkUpload(Op kind);
    void checkSettingWritten(const SimSlot &slot, const TrafficLine &line);
    void noteSettingsSource(Op kind);
    qint64 boundMs(Op kind) const;
    qint64 closeBoundMs() const;
    void noteLongest(const QString &what, qint64 ms);
    SimSlot *slotOf(const QString &portName);
    SimSlot *slotOfDevice(const QString &device);
    bool settingMissing();

    int pick(int n) { return int(m_rng.bounded(quint32(n))); }
    bool chance(int percent) { return pick(100) < percent; }
    void note(const QString &what);

    quint32 m_start;
    QRandomGenerator m_rng;
    int m_maxOperations;
    qint64 m_capMs;
    QString m_localDir;
    QByteArray m_local;
    int m_pieces = 0;

    std::vector<std::unique_ptr<SimSlot>> m_slots;
    std::unique_ptr<frmSerialData> m_window;
    std::unique_ptr<WindowDriver> m_driver;
    frmSerialData *w = nullptr;
    MessageBoxes m_boxes;
    QTimer m_nudge;
    StatusWatch m_status;
    SoakOperationCounter m_counter;
    bool m_counting = false;

    // the step in progress
    Op m_op = Op::Count;
    bool m_inClick = false;
    bool m_windowClosed = false;   // the driver closed the window (it may still ask first)
    QElapsedTimer m_closeClock;    // since the driver closed it
    bool m_writeNext = false;      // a read stopped: the next step is a Write
    SettingsSource m_source;
    SettingsSource m_writeSource;  // m_source when the last Write was clicked

    QStringList m_problems;
    QStringList m_trail;
    int m_operations = 0;
    QMap<QString, int> m_opCounts;
    QMap<QString, int> m_nestedCounts;
    QMap<QString, int> m_faults;
    QMap<QString, qint64> m_longest;
    int m_commands = 0;
    int m_boxesShown = 0;
    int m_uploadsComplete = 0;
    int m_playsSent = 0;
    int m_connected = 0;
    int m_lostPorts = 0;
    int m_simsStarted = 0;
    int m_earlyProbe = 0;
    int m_earlyTolerated = 0;
    int m_writesChecked = 0;
    int m_writesAfterStoppedRead = 0;
    int m_clicksCounted = 0;
    qint64 m_elapsed = 0;
};

Soak::~Soak()
{
    m_nudge.stop();
    m_boxes.onShown(nullptr);
    closeProgram();
}

void Soak::note(const QString &what)
{
    static const bool verbose = qEnvironmentVariableIntValue("KAVO_SOAK_TRAIL") != 0;
    if (verbose)
        qInfo().noquote() << QStringLiteral("#%1 %2").arg(m_operations).arg(what);
    m_trail << QStringLiteral("#%1 %2").arg(m_operations).arg(what);
    if (m_trail.size() > 40)
        m_trail.removeFirst();
}

void Soak::fail(const QString &what)
{
    // Only the first few: one fault tends to bring more behind it.
    if (m_problems.size() < 5)
        m_problems << QStringLiteral("step %1 (%2): %3").arg(m_operations).arg(QLatin1String(opName(m_op)), what);
}

bool Soak::startSim(SimSlot &slot)
{
    static const int rates[] = {9600, 19200, 38400, 57600, 115200};
    // Light faults let connects, writes and uploads run to their end; heavy ones make
    // every failure path run.
    static const int faultShares[] = {1, 2, 3, 5, 10, 25, 50, 70};
    const int rate = rates[pick(5)];
    const int faults = faultShares[pick(8)];
    const quint32 simStart = m_rng.generate();
    slot.noCard = chance(8);
    QStringList options = {QStringLiteral("--com"), QString::number(slot.com),
                           QStringLiteral("--rate"), QString::number(rate),
                           QStringLiteral("--random"), QString::number(simStart),
                           QStringLiteral("--faults"), QString::number(faults),
                           QStringLiteral("--mark-early")};
    if (slot.noCard)
        options << QStringLiteral("--no-card");
    else
        options << QStringLiteral("--card") << slot.cardDir;
    // Faults of their own: a console that echoes, a module that answers the play and the
    // card file's close late (within the 1 s a wait allows), a device that begins to send
    // without end after a few commands.
    QStringList extra;
    if (chance(6))
        extra << QStringLiteral("--echo");
    if (chance(25)) {
        extra << QStringLiteral("--delay") << QStringLiteral("%1=%2").arg(PlayCommand).arg(50 + pick(550))
              << QStringLiteral("--delay") << QStringLiteral("%1=%2").arg(CloseCommand).arg(50 + pick(550));
    }
    slot.babbles = chance(6);
    if (slot.babbles)
        extra << QStringLiteral("--babble-after") << QString::number(5 + pick(60));
    slot.steps = 0;
    options << extra;
    auto sim = std::make_unique<KavoSim>();
    if (!sim->start(options)) {
        fail(QStringLiteral("kavo-sim did not start on COM%1: %2").arg(slot.com).arg(sim->errorOutput()));
        return false;
    }
    slot.sim = std::move(sim);
    slot.reader = std::make_unique<LogReader>(slot.sim->logPath());
    slot.lineCheck = LineCheck();
    ++slot.started;
    ++m_simsStarted;
    note(QStringLiteral("COM%1: kavo-sim %2 at %3 bps on %4, --random %5 --faults %6%7%8")
             .arg(slot.com).arg(slot.started).arg(rate).arg(slot.sim->device()).arg(simStart).arg(faults)
             .arg(slot.noCard ? QStringLiteral(" --no-card") : QString(),
                  extra.isEmpty() ? QString() : QLatin1Char(' ') + extra.join(QLatin1Char(' '))));
    return true;
}

// A module that hung up (or was pulled) is plugged in again, on the same COM number.
bool Soak::ensureSims()
{
    // A pulled module leaves its COM link behind, pointing at a device number that the
    // next simulator started (on the other COM number) may get: all such links go first.
    std::vector<SimSlot *> dead;
    for (auto &slot : m_slots) {
        // A module that hung up has taken its link away at once, but its process may not
        // have been seen to end yet: it is gone all the same.
        const QFileInfo published(ComPorts::portsFolder() + QStringLiteral("/COM%1").arg(slot->com));
        if (slot->sim && slot->sim->running() && published.isSymLink()
            && published.symLinkTarget() == slot->sim->device())
            continue;
        if (slot->sim && slot->sim->running())
            slot->sim->terminate();
        dead.push_back(slot.get());
        if (!slot->sim)
            continue;
        const QFileInfo link(ComPorts::portsFolder() + QStringLiteral("/COM%1").arg(slot->com));
        if (link.isSymLink() && link.symLinkTarget() == slot->sim->device())
            QFile::remove(link.filePath());
    }
    for (SimSlot *slot : dead) {
        collectLines();   // the rest of the old log, before it goes with its folder
        if (slot->sim)
            checkSimOutput(*slot);
        if (!startSim(*slot))
            return false;
    }
    return true;
}

// A simulator ends by hanging up or being pulled; one that reports a sanitizer finding
// (the sanitizer build has it too) or any other trouble on its error output is a failure.
void Soak::checkSimOutput(SimSlot &slot)
{
    const QStringList lines = slot.sim->errorOutput().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QStringList trouble = lines.filter(QRegularExpression(QStringLiteral("^(?!kavo-sim: random faults, start value)")));
    if (!trouble.isEmpty())
        fail(QStringLiteral("COM%1: kavo-sim said:\n%2").arg(slot.com).arg(trouble.mid(0, 20).join(QLatin1Char('\n'))));
}

bool Soak::openProgram()
{
    if (!ensureSims())
        return false;
    m_window = openWindow();
    w = m_window.get();
    if (!w) {
        fail(QStringLiteral("the window did not load: no COM port"));
        return false;
    }
    m_driver = std::make_unique<WindowDriver>(w);
    m_counting = m_counter.attach(w);
    const int listed = d().find<QComboBox>(QStringLiteral("lstPCCOM"))->count();
    if (listed != int(m_slots.size()))
        fail(QStringLiteral("the port list holds %1 ports instead of %2").arg(listed).arg(m_slots.size()));
    m_source = {};
    m_windowClosed = false;
    return true;
}

// The window is closed as the user closes it (changed settings are discarded when it
// asks), the program ends: the window's destructor waits for the session's thread. From
// the driver's close until the window is gone takes at most closeBoundMs().
void Soak::closeProgram()
{
    if (!m_window)
        return;
    m_status.stop();
    if (!m_windowClosed) {
        m_windowClosed = true;
        m_closeClock.start();
        w->close();
    }
    if (!waitUntil([this] { return !w->isVisible(); }, closeBoundMs()))
        fail(QStringLiteral("the window was closed but still shows after %1 ms (status '%2')")
                 .arg(m_closeClock.elapsed())
                 .arg(d().status()));
    m_driver.reset();
    m_window.reset();
    w = nullptr;
    const qint64 took = m_closeClock.elapsed();
    noteLongest(QStringLiteral("window-close"), took);
    if (took > closeBoundMs())
        fail(QStringLiteral("closing the window took %1 ms, more than its %2 ms").arg(took).arg(closeBoundMs()));
    m_windowClosed = false;
}

// --- the window, seen from outside ----------------------------------------------------------

QString Soak::openDevice()
{
    QStringList devices = ptyDevices();
    return devices.size() == 1 ? devices.first().remove(Gone) : QString();
}

bool Soak::boxShown()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (qobject_cast<QMessageBox *>(widget) && widget->isVisible())
            return true;
    return false;
}

SimSlot *Soak::slotOf(const QString &portName)
{
    for (auto &slot : m_slots)
        if (QStringLiteral("COM%1").arg(slot->com) == portName)
            return slot.get();
    return nullptr;
}

SimSlot *Soak::slotOfDevice(const QString &device)
{
    for (auto &slot : m_slots)
        if (slot->sim && !device.isEmpty() && slot->sim->device() == device)
            return slot.get();
    return nullptr;
}

bool Soak::settingMissing()
{
    for (const char *out : SettingStrings)
        if (d().text(QLatin1String(out)).isEmpty())
            return true;
    return false;
}

// --- checks ---------------------------------------------------------------------------------

// While an operation runs (from a timer during a wait, or a message box): Open/Close,
// Read, Write and Play are disabled, and the caption agrees with the port lists.
void Soak::checkWhileBusy(const QString &where)
{
    if (!w || m_windowClosed || !d().busy())
        return;
    QStringList enabled;
    for (const char *name : OperationButtons)
        if (d().enabled(QLatin1String(name)))
            enabled << QLatin1String(name);
    if (!enabled.isEmpty())
        fail(QStringLiteral("%1: %2 enabled while an operation runs").arg(where, enabled.join(QStringLiteral(", "))));
    const QString caption = d().text(QStringLiteral("cmdOpenCOM"));
    if (caption != QStringLiteral("Open") && caption != QStringLiteral("Close"))
        fail(QStringLiteral("%1: the Open button reads '%2'").arg(where, caption));
    const bool comEnabled = d().enabled(QStringLiteral("lstPCCOM"));
    const bool bpsEnabled = d().enabled(QStringLiteral("lstPCBPS"));
    const bool listsEnabled = comEnabled && bpsEnabled;
    const bool listsDisabled = !comEnabled && !bpsEnabled;
    if ((caption == QStringLiteral("Open") && !listsEnabled) || (caption == QStringLiteral("Close") && !listsDisabled))
        fail(QStringLiteral("%1: caption '%2' with the port lists %3").arg(where, caption,
                                                                         listsEnabled ? QStringLiteral("enabled") : QStringLiteral("disabled")));
}

// Coherent when idle:
//  - no operation runs, nor does one begin once the events waiting have run; the Open
//    button is enabled and reads "Open" or "Close";
//  - "Open": Read, Write and Play are disabled, both port lists enabled, and the process
//    holds no descriptor on any simulator's line;
//  - "Close": Read, Write and Play are enabled, both port lists disabled, and the process
//    holds exactly one descriptor on a simulator's line, whose device is there. The port
//    lives on the session's thread, which opens and closes it, and notices a module that
//    vanished (the window then turns to "Open" and the descriptor goes): what the
//    descriptors show may follow what the window shows by a moment, so it is waited for,
//    within a bound;
//  - the progress bar is hidden (it shows during an upload only);
//  - every setting string is empty or a well-formed "ST" command with values in range.
void Soak::checkIdle()
{
    if (!w)
        return;
    QStringList wrong;
    const auto descriptorsAgree = [this] {
        const QStringList held = ptyDevices();
        return d().connected() ? held.size() == 1 && !held.first().endsWith(Gone) : held.isEmpty();
    };
    if (!waitUntil(descriptorsAgree, 5000))
        wrong << QStringLiteral("descriptors on [%1] 5 s after the window showed '%2'")
                     .arg(ptyDevices().join(QStringLiteral(", ")), d().text(QStringLiteral("cmdOpenCOM")));
    QCoreApplication::processEvents();
    const QString caption = d().text(QStringLiteral("cmdOpenCOM"));
    if (d().busy())
        wrong << QStringLiteral("an operation still runs");
    if (!d().enabled(QStringLiteral("cmdOpenCOM")))
        wrong << QStringLiteral("Open/Close disabled");
    const bool connected = caption == QStringLiteral("Close");
    if (!connected && caption != QStringLiteral("Open"))
        wrong << QStringLiteral("caption '%1'").arg(caption);
    for (const char *name : {"cmdReadSettings", "cmdWriteSettings", "cmdPlayTest"})
        if (d().enabled(QLatin1String(name)) != connected)
            wrong << QStringLiteral("%1 %2").arg(QLatin1String(name), connected ? QStringLiteral("disabled") : QStringLiteral("enabled"));
    for (const char *name : {"lstPCCOM", "lstPCBPS"})
        if (d().enabled(QLatin1String(name)) == connected)
            wrong << QStringLiteral("%1 %2").arg(QLatin1String(name), connected ? QStringLiteral("enabled") : QStringLiteral("disabled"));
    if (d().find<QProgressBar>(QStringLiteral("pbUploadFile"))->isVisible())
        wrong << QStringLiteral("progress bar shown");

    static const QRegularExpression form(QStringLiteral("^ST ([DTSNHVOBU]) (\\d+)(?: (\\d+))?$"));
    for (const char *name : SettingStrings) {
        const QString text = d().text(QLatin1String(name));
        if (text.isEmpty())
            continue;
        const auto m = form.match(text);
        const SettingTable::Setting *s = m.hasMatch() ? SettingTable::find(m.captured(1).at(0).toLatin1()) : nullptr;
        bool inRange = s && m.captured(2).toInt() >= s->minimum && m.captured(2).toInt() <= s->maximum;
        if (s && m.hasCaptured(3))
            inRange = inRange && s->kind == SettingTable::Kind::Volume && m.captured(3).toInt() >= s->minimum
                      && m.captured(3).toInt() <= s->maximum;
        if (!inRange)
            wrong << QStringLiteral("%1 reads '%2'").arg(QLatin1String(name), text);
    }
    if (!wrong.isEmpty())
        fail(QStringLiteral("window not coherent when idle: %1 (caption '%2', status '%3')")
                 .arg(wrong.join(QStringLiteral(", ")), caption, d().status()));
}

// New log lines of every simulator: counted, checked for interleaving, kept for the step.
void Soak::collectLines()
{
    for (auto &slot : m_slots) {
        if (!slot->reader)
            continue;
        for (const TrafficLine &line : slot->reader->take()) {
            slot->opLines << line;
            if (!line.command.isEmpty() && line.command != QStringLiteral("\\e"))
                ++m_commands;
            for (const QString &n : line.note.split(QLatin1Char(' '), Qt::SkipEmptyParts))
                if (n.startsWith(QStringLiteral("random:")))
                    ++m_faults[n.mid(7).section(QLatin1Char('='), 0, 0)];
            const QString problem = slot->lineCheck.take(line);
            if (!problem.isEmpty())
                fail(QStringLiteral("COM%1: %2").arg(slot->com).arg(problem));
            checkSettingWritten(*slot, line);
        }
        m_earlyProbe += slot->lineCheck.probeCrs;
        m_earlyTolerated += slot->lineCheck.tolerated;
        slot->lineCheck.probeCrs = slot->lineCheck.tolerated = 0;
    }
}

// An upload is reported complete ("Upload complete" on the status line, or the play
// command sent after the card file was written in the same click) only when the card file
// equals the local file.
void Soak::checkUpload(Op kind)
{
    // The first text is the one the click found; an upload shows "Uploading ..." before
    // it completes, so a completion in this click always shows as a change.
    const bool statusSaysComplete = m_status.texts.indexOf(UploadComplete, 1) > 0;
    bool anyPlayAfterUpload = false;
    for (auto &slot : m_slots) {
        bool uploaded = false;
        bool played = false;
        for (const TrafficLine &line : std::as_const(slot->opLines)) {
            if (line.command == OpenCommand)
                uploaded = true;
            if (line.command == PlayCommand) {
                ++m_playsSent;
                played = played || uploaded;
            }
        }
        if (!played && !(statusSaysComplete && uploaded))
            continue;
        anyPlayAfterUpload = anyPlayAfterUpload || played;
        ++m_uploadsComplete;
        const QByteArray card = readFile(slot->cardDir + CardPath);
        if (slot->noCard || card != m_local)
            fail(QStringLiteral("COM%1: upload %2 but the card file holds %3 bytes (%4 the local file's %5)")
                     .arg(slot->com)
                     .arg(played ? QStringLiteral("followed by the play command") : QStringLiteral("reported complete"))
                     .arg(card.size())
                     .arg(m_local.startsWith(card) ? QStringLiteral("the first of") : QStringLiteral("unlike"))
                     .arg(m_local.size()));
    }
    if (statusSaysComplete && kind != Op::Play)
        fail(QStringLiteral("\"Upload complete\" outside a play test"));
    if (statusSaysComplete && !anyPlayAfterUpload) {
        bool anyUpload = false;
        for (auto &slot : m_slots)
            for (const TrafficLine &line : std::as_const(slot->opLines))
                anyUpload = anyUpload || line.command == OpenCommand;
        if (!anyUpload)
            fail(QStringLiteral("\"Upload complete\" without any upload on the line"));
    }
}

// Only Write sends a setting ("ST x value"), and only to the module the window was
// connected to when Write was clicked: Open begins with the controls emptied (or holding
// a settings file opened before it, which the soak does not do), so whatever they hold
// came from this module's reads and the driver's edits. Never to another module, never
// what a module that was pulled and plugged in again had before, never after the
// connection ended.
void Soak::checkSettingWritten(const SimSlot &slot, const TrafficLine &line)
{
    static const QRegularExpression set(QStringLiteral("^ST [A-Z] "));
    if (!set.match(line.command).hasMatch())
        return;
    ++m_writesChecked;
    if (m_writeSource.slot == &slot && m_writeSource.started == slot.started)
        return;
    fail(QStringLiteral("COM%1 (module %2) was sent '%3', but the window %4")
             .arg(slot.com)
             .arg(slot.started)
             .arg(line.command,
                  m_writeSource.slot ? QStringLiteral("was connected to COM%1's module %2")
                                           .arg(m_writeSource.slot->com)
                                           .arg(m_writeSource.started)
                                     : QStringLiteral("was connected to no module")));
}

// After a click: the module the window is connected to, whose settings alone Write may
// send. A connect makes it the module on the port the process holds open; a close, a lost
// port and a new program make it none.
void Soak::noteSettingsSource(Op kind)
{
    if (m_windowClosed || !w || !d().connected()) {
        m_source = {};
        return;
    }
    // A read that stopped leaves the settings it did not read empty (Write is refused
    // until the driver's edits have filled them): what a user may well do next is press
    // Write.
    if (kind == Op::Read && settingMissing())
        m_writeNext = chance(60);
    if (kind != Op::Connect)
        return;
    const SimSlot *slot = slotOfDevice(openDevice());
    m_source = slot ? SettingsSource{slot, slot->started} : SettingsSource{};
}

// The longest a click may take, from the click until the window is idle again: every
// reply wait ends after 1 s without a byte, and a faulty reply trickles in for up to 0.36 s
// before that second starts; so a generous 1.5 s per wait the click can make, plus a fixed
// margin for message boxes and the rest. A probe that meets another answer's tail lets the
// line fall quiet and asks once more, and an operation that finds bytes waiting lets the
// line fall quiet first (a wait each).
//  - connect: 5 rates × probe (up to 5 waits), then probe + "V", "FC Q" + "FC F", 9 settings;
//  - read: 9 settings; write: 9 settings, then probe (2) at the new rate;
//  - play: probe (5), "FC L", "FC O", one wait per piece, "FC C 1", "FC Q" + "FC F",
//    probe (5), "PC F".
qint64 Soak::boundMs(Op kind) const
{
    int waits = 0;
    switch (kind) {
    case Op::Connect: waits = 5 * 5 + 6 + 2 + 9 + 1; break;
    case Op::Read: waits = 1 + 9; break;
    case Op::Write: waits = 1 + 9 + 5; break;
    case Op::Play: waits = 1 + 5 + 1 + 1 + m_pieces + 1 + 2 + 5 + 1; break;
    default: break;
    }
    return waits * PerWaitMs + MarginMs;
}

// Closing the window ends its operation at once; an upload lets the module take the piece
// on its way and closes the card file (two waits), and the session's thread ends with it.
qint64 Soak::closeBoundMs() const
{
    return 2 * PerWaitMs + MarginMs;
}

void Soak::noteLongest(const QString &what, qint64 ms)
{
    m_longest[what] = qMax(m_longest.value(what), ms);
}

// --- steps ----------------------------------------------------------------------------------

bool Soak::run()
{
    TestFile::setFolderForTesting(m_localDir);
    if (!writeFile(m_localDir + QStringLiteral("/KAVOTEST.MP3"), m_local)) {
        fail(QStringLiteral("cannot write the local test file"));
        return false;
    }
    for (int com : {1, 2}) {
        auto slot = std::make_unique<SimSlot>();
        slot->com = com;
        slot->cardDir = m_localDir + QStringLiteral("/card%1").arg(com);
        QDir().mkpath(slot->cardDir);
        m_slots.push_back(std::move(slot));
    }
    if (!openProgram())
        return false;

    m_boxes.onShown([this](QMessageBox *box) { answerBox(box); });
    m_nudge.setSingleShot(true);
    QObject::connect(&m_nudge, &QTimer::timeout, [this] { nudge(); });

    QElapsedTimer clock;
    clock.start();
    while (m_problems.isEmpty() && m_operations < m_maxOperations && clock.elapsed() < m_capMs) {
        ++m_operations;
        step();
    }
    m_elapsed = clock.elapsed();

    m_nudge.stop();
    for (auto &slot : m_slots)
        if (slot->sim)
            checkSimOutput(*slot);
    m_boxes.onShown(nullptr);
    collectLines();
    return m_problems.isEmpty();
}

// A message box, while it is up: the window is busy with the operation that showed it;
// some of what a user does meanwhile, then an answer.
void Soak::answerBox(QMessageBox *box)
{
    if (!box->isVisible())
        return;   // taken away already (the window closed)
    ++m_boxesShown;
    note(QStringLiteral("box: %1").arg(box->text().simplified()));
    // Settings changed and not written: asked before Open or closing the window would drop
    // them. Discarded mostly, kept now and then; a window the driver closes goes.
    if (box->button(QMessageBox::Discard)) {
        const bool keep = !m_windowClosed && chance(25);
        m_boxes.answer(keep ? QMessageBox::Cancel : QMessageBox::Discard);
        return;
    }
    if (windowGone())
        fail(QStringLiteral("a message box after the window closed: %1").arg(box->text()));
    checkWhileBusy(QStringLiteral("message box"));
    const QPointer<QMessageBox> shown = box;
    if (m_inClick)
        for (int i = pick(3); i > 0; --i)
            nestedAction("message box");
    // A box that went meanwhile (the driver closed the window) takes no answer: it would be
    // left for the next box.
    if (shown && shown->isVisible())
        m_boxes.answer(chance(75) ? QMessageBox::Yes : QMessageBox::No);
}

void Soak::step()
{
    // A module that sends without end has made its point after a few steps; each click on
    // it takes seconds.
    for (auto &slot : m_slots)
        if (slot->babbles && ++slot->steps > 10 && slot->sim && slot->sim->running())
            retire(*slot, QStringLiteral("sends without end"));
    if (!ensureSims())
        return;
    if (!w && !openProgram())
        return;
    for (auto &slot : m_slots)
        slot->opLines.clear();
    m_status.texts.clear();
    const int begunBefore = m_counter.begun;
    m_clicksCounted = 0;

    const bool connected = d().connected();
    // Weights of the steps; clicks on a disabled button are a few of them.
    const bool portChosen = d().value(QStringLiteral("lstPCCOM")) >= 0;
    struct Choice { Op op; int weight; };
    const Choice choices[] = {
        {Op::Connect, connected ? 10 : (portChosen ? 34 : 4)},
        {Op::Read, connected ? 16 : 1},
        {Op::Write, connected ? 14 : 1},
        {Op::Play, connected ? 18 : 1},
        {Op::Edit, 14},
        {Op::ToggleAuto, 4},
        {Op::PickRate, 5},
        {Op::PickPort, portChosen ? 5 : 30},
        {Op::RemoveCardFile, 4},
        {Op::PullModule, 2},
        {Op::RepointLink, connected ? 3 : 0},
        {Op::RestartProgram, 1},
    };
    int total = 0;
    for (const Choice &c : choices)
        total += c.weight;
    int r = pick(total);
    Op op = Op::Count;
    for (const Choice &c : choices) {
        if (r < c.weight) {
            op = c.op;
            break;
        }
        r -= c.weight;
    }
    if (m_writeNext && connected) {
        op = Op::Write;
        ++m_writesAfterStoppedRead;
    }
    m_writeNext = false;
    m_op = op;

    switch (op) {
    case Op::Connect:
        // A user picks a port before most clicks on Open: opening the list lists the ports
        // again.
        if (!connected && chance(50))
            pickPort();
        click(QStringLiteral("cmdOpenCOM"), connected ? Op::Close : Op::Connect);
        break;
    case Op::Read: click(QStringLiteral("cmdReadSettings"), Op::Read); break;
    case Op::Write: click(QStringLiteral("cmdWriteSettings"), Op::Write); break;
    case Op::Play: click(QStringLiteral("cmdPlayTest"), Op::Play); break;
    case Op::Edit:
        for (int i = 1 + pick(3); i > 0; --i)
            edit();
        break;
    case Op::ToggleAuto: toggleAuto(); break;
    case Op::PickRate: pickRate(); break;
    case Op::PickPort: pickPort(); break;
    case Op::RemoveCardFile: removeCardFile(); break;
    case Op::PullModule: pullModule("between clicks"); break;
    case Op::RepointLink: repointLink(); break;
    case Op::RestartProgram:
        note(QStringLiteral("program restarted"));
        closeProgram();
        openProgram();
        break;
    case Op::Close:
    case Op::DisabledClick:
    case Op::Count:
        break;
    }
    ++m_opCounts[QLatin1String(opName(m_op))];

    // What this step did not click began no operation: edits, picks, toggles, and the
    // clicks and edits made while an operation ran.
    if (m_counting && w && m_counter.begun - begunBefore != m_clicksCounted)
        fail(QStringLiteral("%1 operations began in a step that clicked to begin %2")
                 .arg(m_counter.begun - begunBefore)
                 .arg(m_clicksCounted));

    if (m_windowClosed) {
        collectLines();
        for (auto &slot : m_slots)
            slot->lineCheck.abandoned();
        note(QStringLiteral("window closed during the click; program restarted"));
        closeProgram();
        if (!openProgram())
            return;
    }
    collectLines();
    checkUpload(m_op);
    checkIdle();
    if (!w || !d().connected())
        m_source = {};
}

// A click on one of the four operation buttons, as a user clicks it. A disabled one does
// nothing; an enabled one begins one operation, which ends (the window idle again) within
// boundMs() of the click. Meanwhile a timer does what a user may do during it (nudge()).
void Soak::click(const QString &name, Op kind)
{
    auto *button = d().find<QPushButton>(name);
    if (!button->isEnabled()) {
        m_op = Op::DisabledClick;
        QTest::mouseClick(button, Qt::LeftButton);
        if (d().busy() || boxShown())
            fail(QStringLiteral("a click on the disabled %1 did something").arg(name));
        return;
    }
    // What was sent before the click is judged by the connection that held then.
    collectLines();
    m_op = kind;
    note(QStringLiteral("click %1 (%2)").arg(name, QLatin1String(opName(kind))));
    const bool wasConnected = d().connected();
    if (kind == Op::Write)
        m_writeSource = m_source;
    if (kind == Op::Play)
        m_status.start(d().find<QLabel>(QStringLiteral("StatusPanel3")));
    m_nudge.start(pick(400));
    m_inClick = true;
    ++m_clicksCounted;
    const int begunBefore = m_counter.begun;
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(button, Qt::LeftButton);
    if (!d().busy())
        fail(QStringLiteral("the click on the enabled %1 began no operation").arg(name));
    const qint64 bound = boundMs(kind);
    const bool ended = waitUntil([this] { return !d().busy() || windowGone(); }, bound);
    const qint64 took = clock.elapsed();
    m_inClick = false;
    m_nudge.stop();
    m_status.stop();

    const QString opText = QLatin1String(opName(kind));
    if (!ended)
        fail(QStringLiteral("the %1 click has not ended %2 ms after it, its bound (status '%3')")
                 .arg(opText)
                 .arg(took)
                 .arg(d().status()));
    else if (!m_windowClosed)
        noteLongest(opText, took);
    if (m_counting && m_counter.begun - begunBefore != 1)
        fail(QStringLiteral("the %1 click began %2 operations").arg(opText).arg(m_counter.begun - begunBefore));
    if (m_windowClosed) {
        note(QStringLiteral("  window closed %1 ms after the click").arg(took));
        return;
    }
    if (kind == Op::Connect && !wasConnected && d().connected())
        ++m_connected;
    if (wasConnected && !d().connected() && kind != Op::Close)
        ++m_lostPorts;
    note(QStringLiteral("  took %1 ms; caption '%2', status '%3'")
             .arg(took).arg(d().text(QStringLiteral("cmdOpenCOM")), d().status()));
    noteSettingsSource(kind);
}

// From a timer that fires while a click's operation runs (during its waits, its status
// updates and its message boxes): a check, something else the user does meanwhile, and the
// next firing.
void Soak::nudge()
{
    if (!m_inClick || !w || m_windowClosed)
        return;
    if (d().busy()) {
        checkWhileBusy(QStringLiteral("timer during an operation"));
        nestedAction("timer");
    }
    if (m_inClick && !m_windowClosed)
        m_nudge.start(pick(700));
}

// Something a user does while an operation runs: a click on a disabled button, an edit,
// a toggle, a pick, a module pulled, the window closed. None of it waits, and none of it
// begins an operation (step() counts them) or enables a button (checkWhileBusy()).
void Soak::nestedAction(const char *where)
{
    if (!w || m_windowClosed)
        return;
    const int r = pick(100);
    QString kind;
    if (r < 15) {
        kind = QStringLiteral("disabled-click");
        const QString name = QLatin1String(OperationButtons[pick(4)]);
        auto *button = d().find<QPushButton>(name);
        if (button->isEnabled())
            fail(QStringLiteral("%1: %2 is enabled during an operation").arg(QLatin1String(where), name));
        else
            QTest::mouseClick(button, Qt::LeftButton);
    } else if (r < 55) {
        kind = QStringLiteral("edit");
        edit();
    } else if (r < 63) {
        kind = QStringLiteral("toggle-auto");
        toggleAuto();
    } else if (r < 71) {
        kind = QStringLiteral("pick-rate");
        pickRate();
    } else if (r < 75) {
        // The port list is usable during a connect attempt, which reads it at every try.
        kind = QStringLiteral("pick-port");
        pickPort();
    } else if (r < 78) {
        kind = QStringLiteral("pull-module");
        pullModule(where);
    } else if (r < 79) {
        kind = QStringLiteral("close-window");
        closeWindowNow(where);
    } else {
        kind = QStringLiteral("nothing");
    }
    ++m_nestedCounts[kind];
    if (!m_windowClosed && !d().busy())
        fail(QStringLiteral("%1: the operation was over right after a %2 during it").arg(QLatin1String(where), kind));
    checkWhileBusy(QStringLiteral("%1, after a %2").arg(QLatin1String(where), kind));
}

// --- input ------------------------------------------------------------------------------------

void Soak::chooseEntry(const QString &name, int index)
{
    auto *list = d().find<QComboBox>(name);
    if (!m_inClick && index >= 0) {
        d().pick(name, list->itemText(index));
        return;
    }
    list->setCurrentIndex(index);
    if (index >= 0)
        emit list->activated(index);
}

void Soak::pressKey(const QString &name, Qt::Key key)
{
    if (!m_inClick) {
        d().key(name, key);
        return;
    }
    QWidget *widget = d().widget(name);
    widget->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(widget, key);
}

void Soak::typeNumber(const QString &name, const QString &text, Qt::Key end)
{
    if (!m_inClick) {
        d().type(name, text, end);
        return;
    }
    auto *box = d().find<QLineEdit>(name);
    box->setFocus(Qt::MouseFocusReason);
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClicks(box, text);
    QTest::keyClick(box, end);
}

void Soak::clickControl(const QString &name)
{
    if (!m_inClick) {
        d().click(name);
        return;
    }
    QTest::mouseClick(d().find<QAbstractButton>(name), Qt::LeftButton);
}

// A change to one setting control, as a user makes it: enabled controls only. A spinner's
// arrow, a key on it or a drag; an entry picked; a check box clicked; a number typed into
// a box (in range or not, or no number at all) and Enter or Tab, or Up and Down there.
void Soak::edit()
{
    const int r = pick(20);
    if (r < 8) {
        const QString name = QLatin1String(Spinners[pick(7)]);
        auto *spinner = d().find<QScrollBar>(name);
        if (!spinner->isEnabled())
            return;
        const int how = pick(10);
        if (how < 4) {
            spinner->triggerAction(chance(50) ? QAbstractSlider::SliderSingleStepAdd : QAbstractSlider::SliderSingleStepSub);
        } else if (how < 7) {
            static const Qt::Key keys[] = {Qt::Key_PageUp, Qt::Key_PageDown, Qt::Key_Up, Qt::Key_Down};
            pressKey(name, keys[pick(4)]);
        } else {
            spinner->setValue(spinner->minimum() + pick(spinner->maximum() - spinner->minimum() + 1));
        }
    } else if (r < 11) {
        const QString name = QLatin1String(SettingLists[pick(2)]);
        auto *list = d().find<QComboBox>(name);
        if (list->isEnabled() && list->count() > 0)
            chooseEntry(name, pick(list->count()));
    } else if (r < 14) {
        const QString name = QLatin1String(SettingChecks[pick(4)]);
        if (d().enabled(name))
            clickControl(name);
    } else {
        const NumberBox &box = NumberBoxes[pick(7)];
        const QString name = QLatin1String(box.name);
        auto *edit = d().find<QLineEdit>(name);
        if (!edit->isEnabled() || edit->isReadOnly())
            return;
        if (r < 16) {
            pressKey(name, chance(50) ? Qt::Key_Up : Qt::Key_Down);
            return;
        }
        QString text;
        const int kind = pick(10);
        if (kind < 6)
            text = QString::number(pick(box.highest / box.step + 1) * box.step);
        else if (kind < 8)
            text = QString::number(box.step > 1 && chance(50) ? 1 + pick(box.highest - 1) : box.highest + 1 + pick(1000));
        else if (kind < 9)
            text = QStringLiteral("-") + QString::number(1 + pick(50));
        else
            text = QStringList{QString(), QStringLiteral("abc"), QStringLiteral("1e3"), QStringLiteral("0x1F"),
                               QStringLiteral("12 3")}[pick(5)];
        typeNumber(name, text, chance(60) ? Qt::Key_Return : Qt::Key_Tab);
    }
}

void Soak::toggleAuto()
{
    if (d().enabled(QStringLiteral("chkAutoBitRate")))
        clickControl(QStringLiteral("chkAutoBitRate"));
}

void Soak::pickRate()
{
    // Only a list the user can reach; now and then no rate at all, as at start.
    auto *list = d().find<QComboBox>(QStringLiteral("lstPCBPS"));
    if (!list->isEnabled())
        return;
    chooseEntry(QStringLiteral("lstPCBPS"), chance(5) && !m_inClick ? -1 : pick(list->count()));
}

// A port picked from the list, as a user does: opening the list (F4) lists the ports again
// while nothing is connected and no operation runs; then one of the entries that can be
// chosen.
void Soak::pickPort()
{
    const QString name = QStringLiteral("lstPCCOM");
    auto *list = d().find<QComboBox>(name);
    if (!list->isEnabled())
        return;
    if (!m_inClick) {
        list->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(list, Qt::Key_F4);
        list->hidePopup();
    }
    QList<int> usable;
    const auto *model = qobject_cast<const QStandardItemModel *>(list->model());
    for (int i = 0; i < list->count(); ++i)
        if (!model || (model->item(i) && model->item(i)->isEnabled()))
            usable << i;
    if (usable.isEmpty())
        return;
    chooseEntry(name, usable[pick(int(usable.size()))]);
    note(QStringLiteral("port %1").arg(list->currentText()));
}

void Soak::removeCardFile()
{
    SimSlot &slot = *m_slots[pick(int(m_slots.size()))];
    if (QFile::remove(slot.cardDir + CardPath))
        note(QStringLiteral("COM%1: test file taken off the card").arg(slot.com));
}

// The module vanishes: its process is killed, its COM link stays behind, dangling. It is
// plugged in again before the next step. Between clicks, a window connected to it sees its
// port go.
void Soak::pullModule(const char *where)
{
    const QString open = openDevice();
    SimSlot *slot = slotOfDevice(open);
    if (!slot)
        slot = w ? slotOf(d().text(QStringLiteral("lstPCCOM"))) : nullptr;
    if (!slot || chance(20))
        slot = m_slots[pick(int(m_slots.size()))].get();
    if (!slot->sim || !slot->sim->running())
        return;
    const QString device = slot->sim->device();
    note(QStringLiteral("COM%1 pulled (%2)").arg(slot->com).arg(QLatin1String(where)));
    slot->sim->kill();
    if (!m_inClick && device == open)
        awaitLoss(*slot, device);
}

// The module on `device`, which the window had open, has gone: the window turns to "Open"
// (the session's thread watches the port between operations too).
void Soak::awaitLoss(const SimSlot &slot, const QString &device)
{
    if (!w || !d().connected())
        return;
    if (waitUntil([this] { return !d().connected(); }, 10000))
        ++m_lostPorts;
    else
        fail(QStringLiteral("COM%1 (%2) vanished and the window did not notice in 10 s (status '%3')")
                 .arg(slot.com)
                 .arg(device, d().status()));
}

// The module is taken away between steps (and plugged in again before the next one); a
// window connected to it sees its port go.
void Soak::retire(SimSlot &slot, const QString &why)
{
    note(QStringLiteral("COM%1 pulled: %2").arg(slot.com).arg(why));
    const QString device = slot.sim->device();
    const bool open = w && openDevice() == device;
    slot.sim->kill();
    if (open)
        awaitLoss(slot, device);
}

// While a port is open, its COM link is pointed at the other module's device (a link
// re-pointed, a module on a new pseudo-terminal); then the user writes, reads, or closes
// and opens again. The tool keeps to the device it opened, or refuses; the link goes
// back afterwards.
void Soak::repointLink()
{
    SimSlot *from = d().connected() ? slotOfDevice(openDevice()) : nullptr;
    SimSlot *to = nullptr;
    for (auto &slot : m_slots)
        if (slot.get() != from)
            to = slot.get();
    if (!from || !to || !to->sim || !to->sim->running())
        return;
    const QString link = ComPorts::portsFolder() + QStringLiteral("/COM%1").arg(from->com);
    const QFileInfo before(link);
    if (!before.isSymLink() || before.symLinkTarget() != from->sim->device())
        return;
    if (!QFile::remove(link) || !QFile::link(to->sim->device(), link)) {
        fail(QStringLiteral("could not point COM%1 at %2").arg(from->com).arg(to->sim->device()));
        return;
    }
    note(QStringLiteral("COM%1 now names COM%2's module (%3)").arg(from->com).arg(to->com).arg(to->sim->device()));
    switch (pick(3)) {
    case 0: click(QStringLiteral("cmdWriteSettings"), Op::Write); break;
    case 1: click(QStringLiteral("cmdReadSettings"), Op::Read); break;
    default:
        click(QStringLiteral("cmdOpenCOM"), Op::Close);
        if (!m_windowClosed && !d().connected())
            click(QStringLiteral("cmdOpenCOM"), Op::Connect);
        break;
    }
    // The module comes back on its own number, unless it went meanwhile (then its number
    // is free for the simulator started in its place).
    const QFileInfo after(link);
    if (after.isSymLink() && after.symLinkTarget() == to->sim->device()) {
        QFile::remove(link);
        if (from->sim && from->sim->running())
            QFile::link(from->sim->device(), link);
    }
    m_op = Op::RepointLink;
}

// The user closes the window while an operation runs (it asks first about changed
// settings; the driver discards them). The program is started again after the click.
void Soak::closeWindowNow(const char *where)
{
    note(QStringLiteral("window closed (%1)").arg(QLatin1String(where)));
    m_windowClosed = true;
    m_closeClock.start();
    w->close();
}

QString Soak::summary() const
{
    auto list = [](const QMap<QString, int> &map) {
        QStringList parts;
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            parts << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
        return parts.join(QStringLiteral(", "));
    };
    QStringList longest;
    for (auto it = m_longest.cbegin(); it != m_longest.cend(); ++it)
        longest << QStringLiteral("%1 %2 ms").arg(it.key()).arg(it.value());
    return QStringLiteral("soak: random start value %1; %2 operations in %3 s (%4); during operations: %5; "
                          "%16 command lines, faults: %6; %7 message boxes, %8 connects, %9 uploads complete, %10 play commands, "
                          "%11 ports lost, %12 simulators started; early commands: %13 probe CRs, %14 after an "
                          "abandoned answer or a prompt inside an answer; %17 settings sent, each to the module of its "
                          "connection; %18 writes right after a read that stopped; operations begun %19; longest: %15")
        .arg(m_start)
        .arg(m_operations)
        .arg(double(m_elapsed) / 1000.0, 0, 'f', 1)
        .arg(list(m_opCounts), list(m_nestedCounts), list(m_faults))
        .arg(m_boxesShown)
        .arg(m_connected)
        .arg(m_uploadsComplete)
        .arg(m_playsSent)
        .arg(m_lostPorts)
        .arg(m_simsStarted)
        .arg(m_earlyProbe)
        .arg(m_earlyTolerated)
        .arg(longest.join(QStringLiteral(", ")))
        .arg(m_commands)
        .arg(m_writesChecked)
        .arg(m_writesAfterStoppedRead)
        .arg(m_counting ? QStringLiteral("counted (one per enabled click)")
                        : QStringLiteral("not counted (the window has no busyChanged signal)"));
}

// The offscreen platform says for every window shown that it cannot pass size hints on,
// raise it or grab the keyboard for it; over hundreds of message boxes and opened lists
// that says nothing.
QtMessageHandler g_previousMessageHandler = nullptr;

void quietMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    static const QStringList said = {QStringLiteral("This plugin does not support propagateSizeHints()"),
                                     QStringLiteral("This plugin does not support raise()"),
                                     QStringLiteral("This plugin does not support grabbing the keyboard")};
    if (said.contains(message))
        return;
    if (g_previousMessageHandler)
        g_previousMessageHandler(type, context, message);
}

} // namespace

class tst_Soak : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void statusTextsAreSeen();
    void earlyCommandsAreMarked_data();
    void earlyCommandsAreMarked();
    void faultShare_data();
    void faultShare();
    void lateAnswerIsAwaited_data();
    void lateAnswerIsAwaited();
    void soak();
};

void tst_Soak::initTestCase()
{
    TestEnv::isolate();
}

// The status watch sees every text the status line shows during a play test, also those
// that the next one replaces within a few milliseconds at the fastest rate ("Upload
// complete", followed by the card's space read again and the play): what the soak's
// upload check rests on.
void tst_Soak::statusTextsAreSeen()
{
    QTemporaryDir local;
    QVERIFY(local.isValid());
    QVERIFY(writeFile(local.filePath(QStringLiteral("KAVOTEST.MP3")), localTestBytes().left(1300)));
    TestFile::setFolderForTesting(local.path());
    auto restore = qScopeGuard([] { TestFile::setFolderForTesting(QString()); });

    KavoSim sim;
    QVERIFY(sim.start({QStringLiteral("--rate"), QStringLiteral("115200")}));
    auto w = openWindow();
    QVERIFY(w);
    WindowDriver window(w.get());
    MessageBoxes boxes;
    QVERIFY(window.pick(QStringLiteral("lstPCCOM"), sim.comName()));
    QVERIFY(window.click(QStringLiteral("cmdOpenCOM")));
    QVERIFY(window.connected());

    StatusWatch watch;
    watch.start(window.find<QLabel>(QStringLiteral("StatusPanel3")));
    boxes.answer(QMessageBox::Yes);   // the card lacks the test file: upload it
    QTest::mouseClick(window.find<QPushButton>(QStringLiteral("cmdPlayTest")), Qt::LeftButton);
    QVERIFY(waitUntil([&] { return !window.busy(); }, 30000));
    watch.stop();
    QCOMPARE(watch.texts.first(), AllReceived);
    const QStringList expected = {QStringLiteral("Uploading test file (/KAVOTEST.MP3) ..."), UploadComplete,
                                  QStringLiteral("Playing /KAVOTEST.MP3")};
    qsizetype from = 0;
    for (const QString &text : expected) {
        from = watch.texts.indexOf(text, from);
        QVERIFY2(from >= 0, qPrintable(QStringLiteral("'%1' not seen in order among: %2")
                                           .arg(text, watch.texts.join(QStringLiteral(" | ")))));
    }
    QCOMPARE(watch.texts.last(), expected.last());
}

// The simulator's "early" note, which the soak's line check rests on: a command sent
// while an answer is still arriving carries it, one sent after the answer does not, and
// the probe's CR always does.
void tst_Soak::earlyCommandsAreMarked_data()
{
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<bool>("waitForPrompt");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<QString>("markedCommand");   // of the second entry; empty: none marked

    QTest::newRow("during a split answer") << QByteArray("V\r") << false << QByteArray("ST D\r") << QStringLiteral("ST D");
    QTest::newRow("after the answer") << QByteArray("V\r") << true << QByteArray("ST D\r") << QString();
    QTest::newRow("probe") << QByteArray("\x1b\r") << true << QByteArray() << QStringLiteral("(the CR)");
}

void tst_Soak::earlyCommandsAreMarked()
{
    QFETCH(QByteArray, first);
    QFETCH(bool, waitForPrompt);
    QFETCH(QByteArray, second);
    QFETCH(QString, markedCommand);

    KavoSim sim;
    QVERIFY(sim.start({QStringLiteral("--mark-early"), QStringLiteral("--reply"), QStringLiteral("V=Kavo\\|v2.07>"),
                       QStringLiteral("--chunk-delay"), QStringLiteral("400")}));
    KavoLink link;
    QString error;
    QVERIFY2(link.openPort(ComPorts::port(sim.com()), 9600, &error), qPrintable(error));
    link.SendText(first);
    if (waitForPrompt)
        QTRY_VERIFY_WITH_TIMEOUT(link.pendingInput().endsWith('>'), 10000);
    else
        QTRY_VERIFY_WITH_TIMEOUT(link.pendingInput().startsWith("Kavo"), 10000);
    link.SendText(second);
    QTRY_COMPARE_WITH_TIMEOUT(sim.log().size(), 2, 10000);

    const QList<TrafficLine> log = sim.log();
    if (first.startsWith('\x1b')) {
        QCOMPARE(log[0].command, QStringLiteral("\\e"));
        QVERIFY2(!hasNote(log[0], QStringLiteral("early")), qPrintable(describe(log[0])));
        QCOMPARE(log[1].command, QString());
        QVERIFY2(hasNote(log[1], QStringLiteral("early")), qPrintable(describe(log[1])));
        return;
    }
    QVERIFY2(!hasNote(log[0], QStringLiteral("early")), qPrintable(describe(log[0])));
    QCOMPARE(hasNote(log[1], QStringLiteral("early")), !markedCommand.isEmpty());
    if (!markedCommand.isEmpty()) {
        QCOMPARE(log[1].command, markedCommand);
        // It came most of the 400 ms pause before the answer's end.
        const int early = log[1].note.section(QStringLiteral("early="), 1).section(QLatin1Char(' '), 0, 0).toInt();
        QVERIFY2(early >= 100 && early <= 600, qPrintable(describe(log[1])));
    }
}

// --faults P: that share of the command lines gets a fault.
void tst_Soak::faultShare_data()
{
    QTest::addColumn<int>("percent");
    QTest::newRow("none") << 0;
    QTest::newRow("all") << 100;
}

void tst_Soak::faultShare()
{
    QFETCH(int, percent);
    KavoSim sim;
    QVERIFY(sim.start({QStringLiteral("--random"), QStringLiteral("7"), QStringLiteral("--faults"),
                       QString::number(percent), QStringLiteral("--rate"), QStringLiteral("9600")}));
    KavoLink link;
    QString error;
    QVERIFY2(link.openPort(ComPorts::port(sim.com()), 9600, &error), qPrintable(error));
    // One line at a time, until 40 are logged or a fault changes the rate or hangs up
    // (what follows those is no longer heard as a command).
    QList<TrafficLine> log;
    while (log.size() < 40) {
        const qsizetype before = log.size();
        link.SendText(QByteArrayLiteral("ST T\r"));
        QTRY_VERIFY_WITH_TIMEOUT((log = sim.log()).size() > before, 10000);
        const QString note = log.last().note;
        if (note.contains(QStringLiteral("rate-change")) || note.contains(QStringLiteral("hangup")))
            break;
    }
    int faulty = 0;
    for (const TrafficLine &line : std::as_const(log))
        faulty += line.note.startsWith(QStringLiteral("random:")) ? 1 : 0;
    QCOMPARE(faulty, percent == 0 ? 0 : int(log.size()));
}

// What the soak once found: the answers to "PC F" and "FC C 1" came late and the next
// exchange took their prompt for its own (a Read clicked right after the play test then
// failed on a reply the module never gave to "ST D"). Both answers are awaited now: with
// the module answering them 300 ms late, nothing goes out before they are in, and the
// Read that follows gets its own answers.
void tst_Soak::lateAnswerIsAwaited_data()
{
    QTest::addColumn<QString>("reply");        // the late answer
    QTest::addColumn<bool>("fileOnCard");       // else it is uploaded first

    QTest::newRow("play command") << QStringLiteral("PC F /KAVOTEST.MP3=\\|>") << true;
    QTest::newRow("close after upload") << QStringLiteral("FC C 1=\\|>") << false;
}

void tst_Soak::lateAnswerIsAwaited()
{
    QFETCH(QString, reply);
    QFETCH(bool, fileOnCard);

    QTemporaryDir local;
    QVERIFY(local.isValid());
    QVERIFY(writeFile(local.filePath(QStringLiteral("KAVOTEST.MP3")), localTestBytes().left(1300)));
    TestFile::setFolderForTesting(local.path());
    auto restore = qScopeGuard([] { TestFile::setFolderForTesting(QString()); });

    KavoSim sim;
    if (fileOnCard)
        QVERIFY(writeFile(sim.cardDir() + CardPath, "ID3"));
    QVERIFY(sim.start({QStringLiteral("--mark-early"), QStringLiteral("--reply"), reply,
                       QStringLiteral("--chunk-delay"), QStringLiteral("300")}));
    auto w = openWindow();
    QVERIFY(w);
    WindowDriver window(w.get());
    QVERIFY(window.pick(QStringLiteral("lstPCCOM"), sim.comName()));
    MessageBoxes boxes;
    boxes.answer(QMessageBox::Yes);
    QVERIFY(window.click(QStringLiteral("cmdOpenCOM")));
    QCOMPARE(window.text(QStringLiteral("cmdOpenCOM")), QStringLiteral("Close"));
    QVERIFY(window.click(QStringLiteral("cmdPlayTest")));
    QVERIFY(window.click(QStringLiteral("cmdReadSettings")));
    QTRY_VERIFY_WITH_TIMEOUT(sim.commands().contains(QStringLiteral("ST U")), 10000);
    QVERIFY(sim.commands().contains(PlayCommand));

    QStringList early;
    for (const TrafficLine &line : sim.log())
        if (hasNote(line, QStringLiteral("early")) && !line.command.isEmpty())
            early << describe(line);
    QVERIFY2(early.isEmpty(), qPrintable(early.join(QLatin1Char('\n'))));
    QCOMPARE(window.status(), AllReceived);
}

void tst_Soak::soak()
{
    bool given = false;
    const quint32 start = quint32(envNumber("KAVO_SOAK_RANDOM", QRandomGenerator::system()->generate(), &given));
    const int operations = int(envNumber("KAVO_SOAK_OPERATIONS", 300));
    const qint64 seconds = qint64(envNumber("KAVO_SOAK_SECONDS", 150));
    qInfo("soak: random start value %u%s (replay with KAVO_SOAK_RANDOM=%u); at most %d operations, %lld s",
          start, given ? " (from KAVO_SOAK_RANDOM)" : "", start, operations, static_cast<long long>(seconds));

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    g_previousMessageHandler = qInstallMessageHandler(quietMessageHandler);
    bool ok = false;
    QString summary;
    QStringList problems;
    QStringList trail;
    {
        Soak soak(start, operations, seconds * 1000, folder.path());
        ok = soak.run();
        summary = soak.summary();
        problems = soak.problems();
        trail = soak.trail();
    }
    TestFile::setFolderForTesting(QString());
    qInstallMessageHandler(g_previousMessageHandler);
    qInfo().noquote() << summary;
    if (!ok)
        qInfo().noquote() << "soak: the last steps:\n  " + trail.join(QStringLiteral("\n  "));
    QVERIFY2(ok, qPrintable(QStringLiteral("random start value %1 (KAVO_SOAK_RANDOM=%1):\n%2")
                                .arg(start)
                                .arg(problems.join(QLatin1Char('\n')))));
}

QTEST_MAIN(tst_Soak)
#include "tst_soak.moc"
