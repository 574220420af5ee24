// The randomized fault soak. Two kavo-sim modules in random-fault mode (garbage and
// out-of-range replies, error replies, replies split at random points, silence, bytes
// after the prompt, hang-ups, rate changes) stand on COM1 and COM2, some of them also
// echoing every byte, answering the play and card-file close commands late, or starting
// to send without end after a while. A driver clicks Open/Close, Read, Write and Play,
// edits the settings, toggles automatic detection, picks ports and bit rates, takes the
// test file off a card, pulls a module, points a COM link at the other module while its
// port is open, follows a read that stopped with a Write and restarts the program, all at
// random; timers fire more clicks and edits while replies are awaited, and every message
// box gets some before it is answered Yes, No or OK at random.
//
// What must hold throughout is checked after every step, and while operations run:
// Soak::checkWhileBusy(), Soak::checkIdle(), LineCheck (nothing interleaved on the line),
// Soak::checkUpload(), Soak::checkSettingWritten() (settings go only to the module they
// were read from) and the time bound of every click (Soak::boundMs()).
//
// The driver's random start value is printed at the start. KAVO_SOAK_RANDOM=<n> runs the
// same driver decisions again; the simulators' faults follow their own start values (drawn
// by the driver) and the traffic, and the traffic depends on timing, so a replay retraces
// the run closely rather than exactly. KAVO_SOAK_OPERATIONS (300) and KAVO_SOAK_SECONDS
// (150) bound a run; an operation in progress when the time is up is finished first.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScrollBar>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

#include "link/comports.h"
#include "playtest/testfile.h"
#include "settings/settingtable.h"
#include "support/kavosim.h"
#include "support/messageboxes.h"
#include "support/testenv.h"
#include "support/windowfixture.h"

#if defined(__SANITIZE_ADDRESS__)
#define KAVO_SOAK_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KAVO_SOAK_SANITIZED 1
#endif
#endif

namespace {

const QString CardPath = QStringLiteral("/KAVOTEST.MP3");
const QString PlayCommand = QStringLiteral("PC F /KAVOTEST.MP3");
const QString OpenCommand = QStringLiteral("FC O 1 W /KAVOTEST.MP3");
const QString CloseCommand = QStringLiteral("FC C 1");
const QString UploadComplete = QStringLiteral("Upload complete");

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

quint64 envNumber(const char *name, quint64 fallback, bool *given = nullptr)
{
    bool ok = false;
    const quint64 n = qEnvironmentVariable(name).toULongLong(&ok);
    if (given)
        *given = ok;
    return ok ? n : fallback;
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

// Counts the events delivered anywhere while armed.
class EventCounter : public QObject
{
public:
    bool eventFilter(QObject *, QEvent *) override
    {
        if (armed)
            ++count;
        return false;
    }
    bool armed = false;
    int count = 0;
};

// Every text the status message panel shows while it runs, beginning with the one it
// found. Its timer fires in every pass of the event loop, ShowStatus's own included, so a
// text given with ShowStatus is seen even when the next one replaces it at once; it keeps
// the event loop from sleeping, so it runs during play tests only.
class StatusWatch : public QObject
{
public:
    StatusWatch()
    {
        m_timer.setInterval(0);
        connect(&m_timer, &QTimer::timeout, this, &StatusWatch::poll);
    }
    void start(QLabel *panel)
    {
        m_panel = panel;
        texts.clear();
        poll();
        m_timer.start();
    }
    void stop()
    {
        poll();
        m_timer.stop();
        m_panel = nullptr;
    }
    QStringList texts;

private:
    void poll()
    {
        if (m_panel && (texts.isEmpty() || texts.last() != m_panel->text()))
            texts << m_panel->text();
    }
    QTimer m_timer;
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

    // steps
    void step();
    void click(QPushButton *button, Op kind);
    void nudge();
    void nestedAction(const char *where);
    void refusedHandler(const char *where);
    void edit();
    void toggleAuto();
    void pickRate();
    void pickPort();
    void removeCardFile();
    void pullModule(const char *where);
    void repointLink();
    void closeWindowNow(const char *where);

    // checks
    void fail(const QString &what);
    void checkWhileBusy(const char *where);
    void checkIdle();
    void collectLines();
    void checkUpload(Op kind);
    void checkSettingWritten(const SimSlot &slot, const TrafficLine &line);
    void noteSettingsSource(Op kind);
    qint64 boundMs(Op kind) const;
    int ptyDescriptors() const;
    SimSlot *slotOf(const QString &portName);
    SimSlot *slotOfDevice(const QString &device);
    void retire(SimSlot &slot, const QString &why);

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
    frmSerialData *w = nullptr;
    MessageBoxes m_boxes;
    EventCounter m_events;
    QTimer m_nudge;
    StatusWatch m_status;

    // the step in progress
    Op m_op = Op::Count;
    bool m_inClick = false;
    bool m_windowClosed = false;
    bool m_lostInOp = false;   // the port was lost while the click's operation ran
    bool m_allReceived = false;   // the click's read ended with "All Settings Received"
    bool m_writeNext = false;     // a read stopped: the next step is a Write
    bool m_closingWindow = false; // the driver closes the window: changed settings go
    SettingsSource m_source;
    SettingsSource m_writeSource;   // m_source when the last Write was clicked

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
    note(QStringLiteral("COM%1: kavo-sim %2 at %3 bps, --random %4 --faults %5%6%7")
             .arg(slot.com).arg(slot.started).arg(rate).arg(simStart).arg(faults)
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
    if (w->lstPCCOM->count() != int(m_slots.size()))
        fail(QStringLiteral("the port list holds %1 ports instead of %2").arg(w->lstPCCOM->count()).arg(m_slots.size()));
    QObject::connect(w->session, &KavoSession::portLost, w, [this] {
        ++m_lostPorts;
        m_source = {};
        if (w && w->operationRunning())
            m_lostInOp = true;
    });
    QObject::connect(w->session, &KavoSession::status, w, [this](const QString &text) {
        if (text == QStringLiteral("All Settings Received"))
            m_allReceived = true;
    });
    m_source = {};
    return true;
}

void Soak::closeProgram()
{
    if (!m_window)
        return;
    m_status.stop();
    m_closingWindow = true;
    m_window->close();
    m_closingWindow = false;
    m_window.reset();
    w = nullptr;
}

// --- checks ---------------------------------------------------------------------------------

// Descriptors of this process open on a pseudo-terminal (the simulators' ports): 0, 1 and
// 2 are left out, they may be the terminal the tests run in.
int Soak::ptyDescriptors() const
{
    int n = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &entry : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        if (entry.toInt() <= 2)
            continue;
        if (QFileInfo(fds.filePath(entry)).symLinkTarget().startsWith(QStringLiteral("/dev/pts/")))
            ++n;
    }
    return n;
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

// While an operation runs (from a timer during a wait, or a message box): Open/Close,
// Read, Write and Play are disabled, and the caption agrees with the port lists.
void Soak::checkWhileBusy(const char *where)
{
    if (!w || w->closing())
        return;
    const QString caption = w->cmdOpenCOM->text();
    if (!w->operationRunning()) {
        fail(QStringLiteral("%1: the window ran events during a click outside its operation").arg(QLatin1String(where)));
        return;
    }
    if (w->cmdOpenCOM->isEnabled() || w->cmdReadSettings->isEnabled() || w->cmdWriteSettings->isEnabled()
        || w->cmdPlayTest->isEnabled())
        fail(QStringLiteral("%1: a button is enabled while an operation runs").arg(QLatin1String(where)));
    if (caption != QStringLiteral("Open") && caption != QStringLiteral("Close"))
        fail(QStringLiteral("%1: the Open button reads '%2'").arg(QLatin1String(where), caption));
    const bool listsEnabled = w->lstPCCOM->isEnabled() && w->lstPCBPS->isEnabled();
    const bool listsDisabled = !w->lstPCCOM->isEnabled() && !w->lstPCBPS->isEnabled();
    if ((caption == QStringLiteral("Open") && !listsEnabled) || (caption == QStringLiteral("Close") && !listsDisabled))
        fail(QStringLiteral("%1: caption '%2' with the port lists %3").arg(QLatin1String(where), caption,
                                                                         listsEnabled ? QStringLiteral("enabled") : QStringLiteral("disabled")));
}

// Coherent when idle:
//  - no operation runs; the Open button is enabled and reads "Open" or "Close";
//  - "Open": Read, Write and Play are disabled, both port lists enabled, the port is
//    closed and the process holds no descriptor on any simulator's line;
//  - "Close": Read, Write and Play are enabled, both port lists disabled, the port is open
//    and the process holds exactly one descriptor on a simulator's line (a module that
//    has just vanished may not have been noticed yet: the port is still open then, and
//    the window turns to "Open" as soon as the loss is seen);
//  - the progress bar is hidden (it shows during an upload only);
//  - every setting string is empty or a well-formed "ST" command with values in range.
void Soak::checkIdle()
{
    if (!w || w->closing())
        return;
    const QString caption = w->cmdOpenCOM->text();
    QStringList wrong;
    if (w->operationRunning())
        wrong << QStringLiteral("an operation still runs");
    if (!w->cmdOpenCOM->isEnabled())
        wrong << QStringLiteral("Open/Close disabled");
    const bool connected = caption == QStringLiteral("Close");
    if (!connected && caption != QStringLiteral("Open"))
        wrong << QStringLiteral("caption '%1'").arg(caption);
    for (QPushButton *b : {w->cmdReadSettings, w->cmdWriteSettings, w->cmdPlayTest})
        if (b->isEnabled() != connected)
            wrong << QStringLiteral("%1 %2").arg(b->objectName(), b->isEnabled() ? QStringLiteral("enabled") : QStringLiteral("disabled"));
    for (QComboBox *list : {w->lstPCCOM, w->lstPCBPS})
        if (list->isEnabled() == connected)
            wrong << QStringLiteral("%1 %2").arg(list->objectName(), list->isEnabled() ? QStringLiteral("enabled") : QStringLiteral("disabled"));
    if (w->session->portOpen() != connected)
        wrong << QStringLiteral("port %1").arg(w->session->portOpen() ? QStringLiteral("open") : QStringLiteral("closed"));
    const int fds = ptyDescriptors();
    if (fds != (connected ? 1 : 0))
        wrong << QStringLiteral("%1 descriptors on a line").arg(fds);
    if (w->pbUploadFile->isVisible())
        wrong << QStringLiteral("progress bar shown");

    static const QRegularExpression form(QStringLiteral("^ST ([DTSNHVOBU]) (\\d+)(?: (\\d+))?$"));
    for (QLabel *out : {w->outKAVOBPS, w->outWriteTimeout, w->outInputStyle, w->outFileOffset, w->outBusyIndicator,
                        w->outVolume, w->outLoopCount, w->outBassBoost, w->outUninterrupted}) {
        const QString text = out->text();
        if (text.isEmpty())
            continue;
        const auto m = form.match(text);
        const SettingTable::Setting *s = m.hasMatch() ? SettingTable::find(m.captured(1).at(0).toLatin1()) : nullptr;
        bool inRange = s && m.captured(2).toInt() >= s->minimum && m.captured(2).toInt() <= s->maximum;
        if (s && m.hasCaptured(3))
            inRange = inRange && s->kind == SettingTable::Kind::Volume && m.captured(3).toInt() >= s->minimum
                      && m.captured(3).toInt() <= s->maximum;
        if (!inRange)
            wrong << QStringLiteral("%1 reads '%2'").arg(out->objectName(), text);
    }
    if (!wrong.isEmpty())
        fail(QStringLiteral("window not coherent when idle: %1 (caption '%2', status '%3')")
                 .arg(wrong.join(QStringLiteral(", ")), caption, w->StatusPanel[2]->text()));
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

// Only Write sends a setting ("ST x value"), and only to the module of this connection:
// Open begins with the controls emptied (or holding a settings file opened before it,
// which the soak does not do), so whatever they hold came from this module's reads and the
// driver's edits. Never to another module, never what a module that was pulled and plugged
// in again had before, never after the connection ended.
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
// send. A connect makes it the module on the open port; a close, a lost port and a new
// program make it none. A read that stopped leaves some settings empty, and Write is
// refused until the driver's edits have filled them.
void Soak::noteSettingsSource(Op kind)
{
    if (m_windowClosed || !w || m_lostInOp || !w->connected() || kind == Op::Close) {
        m_source = {};
        return;
    }
    if (kind == Op::Read && !m_allReceived)
        m_writeNext = chance(60);   // what a user may well do next: press Write
    if (kind != Op::Connect)
        return;
    const SimSlot *slot = slotOfDevice(w->session->link().devicePath());
    m_source = slot ? SettingsSource{slot, slot->started} : SettingsSource{};
}

// The longest a click may take: every reply wait ends after 1 s without a byte, and a
// faulty reply trickles in for up to 0.36 s before that second starts; so a generous
// 1.5 s per wait the click can make, plus a fixed margin for message boxes and the rest.
// A probe that meets another answer's tail lets the line fall quiet and asks once more, and
// an operation that finds bytes waiting lets the line fall quiet first (a wait each).
//  - connect: 5 rates × probe (up to 5 waits), then probe + "V", "FC Q" + "FC F", 9 settings;
//  - read: 9 settings; write: 9 settings, then probe (2) at the new rate;
//  - play: probe (5), "FC L", "FC O", one wait per piece, "FC C 1", "FC Q" + "FC F",
//    probe (5), "PC F".
qint64 Soak::boundMs(Op kind) const
{
#ifdef KAVO_SOAK_SANITIZED
    const qint64 perWait = 2500, margin = 15000;
#else
    const qint64 perWait = 1500, margin = 5000;
#endif
    int waits = 0;
    switch (kind) {
    case Op::Connect: waits = 5 * 5 + 6 + 2 + 9 + 1; break;
    case Op::Read: waits = 1 + 9; break;
    case Op::Write: waits = 1 + 9 + 5; break;
    case Op::Play: waits = 1 + 5 + 1 + 1 + m_pieces + 1 + 2 + 5 + 1; break;
    default: break;
    }
    return waits * perWait + margin;
}

// --- steps ----------------------------------------------------------------------------------

bool Soak::run()
{
    TestFile::setFolderForTesting(m_localDir);
    {
        QFile file(m_localDir + QStringLiteral("/KAVOTEST.MP3"));
        if (!file.open(QIODevice::WriteOnly) || file.write(m_local) != m_local.size()) {
            fail(QStringLiteral("cannot write the local test file"));
            return false;
        }
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

    qApp->installEventFilter(&m_events);
    m_boxes.onShown([this](QMessageBox *box) {
        ++m_boxesShown;
        note(QStringLiteral("box: %1").arg(box->text().simplified()));
        // Settings changed and not written: asked before Open or Exit would drop them,
        // Exit's question outside any operation. Discarded mostly, kept now and then; a
        // window the driver closes goes.
        if (box->button(QMessageBox::Discard)) {
            const bool keep = !m_closingWindow && chance(25);
            m_boxes.answer(keep ? QMessageBox::Cancel : QMessageBox::Discard);
            return;
        }
        if (w && w->closing())
            fail(QStringLiteral("a message box while the window closes: %1").arg(box->text()));
        if (m_lostInOp)
            fail(QStringLiteral("a message box after the port was lost: %1").arg(box->text()));
        checkWhileBusy("message box");
        for (int i = pick(3); i > 0; --i)
            nestedAction("message box");
        m_boxes.answer(chance(75) ? QMessageBox::Yes : QMessageBox::No);
    });
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
    qApp->removeEventFilter(&m_events);
    for (auto &slot : m_slots)
        if (slot->sim)
            checkSimOutput(*slot);
    m_boxes.onShown(nullptr);
    collectLines();
    return m_problems.isEmpty();
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
    m_lostInOp = false;
    m_windowClosed = false;

    const bool connected = w->connected();
    // Weights of the steps; clicks on a disabled button are a few of them. A user picks a
    // port before most clicks on Open.
    const bool portChosen = w->lstPCCOM->currentIndex() >= 0;
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
    case Op::Connect: click(w->cmdOpenCOM, connected ? Op::Close : Op::Connect); break;
    case Op::Read: click(w->cmdReadSettings, Op::Read); break;
    case Op::Write: click(w->cmdWriteSettings, Op::Write); break;
    case Op::Play: click(w->cmdPlayTest, Op::Play); break;
    case Op::Edit:
        for (int i = 1 + pick(3); i > 0; --i)
            edit();
        break;
    case Op::ToggleAuto: toggleAuto(); break;
    case Op::PickRate: pickRate(); break;
    case Op::PickPort: pickPort(); break;
    case Op::RemoveCardFile: removeCardFile(); break;
    case Op::PullModule:
        pullModule("between clicks");
        // A module pulled while connected: the window sees its port go.
        if (w->session->portOpen() && !QTest::qWaitFor([this] { return !w->session->portOpen(); }, 10000)) {
            const SimSlot *slot = slotOf(w->lstPCCOM->currentText());
            if (slot && !slot->sim->running())
                fail(QStringLiteral("COM%1 (%2) vanished and the open port (%3) did not notice in 10 s")
                         .arg(slot->com)
                         .arg(slot->sim->device(), w->session->link().devicePath()));
        }
        break;
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
}

void Soak::click(QPushButton *button, Op kind)
{
    if (!button->isEnabled()) {
        // A user's click on a disabled button does nothing.
        m_op = Op::DisabledClick;
        const int before = int(m_boxes.seen.size());
        QTest::mouseClick(button, Qt::LeftButton);
        if (m_boxes.seen.size() != before || w->operationRunning())
            fail(QStringLiteral("a click on the disabled %1 did something").arg(button->objectName()));
        return;
    }
    m_op = kind;
    note(QStringLiteral("click %1 (%2)").arg(button->objectName(), QLatin1String(opName(kind))));
    const bool wasConnected = w->connected();
    m_allReceived = false;
    m_lostInOp = false;
    if (kind == Op::Write)
        m_writeSource = m_source;
    if (kind == Op::Play)
        m_status.start(w->StatusPanel[2]);
    m_nudge.start(pick(400));
    m_inClick = true;
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(button, Qt::LeftButton);
    const qint64 took = clock.elapsed();
    m_inClick = false;
    m_nudge.stop();
    m_status.stop();

    const QString name = QLatin1String(opName(kind));
    m_longest[name] = qMax(m_longest.value(name), took);
    if (took > boundMs(kind))
        fail(QStringLiteral("the %1 click took %2 ms, more than its %3 ms").arg(name).arg(took).arg(boundMs(kind)));
    if (!m_windowClosed && !w->operationRunning() && kind == Op::Connect && !wasConnected && w->connected())
        ++m_connected;
    note(QStringLiteral("  took %1 ms; caption '%2', status '%3'")
             .arg(took).arg(w->cmdOpenCOM->text(), w->StatusPanel[2]->text()));
    noteSettingsSource(kind);
}

// From a timer that fires while a click runs (during its waits, status updates and
// message boxes): a check, something else the user does meanwhile, and the next firing.
void Soak::nudge()
{
    if (!m_inClick || !w)
        return;
    if (!w->operationRunning()) {
        // Events ran inside the click but outside its operation (QTest's own, before the
        // handler runs): nothing to check, the click itself may still be on its way.
        ++m_nestedCounts[QStringLiteral("outside-operation")];
        m_nudge.start(pick(100));
        return;
    }
    checkWhileBusy("timer during a wait");
    nestedAction("timer");
    if (m_inClick && !m_windowClosed)
        m_nudge.start(pick(700));
}

void Soak::nestedAction(const char *where)
{
    if (!w || w->closing())
        return;
    const int r = pick(100);
    QString kind;
    if (r < 30) {
        kind = QStringLiteral("handler");
        refusedHandler(where);
    } else if (r < 40) {
        kind = QStringLiteral("disabled-click");
        QPushButton *buttons[] = {w->cmdOpenCOM, w->cmdReadSettings, w->cmdWriteSettings, w->cmdPlayTest};
        QPushButton *b = buttons[pick(4)];
        if (b->isEnabled())
            fail(QStringLiteral("%1: %2 is enabled during an operation").arg(QLatin1String(where), b->objectName()));
        else
            QTest::mouseClick(b, Qt::LeftButton);
    } else if (r < 70) {
        kind = QStringLiteral("edit");
        edit();
    } else if (r < 76) {
        kind = QStringLiteral("toggle-auto");
        toggleAuto();
    } else if (r < 82) {
        kind = QStringLiteral("pick-rate");
        pickRate();
    } else if (r < 84) {
        // The port list is usable during a connect attempt, which reads it at every try.
        kind = QStringLiteral("pick-port");
        pickPort();
    } else if (r < 87) {
        kind = QStringLiteral("pull-module");
        pullModule(where);
    } else if (r < 88) {
        kind = QStringLiteral("close-window");
        closeWindowNow(where);
    } else {
        kind = QStringLiteral("nothing");
    }
    ++m_nestedCounts[kind];
}

// One of the four click handlers, called straight while an operation runs: it must find
// the operation taken and return at once, running no event at all (so it neither waits,
// nor shows a box, nor writes the status line, nor lets anything else run). A second
// operation cannot begin either.
void Soak::refusedHandler(const char *where)
{
    using Handler = void (frmSerialData::*)();
    static const Handler handlers[] = {&frmSerialData::cmdOpenCOM_Click, &frmSerialData::cmdReadSettings_Click,
                                       &frmSerialData::cmdWriteSettings_Click, &frmSerialData::cmdPlayTest_Click};
    static const char *names[] = {"cmdOpenCOM_Click", "cmdReadSettings_Click", "cmdWriteSettings_Click",
                                  "cmdPlayTest_Click"};
    const int i = pick(4);
    const QString caption = w->cmdOpenCOM->text();
    m_events.count = 0;
    m_events.armed = true;
    (w->*handlers[i])();
    m_events.armed = false;
    if (w->beginOperation()) {
        fail(QStringLiteral("%1: a second operation could begin").arg(QLatin1String(where)));
        w->endOperation();
    }
    if (m_events.count != 0 || !w->operationRunning() || w->cmdOpenCOM->text() != caption)
        fail(QStringLiteral("%1: %2 called during an operation was not refused (%3 events ran, operation %4, caption '%5')")
                 .arg(QLatin1String(where), QLatin1String(names[i]))
                 .arg(m_events.count)
                 .arg(w->operationRunning() ? QStringLiteral("running") : QStringLiteral("ended"), w->cmdOpenCOM->text()));
}

// A change to one setting control, as a user makes it: enabled controls only.
void Soak::edit()
{
    QScrollBar *spinners[] = {w->vscWriteTimeout, w->vscFileOffset, w->vscVolumeL, w->vscVolumeR,
                              w->vscLoopCount,    w->vscBBFreq,     w->vscBBBoost};
    QComboBox *lists[] = {w->lstKAVOBPS, w->lstInputStyle};
    QCheckBox *boxes[] = {w->chkBusyIndicator, w->chkVolumeLocked, w->chkBassBoost, w->chkUninterrupted};
    const int r = pick(10);
    if (r < 6) {
        QScrollBar *s = spinners[pick(7)];
        if (!s->isEnabled())
            return;
        if (chance(60))
            s->triggerAction(chance(50) ? QAbstractSlider::SliderSingleStepAdd : QAbstractSlider::SliderSingleStepSub);
        else
            s->setValue(s->minimum() + pick(s->maximum() - s->minimum() + 1));
    } else if (r < 8) {
        QComboBox *l = lists[pick(2)];
        if (l->isEnabled() && l->count() > 0)
            l->setCurrentIndex(pick(l->count()));
    } else {
        QCheckBox *b = boxes[pick(4)];
        if (b->isEnabled())
            b->click();
    }
}

void Soak::toggleAuto()
{
    if (w->chkAutoBitRate->isEnabled())
        w->chkAutoBitRate->click();
}

void Soak::pickRate()
{
    // Only a list the user can reach; now and then no rate at all, as at start.
    if (!w->lstPCBPS->isEnabled())
        return;
    w->lstPCBPS->setCurrentIndex(chance(5) && !m_inClick ? -1 : pick(w->lstPCBPS->count()));
}

void Soak::pickPort()
{
    if (!w->lstPCCOM->isEnabled() || w->lstPCCOM->count() == 0)
        return;
    w->lstPCCOM->setCurrentIndex(pick(w->lstPCCOM->count()));
    note(QStringLiteral("port %1").arg(w->lstPCCOM->currentText()));
}

void Soak::removeCardFile()
{
    SimSlot &slot = *m_slots[pick(int(m_slots.size()))];
    if (QFile::remove(slot.cardDir + CardPath))
        note(QStringLiteral("COM%1: test file taken off the card").arg(slot.com));
}

// The module vanishes: its process is killed, its COM link stays behind, dangling. It is
// plugged in again before the next step.
void Soak::pullModule(const char *where)
{
    SimSlot *slot = w ? slotOf(w->lstPCCOM->currentText()) : nullptr;
    if (!slot || chance(20))
        slot = m_slots[pick(int(m_slots.size()))].get();
    if (!slot->sim || !slot->sim->running())
        return;
    note(QStringLiteral("COM%1 pulled (%2)").arg(slot->com).arg(QLatin1String(where)));
    slot->sim->kill();
}

// The module is taken away between steps (and plugged in again before the next one); a
// window connected to it sees its port go.
void Soak::retire(SimSlot &slot, const QString &why)
{
    note(QStringLiteral("COM%1 pulled: %2").arg(slot.com).arg(why));
    const bool open = w && slotOfDevice(w->session->link().devicePath()) == &slot;
    slot.sim->kill();
    if (open && !QTest::qWaitFor([this] { return !w->session->portOpen(); }, 10000))
        fail(QStringLiteral("COM%1 (%2) vanished and the open port did not notice in 10 s").arg(slot.com).arg(slot.sim->device()));
}

// While a port is open, its COM link is pointed at the other module's device (a link
// re-pointed, a module on a new pseudo-terminal); then the user writes, reads, or closes
// and opens again. The tool keeps to the device it opened, or refuses; the link goes
// back afterwards.
void Soak::repointLink()
{
    SimSlot *from = w->connected() ? slotOfDevice(w->session->link().devicePath()) : nullptr;
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
    case 0: click(w->cmdWriteSettings, Op::Write); break;
    case 1: click(w->cmdReadSettings, Op::Read); break;
    default:
        click(w->cmdOpenCOM, Op::Close);
        if (!m_windowClosed && !w->connected())
            click(w->cmdOpenCOM, Op::Connect);
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

void Soak::closeWindowNow(const char *where)
{
    note(QStringLiteral("window closed (%1)").arg(QLatin1String(where)));
    m_windowClosed = true;
    m_closingWindow = true;
    w->close();
    m_closingWindow = false;
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
                          "connection; %18 writes right after a read that stopped; longest clicks: %15")
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
        .arg(m_writesAfterStoppedRead);
}

// The offscreen platform says for every window shown that it cannot pass size hints on;
// over hundreds of message boxes that says nothing.
QtMessageHandler g_previousMessageHandler = nullptr;

void quietMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message == QStringLiteral("This plugin does not support propagateSizeHints()"))
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

// The status watch sees every text ShowStatus gives, also one the next call replaces.
void tst_Soak::statusTextsAreSeen()
{
    KavoSim sim;
    QVERIFY(sim.start());
    auto w = openWindow();
    QVERIFY(w);
    StatusWatch watch;
    watch.start(w->StatusPanel[2]);
    w->ShowStatus(QStringLiteral("one"));
    w->ShowStatus(UploadComplete);
    w->ShowStatus(QStringLiteral("three"));
    watch.stop();
    QCOMPARE(watch.texts, QStringList({QString(), QStringLiteral("one"), UploadComplete, QStringLiteral("three")}));
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
    {
        QFile file(local.filePath(QStringLiteral("KAVOTEST.MP3")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write(localTestBytes().left(1300)) == 1300);
    }
    TestFile::setFolderForTesting(local.path());
    auto restore = qScopeGuard([] { TestFile::setFolderForTesting(QString()); });

    KavoSim sim;
    if (fileOnCard) {
        QFile card(sim.cardDir() + CardPath);
        QVERIFY(card.open(QIODevice::WriteOnly));
        QVERIFY(card.write("ID3") == 3);
    }
    QVERIFY(sim.start({QStringLiteral("--mark-early"), QStringLiteral("--reply"), reply,
                       QStringLiteral("--chunk-delay"), QStringLiteral("300")}));
    auto w = openWindow();
    QVERIFY(w && selectEntry(w->lstPCCOM, sim.comName()));
    MessageBoxes boxes;
    boxes.answer(QMessageBox::Yes);
    QTest::mouseClick(w->cmdOpenCOM, Qt::LeftButton);
    QCOMPARE(w->cmdOpenCOM->text(), QStringLiteral("Close"));
    QTest::mouseClick(w->cmdPlayTest, Qt::LeftButton);
    QTest::mouseClick(w->cmdReadSettings, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(sim.commands().contains(QStringLiteral("ST D")), 10000);
    QVERIFY(sim.commands().contains(QStringLiteral("PC F /KAVOTEST.MP3")));

    QStringList early;
    for (const TrafficLine &line : sim.log())
        if (hasNote(line, QStringLiteral("early")) && !line.command.isEmpty())
            early << describe(line);
    QVERIFY2(early.isEmpty(), qPrintable(early.join(QLatin1Char('\n'))));
    QCOMPARE(w->StatusPanel[2]->text(), QStringLiteral("All Settings Received"));
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
