// The Open/Close button against kavo-sim: automatic detection, the chosen rate, the
// failure paths with their messages, closing, unplugging, the one-operation guard, a window
// that stays usable while the session searches on its own thread, and closing the window
// in the middle of an operation.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "link/comports.h"
#include "support/devicehold.h"
#include "support/kavosim.h"
#include "support/messageboxes.h"
#include "support/testenv.h"
#include "support/windowdriver.h"
#include "support/windowfixture.h"

namespace {

const QStringList Rates = {QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("38400"),
                           QStringLiteral("57600"), QStringLiteral("115200")};
const QStringList OperationButtons = {QStringLiteral("cmdOpenCOM"), QStringLiteral("cmdReadSettings"),
                                      QStringLiteral("cmdWriteSettings"), QStringLiteral("cmdPlayTest")};

QString timeOutText(const QString &port)
{
    return port + QStringLiteral(" is not connected to a Kavo or there was a time-out trying to connect to the Kavo");
}

QString mismatchText(const QString &port, const QString &code)
{
    return port + QStringLiteral(" is not connected to a Kavo (SN reported: ") + code + QStringLiteral(" <> KAV1)");
}

// Every text the status line shows, in order, and what the operation buttons were while an
// operation ran. Sampled before each event the application handles: every change the window
// makes happens while it handles one event, so none goes unseen.
class StatusRecorder : public QObject
{
public:
    explicit StatusRecorder(const WindowDriver &window) : m_window(window)
    {
        m_panel = m_window.find<QLabel>(QStringLiteral("StatusPanel3"));
        for (const QString &name : OperationButtons)
            m_buttons << m_window.widget(name);
        qApp->installEventFilter(this);
        sample();
    }
    ~StatusRecorder() override { qApp->removeEventFilter(this); }

    void sample()
    {
        const bool busy = m_window.busy();
        if (busy)
            for (const QWidget *button : std::as_const(m_buttons))
                buttonsEnabledDuringOperation = buttonsEnabledDuringOperation || button->isEnabled();
        const QString text = m_panel->text();
        if (m_texts.isEmpty() || m_texts.last() != text)
            m_texts << text;
        if (busy && !whileBusy.contains(text))
            whileBusy << text;
    }
    QStringList texts()
    {
        sample();
        return m_texts;
    }
    QStringList searching() { return texts().filter(QStringLiteral("Searching for Kavo at ")); }

    bool buttonsEnabledDuringOperation = false;
    QStringList whileBusy;   // the texts shown while an operation ran

protected:
    bool eventFilter(QObject *, QEvent *) override
    {
        sample();
        return false;
    }

private:
    const WindowDriver &m_window;
    QLabel *m_panel;
    QList<QWidget *> m_buttons;
    QStringList m_texts;
};

// Ends the run with a message when the scope it guards has not been left in time, rather
// than letting a call that never returns hang the suite.
class Watchdog
{
public:
    Watchdog(int ms, const char *what)
        : m_thread([this, ms, what] {
            std::unique_lock<std::mutex> lock(m_lock);
            if (!m_done.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_left; }))
                qFatal("%s did not return within %d ms", what, ms);
        })
    {
    }
    ~Watchdog()
    {
        {
            const std::lock_guard<std::mutex> lock(m_lock);
            m_left = true;
        }
        m_done.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_done;
    bool m_left = false;
    std::thread m_thread;
};

// Chooses an entry of a list as the user does while an operation runs (the driver's pick
// would wait until the operation is over).
void choose(const WindowDriver &window, const QString &list, const QString &entry)
{
    auto *box = window.find<QComboBox>(list);
    QVERIFY(box);
    QVERIFY(box->isEnabled());
    const int index = box->findText(entry);
    QVERIFY2(index >= 0, qPrintable(entry));
    box->setCurrentIndex(index);
    emit box->activated(index);
}

// The distinct rates of the log's lines, in the order they came.
QList<int> ratesIn(const QList<TrafficLine> &log)
{
    QList<int> rates;
    for (const TrafficLine &line : log)
        if (rates.isEmpty() || rates.last() != line.rate)
            rates << line.rate;
    return rates;
}

} // namespace

class tst_Connect : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void automaticDetection_data();
    void automaticDetection();
    void chosenRate_data();
    void chosenRate();
    void noPortSelected();
    void portCannotBeOpened_data();
    void portCannotBeOpened();
    void identityMismatch_data();
    void identityMismatch();
    void nothingAttached();
    void closeSendsNothing();
    void unplugWhileConnected();
    void lostWhileConnecting_data();
    void lostWhileConnecting();
    void staleAnswerOfAnEarlierProgram();
    void focusBackOnTheButton();
    void listShowsTheOpenPort();
    void portChosenDuringDetection();
    void onlyThisModulesSettingsWritten();
    void guardDuringClick();
    void emptyRateList();
    void windowClosedDuringOperation_data();
    void windowClosedDuringOperation();

private:
    // A simulator and a window with its port chosen; false when either failed.
    bool setUp(KavoSim &sim, std::unique_ptr<frmSerialData> &window, const QStringList &options);
    // Automatic detection on or off as the check box is clicked, and a rate picked (none
    // when empty).
    static bool chooseRate(WindowDriver &window, bool automatic, const QString &rate);
    static void verifyNotConnected(const WindowDriver &window);
    static void verifyConnected(const WindowDriver &window, const QString &port);
    static void verifyBoxes(const MessageBoxes &boxes);
    // The status line says the module's port was lost and closed, and what to do.
    static void verifyLossTold(const WindowDriver &window, const KavoSim &sim);
};

void tst_Connect::initTestCase()
{
    TestEnv::isolate();
}

bool tst_Connect::setUp(KavoSim &sim, std::unique_ptr<frmSerialData> &window, const QStringList &options)
{
    if (!sim.start(options)) {
        qWarning() << "kavo-sim did not start:" << sim.errorOutput();
        return false;
    }
    window = openWindow();
    return window && WindowDriver(window.get()).pick(QStringLiteral("lstPCCOM"), sim.comName());
}

bool tst_Connect::chooseRate(WindowDriver &window, bool automatic, const QString &rate)
{
    if (window.checked(QStringLiteral("chkAutoBitRate")) != automatic && !window.click(QStringLiteral("chkAutoBitRate")))
        return false;
    if (window.checked(QStringLiteral("chkAutoBitRate")) != automatic)
        return false;
    return rate.isEmpty() || window.pick(QStringLiteral("lstPCBPS"), rate);
}

// Not connected: the button opens, only Open can be clicked, the lists can be changed, and
// the status line shows no open port.
void tst_Connect::verifyNotConnected(const WindowDriver &window)
{
    QCOMPARE(window.text(QStringLiteral("cmdOpenCOM")), QStringLiteral("Open"));
    QVERIFY(!window.busy());
    QVERIFY(window.enabled(QStringLiteral("cmdOpenCOM")));
    QVERIFY(!window.enabled(QStringLiteral("cmdReadSettings")));
    QVERIFY(!window.enabled(QStringLiteral("cmdWriteSettings")));
    QVERIFY(!window.enabled(QStringLiteral("cmdPlayTest")));
    QVERIFY(window.enabled(QStringLiteral("lstPCCOM")));
    QVERIFY(window.enabled(QStringLiteral("lstPCBPS")));
    QCOMPARE(window.text(QStringLiteral("StatusPanel1")), QString());
    QCOMPARE(window.text(QStringLiteral("StatusPanel2")), QString());
}

void tst_Connect::verifyConnected(const WindowDriver &window, const QString &port)
{
    QCOMPARE(window.text(QStringLiteral("cmdOpenCOM")), QStringLiteral("Close"));
    QVERIFY(!window.busy());
    QVERIFY(window.enabled(QStringLiteral("cmdOpenCOM")));
    QVERIFY(window.enabled(QStringLiteral("cmdReadSettings")));
    QVERIFY(window.enabled(QStringLiteral("cmdWriteSettings")));
    QVERIFY(window.enabled(QStringLiteral("cmdPlayTest")));
    QVERIFY(!window.enabled(QStringLiteral("lstPCCOM")));
    QVERIFY(!window.enabled(QStringLiteral("lstPCBPS")));
    QCOMPARE(window.text(QStringLiteral("lstPCCOM")), port);
    QCOMPARE(window.text(QStringLiteral("StatusPanel1")), port);
}

// Message boxes of the connection: title "KavoConfig", OK alone, no icon, plain text.
void tst_Connect::verifyBoxes(const MessageBoxes &boxes)
{
    for (const MessageBoxes::Seen &box : boxes.seen) {
        QCOMPARE(box.title, QStringLiteral("KavoConfig"));
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(box.icon, QMessageBox::NoIcon);
        QCOMPARE(box.format, Qt::PlainText);
    }
}

void tst_Connect::verifyLossTold(const WindowDriver &window, const KavoSim &sim)
{
    QCOMPARE(window.status(), QStringLiteral("%1 (%2) was disconnected; the port is closed. Reconnect the module, "
                                             "then press Open.").arg(sim.comName(), sim.device()));
}

void tst_Connect::automaticDetection_data()
{
    QTest::addColumn<int>("index");
    for (int i = 0; i < Rates.size(); ++i)
        QTest::addRow("%s", qPrintable(Rates[i])) << i;
}

// The module at each rate: one probe at every lower rate, the whole sequence at its own,
// higher rates never tried; the list shows the rate that answered.
void tst_Connect::automaticDetection()
{
    QFETCH(int, index);
    KavoSim sim;
    std::unique_ptr<frmSerialData> w;
    QVERIFY(setUp(sim, w, {QStringLiteral("--rate"), Rates[index]}));
    WindowDriver window(w.get());
    QVERIFY(window.checked(QStringLiteral("chkAutoBitRate")));
    MessageBoxes boxes;
    StatusRecorder status(window);

    QVERIFY(window.click(QStringLiteral("cmdOpenCOM")));

    QVERIFY(boxes.seen.isEmpty());
    verifyConnected(window, sim.comName());
    QCOMPARE(window.value(QStringLiteral("lstPCBPS")), index);
    QCOMPARE(window.text(QStringLiteral("lblVersion")), QStringLiteral("Kavo v2.07KAV1 SN 00012345"));
    QCOMPARE(window.text(QStringLiteral("StatusPanel2")), Rates[index] + QStringLiteral(",N,8,1"));
    QStringList expectedSearch;
    for (int i = 0; i <= index; ++i)
        expectedSearch << QStringLiteral("Searching for Kavo at %1 bps").arg(Rates[i]);
    QCOMPARE(status.searching(), expectedSearch);

    const QList<TrafficLine> log = sim.log();
    QStringList atRight;
    for (const TrafficLine &line : log) {
        const int tried = Rates.indexOf(QString::number(line.rate));
        QVERIFY2(tried >= 0 && tried <= index, qPrintable(QStringLiteral("tried %1 bps").arg(line.rate)));
        if (tried < index)
            QCOMPARE(line.note, QStringLiteral("rate-mismatch"));
        else
            atRight << line.command;
    }
    QSet<int> lowerRatesProbed;
    for (const TrafficLine &line : log)
        if (line.rate != Rates[index].toInt())
            lowerRatesProbed << line.rate;
    QCOMPARE(lowerRatesProbed.size(), index);
    // Probe (escape, then the empty line), probe again and the version, the card
    // information, then the settings.
    const QStringList connectSequence = {QStringLiteral("\\e"), QString(), QStringLiteral("\\e"), QString(),
                                         QStringLiteral("V"), QStringLiteral("FC Q")};
    QCOMPARE(atRight.mid(0, connectSequence.size()), connectSequence);
}

void tst_Connect::chosenRate_data()
{
    QTest::addColumn<QString>("moduleRate");
    QTest::addColumn<QString>("chosen");   // the rate picked in lstPCBPS, empty for none
    QTest::addColumn<QStringList>("messages");   // %1: the port
    QTest::addColumn<bool>("connects");
    QTest::addColumn<QStringList>("statusTexts");   // status texts that must appear, in order

    QTest::newRow("right") << QStringLiteral("57600") << QStringLiteral("57600") << QStringList() << true
                           << QStringList{QStringLiteral("Opening %1"), QStringLiteral("Searching for Kavo at 57600 bps")};
    // The module answers, garbled at the wrong rate: the box says so, and what to do.
    QTest::newRow("wrong") << QStringLiteral("57600") << QStringLiteral("19200")
                           << QStringList{timeOutText(QStringLiteral("%1"))
                                          + QStringLiteral("\r\nSomething answers on %1, but not at 19200 bps: turn on "
                                                           "Auto Bit Rate Detection.")}
                           << false
                           << QStringList{QStringLiteral("Opening %1"), QStringLiteral("Searching for Kavo at 19200 bps"),
                                          QStringLiteral("No Kavo answered on %1 at 19200 bps")};
    QTest::newRow("none") << QStringLiteral("9600") << QString()
                          << QStringList{QStringLiteral("Please select a bit rate for %1")} << false << QStringList();
}

void tst_Connect::chosenRate()
{
    QFETCH(QString, moduleRate);
    QFETCH(QString, chosen);
    QFETCH(QStringList, messages);
    QFETCH(bool, connects);
    QFETCH(QStringList, statusTexts);
    KavoSim sim;
    std::unique_ptr<frmSerialData> w;
    QVERIFY(setUp(sim, w, {QStringLiteral("--rate"), moduleRate}));
    WindowDriver window(w.get());
    QVERIFY(chooseRate(window, false, chosen));
    QCOMPARE(window.text(QStringLiteral("lstPCBPS")), chosen);
    for (QString &text : messages)
        text.replace(QStringLiteral("%1"), sim.comName());
    MessageBoxes boxes;
    StatusRecorder status(window);

    QVERIFY(window.click(QStringLiteral("cmdOpenCOM")));

    QCOMPARE(boxes.texts(), messages);
    verifyBoxes(boxes);
    if (connects)
        verifyConnected(window, sim.comName());
    else
        verifyNotConnected(window);
    // The user's choice stays as it was.
    QCOMPARE(window.text(QStringLiteral("lstPCBPS")), chosen);
    QCOMPARE(window.checked(QStringLiteral("chkAutoBitRate")), false);
    const QStringList seen = status.texts();
    qsizetype from = 0;
    for (const QString &text : statusTexts) {
        from = seen.indexOf(QString(text).replace(QStringLiteral("%1"), sim.comName()), from);
        QVERIFY2(from >= 0, qPrintable(text + QStringLiteral(" not in ") + seen.join(QStringLiteral(" | "))));
    }
    // Only the chosen rate is ever tried.
    for (const TrafficLine &line : sim.log())
        QCOMPARE(QString::number(line.rate), chosen);
}

// No port chosen (as the window starts): the box asks for one, and nothing is opened.
void tst_Connect::noPortSelected()
{
    KavoSim sim;
    QVERIFY(sim.start());
    const auto w = openWindow();
    QVERIFY(w);
    WindowDriver window(w.get());
    QCOMPARE(window.value(QStringLiteral("lstPCCOM")), -1);
    MessageBoxes boxes;

    for (const bool automatic : {true, false}) {
        QVERIFY(chooseRate(window, automatic, QStringLiteral("9600")));
        QVERIFY(window.click(QStringLiteral("cmdOpenCOM")));
    }

    QCOMPARE(boxes.texts(), QStringList(2, QStringLiteral("Please select a COM port")));
    verifyBoxes(boxes);
    verifyNotConnected(window);
    QVERIFY(sim.log().isEmpty());
}

void tst_Connect::portCannotBeOpened_data()
{
    QTest::addColumn<bool>("automatic");
    QTest::addColumn<int>("boxCount");
    QTest::newRow("automatic") << true << 2;
    QTest::newRow("chosen rate") << false << 1;
}

// The device behind the COM link is gone once the port was chosen: the port layer's reason,
// and no further rate is tried. A search over all rates ends with the box that no Kavo
// answered, as every unsuccessful search does; the status line says what happened.
void tst_Connect::portCannotBeOpened()
{
    QFETCH(bool, automatic);
    QFETCH(int, boxCount);
    KavoSim sim;
    std::unique_ptr<frmSerialData> w;
    QVERIFY(setUp(sim, w, {}));
    WindowDriver window(w.get());
    QVERIFY(chooseRate(window, automatic, QStringLiteral("9600")));
    // The link stays, stale: pointing at a path that no other program can get meanwhile
    // (the killed simulator's pseudo-terminal number soon names someone else's device).
    sim.kill();
    const QString link = ComPorts::portsFolder() + QStringLiteral("/COM%1").arg(sim.com());
    QFile::remove(link);
    QVERIFY(QFile::link(QDir::temp().filePath(QStringLiteral("kavo-vanished-device")), link));
    MessageBoxes boxes;
    StatusRecorder status(window);

    QVERIFY(window.click(QStringLiteral("cmdOpenCOM")));
    QFile::remove(link);

    QCOMPARE(boxes.seen.size(), boxCount);
    verifyBoxes(boxes);
    QVERIFY2(boxes.seen[0].text.startsWith(QStringLiteral("Com%1 is not available.\r\n").arg(sim.com())),
             qPrintable(boxes.seen[0].text));
    QVERIFY(boxes.seen[0].text.size() > QStringLiteral("Com1 is not available.\r\n").size());
    if (automatic)
        QCOMPARE(boxes.seen[1].text, timeOutText(sim.comName()));
    QVERIFY(status.searching().isEmpty());
    QCOMPARE(window.status(), sim.comName() + QStringLiteral(" could not be opened"));
    verifyNotConnected(window);
}

void tst_Connect::identityMismatch_data()
{
    QTest::addColumn<bool>("automatic");
    QTest::newRow("automatic") << true;
    QTest::newRow("chosen rate") << false;
}

void tst_Connect::identityMismatch()
{
    QFETCH(bool, automatic);
    KavoSim sim;
    std::unique_ptr<frmSerialData> w;
    QVERIFY(setUp(sim, w, {QStringLiteral("--rate"), QStringLiteral("19200"), QStringLiteral("--identity"),
                           QStringLiteral("KAV2")}));
    WindowDriver window(w.get());
    QVERIFY(chooseRate(window, automatic, automatic ? QString() : QStringLiteral("19200")));
    MessageBoxes boxes;
    // The operation still runs while its messages are up.
    bool buttonsEnabledUnderBox = false;
    bool idleUnderBox = false;
    boxes.onShown([&](QMessageBox *) {
        idleUnderBox = idleUnderBox || !window.busy();
        for (const QString &name : OperationButtons)
            buttonsEnabledUnderBox = buttonsEnabledUnderBox || window.enabled(name);
    });

    QVERIFY(window.click(QStringLiteral("cmdOpenCOM")));

    QStringList expected{mismatchText(sim.comName(), QStringLiteral("KAV2"))};
    if (automatic)
        expected << timeOutText(sim.comName());
    QCOMPARE(boxes.texts(), expected);
    verifyBoxes(boxes);
    QVERIFY(!buttonsEnabledUnderBox);
    QVERIFY(!idleUnderBox);
    verifyNotConnected(window);
    QCOMPARE(window.status(), QStringLiteral("The device on %1 is not a Kavo").arg(sim.comName()));
    // The rate that answered stays selected; the mismatching reply stays on show.
    QCOMPARE(window.text(QStringLiteral("lstPCBPS")), QStringLiteral("19200"));
    QCOMPARE(window.text(QStringLiteral("lblVersion")), QStringLiteral("Kavo v2.07KAV2 SN 00012345"));
    // Nothing after the version command, and no rate above the one that answered.
    const QList<TrafficLine> log = sim.log();
    QVERIFY(!log.isEmpty());
    QCOMPARE(log.last().command, QStringLiteral("V"));
    for (const TrafficLine &line : log)
        QVERIFY(line.rate <= 19200);
}

// Nothing answers: five searches, each ended by a time-out, then one message.
void tst_Connect::nothingAttached()
{
    KavoSim sim;
    std::unique_ptr<frmSerialData> w;
    QVERIFY(setUp(sim, w, {QStringLiteral("--silent")}));
    WindowDriver window(w.get());
    MessageBoxes boxes;
    StatusRecorder status(window);

    QVERIFY(window.click(QStringLiteral("cmdOpenCOM")));

    QStringList expected;
    for (const QString &rate : Rates)
        expected << QStringLiteral("Searching for Kavo at %1 bps").arg(rate);
    QCOMPARE(status.searching(), expected);
    QCOMPARE(boxes.texts(), QStringList{timeOutText(sim.comName())});
    verifyBoxes(boxes);
    verifyNotConnected(window);
    // The status line tells how the search ended, not the last rate it tried.
    QCOMPARE(window.status(), QStringLiteral("No Kavo answered on %1 at any bit rate").arg(sim.comName()));
    // One probe per rate, in list order.
    QCOMPARE(ratesIn(sim.log()), (QList<int>{9600, 19200, 38400, 57600, 115200}));
    QVERIFY(!sim.commands().contains(QStringLiteral("V")));
}

// Closing sends nothing and frees the port: the next thing the module hears is the probe
// of the next Open.
void tst_Connect::closeSendsNothing()
{
    KavoSim sim;
    std::unique_ptr<frmSerialData> w;
    QVERIFY(setUp(sim, w, {}));
    WindowDriver window(w.get());
    MessageBoxes boxes;
    QVERIFY(window.click(QStringLiteral("cmdOpenCOM")));
    verifyConnected(window, sim.comName());
    const qsizetype before = sim.log().size();

    QVERIFY(window.click(QStringLiteral("cmdOpenCOM")));

    verifyNotConnected(window);
    QCOMPARE(window.status(), QStringLiteral("Connection Closed"));
    // Close keeps what the window showed.
    QCOMPARE(window.text(QStringLiteral("lblVersion")), QStringLiteral("Kavo v2.07KAV1 SN 00012345"));
    QCOMPARE(window.text(QStringLiteral("outVolume")), QStringLiteral("ST V 16"));

    QVERIFY(window.click(QStringLiteral("cmdOpenCOM")));
    verifyConnected(window, sim.comName());
    const QList<TrafficLine> log = sim.log();
    QVERIFY(log.size() > before);
    QCOMPARE(log[before].command, QStringLiteral("\\e"));
    QVERIFY(boxes.seen.isEmpty());
}

// The module vanishes while connected: the window goes back to not connected and says
// so on the status line; once a module is back on the same COM number, Open works.
void tst_Connect::unplugWhileConnected()
{
    KavoSim sim;
    std::unique_ptr<frmSerialData> w;
    QVERIFY(setUp(sim, w, {}));
    const DeviceHold number(sim.device());
    QVERIFY(number.held());
    WindowDriver window(w.get());
    MessageBoxes boxes;
    QVERIFY(window.click(QStringLiteral("cmdOpenCOM")));
    verifyConnected(window, sim.comName());

    sim.kill();

    QTRY_COMPARE_WITH_TIMEOUT(window.text(QStringLiteral("cmdOpenCOM")), QStringLiteral("Open"), 5000);
    verifyNotConnected(window);
    verifyLossTold(window, sim);
    QVERIFY(boxes.seen.isEmpty());
    // What the window showed of the module stays on show, as after Close.
    QCOMPARE(window.text(QStringLiteral("lblVersion")), QStringLiteral("Kavo v2.07KAV1 SN 00012345"));
    QCOMPARE(window.text(QStringLiteral("outVolume")), QStringLiteral("ST V 16"));

    KavoSim again;
    QVERIFY(again.start({QStringLiteral("--com"), QString::number(sim.com())}));
    QVERIFY(again.device() != sim.device());
    // The lost port freed its number for whatever it names next: Open alone reaches it.
    QVERIFY(window.click(QStringLiteral("cmdOpenCOM")));
    QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.texts().join(QStringLiteral(" | "))));
    verifyConnected(window, again.comName());
    QVERIFY(again.commands().contains(QStringLiteral("FC Q")));
}

void tst_Connect::lostWhileConnecting_data()
{
    // The module hangs up when this byte arrives: 1 the first probe, 5 the version
    // command, 8 the card-information command (probe, probe, "V\r", then "FC Q\r").
    QTest::addColumn<int>("hangUpAt");
    QTest::addColumn<bool>("automatic");
    QTest::newRow("probe, automatic") << 1 << true;
    QTest::newRow("probe, chosen rate") << 1 << false;
    QTest::newRow("version, automatic") << 5 << true;
    QTest::newRow("version, chosen rate") << 5 << false;
    QTest::newRow("card information") << 8 << true;
}

// The port goes away in the middle of the click: the attempt stops at once, without
// message boxes and without trying further rates, and the status line says why.
void tst_Connect::lostWhileConnecting()
{
    QFETCH(int, hangUpAt);
    QFETCH(bool, automatic);
    KavoSim sim;
    std::unique_ptr<frmSerialData> w;
    QVERIFY(setUp(sim, w, {QStringLiteral("--hangup-after"), QString::number(hangUpAt)}));
    WindowDriver window(w.get());
    QVERIFY(chooseRate(window, automatic, QStringLiteral("9600")));
    MessageBoxes boxes;
    StatusRecorder status(window);

    QVERIFY(window.click(QStringLiteral("cmdOpenCOM")));

    QCOMPARE(boxes.texts(), QStringList());
    verifyNotConnected(window);
    QCOMPARE(status.searching(), QStringList{QStringLiteral("Searching for Kavo at 9600 bps")});
    verifyLossTold(window, sim);
}

// A program closed in the middle of the module's answer leaves the rest of it on the line;
// the next program to open the port takes it for what it is and connects at once.
void tst_Connect::staleAnswerOfAnEarlierProgram()
{
    KavoSim sim;
    std::unique_ptr<frmSerialData> w;
    QVERIFY(setUp(sim, w, {QStringLiteral("--reply"), QStringLiteral("V=Kavo v2.07\\|KAV1 SN 00012345>"),
                           QStringLiteral("--chunk-delay"), QStringLiteral("400")}));
    WindowDriver window(w.get());
    {
        QSerialPort earlier;
        earlier.setPortName(sim.device());
        QVERIFY(earlier.open(QIODevice::ReadWrite));
        earlier.setBaudRate(9600);
        earlier.write("V\r");
        QVERIFY(earlier.waitForBytesWritten(5000));
        QByteArray got;
        while (!got.contains("Kavo") && earlier.waitForReadyRead(5000))
            got += earlier.readAll();
        QVERIFY(got.contains("Kavo"));
    }   // closed with the rest of the answer still to come
    MessageBoxes boxes;
    QVERIFY(window.click(QStringLiteral("cmdOpenCOM")));
    QVERIFY(boxes.seen.isEmpty());
    verifyConnected(window, sim.comName());
    QCOMPARE(window.text(QStringLiteral("lblVersion")), QStringLiteral("Kavo v2.07KAV1 SN 00012345"));
    QCOMPARE(window.status(), QStringLiteral("All Settings Received"));
}

// After each operation, and after its message box, the keyboard focus is back on the button
// that started it, not on a list that a wheel turn would change.
void tst_Connect::focusBackOnTheButton()
{
    KavoSim sim;
    QVERIFY(sim.start());
    const auto w = openWindow();
    QVERIFY(w);
    WindowDriver window(w.get());
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    MessageBoxes boxes;
    // No port chosen yet: a box says so.
    QVERIFY(window.click(QStringLiteral("cmdOpenCOM")));
    QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Please select a COM port")});
    // The window is active again once the box has gone (here the test hands it the
    // activation, as the desktop does).
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    QCOMPARE(QApplication::focusWidget(), window.widget(QStringLiteral("cmdOpenCOM")));
    QVERIFY(window.pick(QStringLiteral("lstPCCOM"), sim.comName()));
    boxes.clear();

    for (const QString &name : {QStringLiteral("cmdOpenCOM"), QStringLiteral("cmdReadSettings"),
                                QStringLiteral("cmdWriteSettings"), QStringLiteral("cmdOpenCOM")}) {
        QVERIFY(window.click(name));
        QCOMPARE(QApplication::focusWidget(), window.widget(name));
    }
    QVERIFY(boxes.seen.isEmpty());
    QVERIFY(!window.connected());
}

// The user picks another port while the module answers on the one chosen first, too late
// for the search: once connected, the list shows the port that is open.
void tst_Connect::listShowsTheOpenPort()
{
    KavoSim other;
    QVERIFY(other.start());
    KavoSim sim;
    std::unique_ptr<frmSerialData> w;
    QVERIFY(setUp(sim, w, {QStringLiteral("--reply"), QStringLiteral("FC Q=\\|1998848 1998848>"),
                           QStringLiteral("--chunk-delay"), QStringLiteral("300")}));
    WindowDriver window(w.get());
    MessageBoxes boxes;
    bool picked = false;
    QTimer picker;
    connect(&picker, &QTimer::timeout, w.get(), [&] {
        if (!picked && window.busy() && sim.commands().contains(QStringLiteral("FC Q"))) {
            choose(window, QStringLiteral("lstPCCOM"), other.comName());
            picked = true;
        }
    });
    picker.start(10);
    QVERIFY(window.click(QStringLiteral("cmdOpenCOM")));
    picker.stop();
    QVERIFY(picked);
    verifyConnected(window, sim.comName());
    QVERIFY(boxes.seen.isEmpty());
    QVERIFY(other.log().isEmpty());
}

// The window stays usable while a search waits on a silent port: the status line follows
// the search, the COM list can be changed, and the port chosen meanwhile is the one the
// next rate is tried on. The module there is found at its own rate.
void tst_Connect::portChosenDuringDetection()
{
    KavoSim silent;
    QVERIFY(silent.start({QStringLiteral("--silent")}));
    KavoSim module;
    std::unique_ptr<frmSerialData> w;
    QVERIFY(setUp(module, w, {QStringLiteral("--rate"), QStringLiteral("38400")}));
    WindowDriver window(w.get());
    QVERIFY(window.pick(QStringLiteral("lstPCCOM"), silent.comName()));
    MessageBoxes boxes;
    StatusRecorder status(window);

    QTest::mouseClick(window.find<QPushButton>(QStringLiteral("cmdOpenCOM")), Qt::LeftButton);
    QVERIFY(window.busy());
    // The silent port has heard the probe at 9600 bps and its wait runs: meanwhile the
    // window shows the search and takes the user's choice.
    QTRY_VERIFY_WITH_TIMEOUT(!silent.log().isEmpty(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(window.status(), QStringLiteral("Searching for Kavo at 9600 bps"), 10000);
    QVERIFY(window.busy());
    choose(window, QStringLiteral("lstPCCOM"), module.comName());
    QCOMPARE(window.text(QStringLiteral("lstPCCOM")), module.comName());
    QVERIFY(window.busy());
    QVERIFY(window.waitIdle());

    QVERIFY(boxes.seen.isEmpty());
    verifyConnected(window, module.comName());
    QCOMPARE(window.text(QStringLiteral("lstPCBPS")), QStringLiteral("38400"));
    QCOMPARE(window.text(QStringLiteral("StatusPanel2")), QStringLiteral("38400,N,8,1"));
    QCOMPARE(status.searching(), (QStringList{QStringLiteral("Searching for Kavo at 9600 bps"),
                                              QStringLiteral("Searching for Kavo at 19200 bps"),
                                              QStringLiteral("Searching for Kavo at 38400 bps")}));
    // The silent port heard 9600 bps alone; the next rate went to the port chosen meanwhile.
    QCOMPARE(ratesIn(silent.log()), QList<int>{9600});
    QCOMPARE(ratesIn(module.log()), (QList<int>{19200, 38400}));
    QVERIFY(module.commands().contains(QStringLiteral("FC Q")));
    QVERIFY(deviceFree(silent.device()));
}

// Module A read, Close: the window still shows A. Open on module B begins clean, so B's
// read that stops leaves nothing of A behind, and Write sends none of it: it is refused,
// naming what is missing, until the user has set those settings by hand; then it goes to B.
void tst_Connect::onlyThisModulesSettingsWritten()
{
    KavoSim a, b;
    const QTemporaryDir dir;
    const QString state = dir.filePath(QStringLiteral("a.state"));
    {
        QFile file(state);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("T=77\nO=9\n");
    }
    QVERIFY(a.start({QStringLiteral("--state"), state}));
    QVERIFY(b.start({QStringLiteral("--reply"), QStringLiteral("ST V=E05>")}));
    auto w = openWindow();
    QVERIFY(w);
    WindowDriver window(w.get());
    MessageBoxes boxes;
    QVERIFY(window.pick(QStringLiteral("lstPCCOM"), a.comName()));
    QVERIFY(window.click(QStringLiteral("cmdOpenCOM")));
    verifyConnected(window, a.comName());
    QCOMPARE(window.text(QStringLiteral("outWriteTimeout")), QStringLiteral("ST T 77"));

    QVERIFY(window.click(QStringLiteral("cmdOpenCOM")));
    verifyNotConnected(window);
    QCOMPARE(window.text(QStringLiteral("lblVersion")), QStringLiteral("Kavo v2.07KAV1 SN 00012345"));
    QCOMPARE(window.text(QStringLiteral("outWriteTimeout")), QStringLiteral("ST T 77"));
    QCOMPARE(window.text(QStringLiteral("outLoopCount")), QStringLiteral("ST O 9"));

    QVERIFY(window.pick(QStringLiteral("lstPCCOM"), b.comName()));
    QVERIFY(window.click(QStringLiteral("cmdOpenCOM")));
    verifyConnected(window, b.comName());
    QCOMPARE(window.status(), QStringLiteral("Could not read Volume - 'V': reply 'E05'"));
    QCOMPARE(window.text(QStringLiteral("outWriteTimeout")), QStringLiteral("ST T 20"));
    for (const char *unread : {"outVolume", "outLoopCount", "outBassBoost", "outUninterrupted", "txtLoopCount"})
        QVERIFY2(window.text(QLatin1String(unread)).isEmpty(), unread);
    qsizetype before = b.commands().size();
    QVERIFY(window.click(QStringLiteral("cmdWriteSettings")));
    QCOMPARE(window.status(), QStringLiteral("Nothing written: no value for Volume, Loop Count, Bass Boost, Uninterrupted "
                                             "Playback (press Read, set them, or open a settings file)"));
    QCOMPARE(b.commands().size(), before);

    // Set by hand, the missing settings make a whole set: Write sends it, to B.
    QVERIFY(window.key(QStringLiteral("vscVolumeL"), Qt::Key_Down));
    QVERIFY(window.key(QStringLiteral("vscLoopCount"), Qt::Key_Up));
    QVERIFY(window.click(QStringLiteral("chkBassBoost")));
    QVERIFY(window.click(QStringLiteral("chkUninterrupted")));
    QVERIFY(window.click(QStringLiteral("cmdWriteSettings")));
    QCOMPARE(window.status(), QStringLiteral("All Settings Stored"));
    QTRY_COMPARE_WITH_TIMEOUT(b.commands().mid(before),
                              (QStringList{QStringLiteral("ST T 20"), QStringLiteral("ST S 1"), QStringLiteral("ST N 0"),
                                           QStringLiteral("ST H 1"), QStringLiteral("ST V 1"), QStringLiteral("ST O 1"),
                                           QStringLiteral("ST B 0"), QStringLiteral("ST U 1"), QStringLiteral("ST D 0")}),
                              10000);
    for (const QString &command : a.commands())
        QVERIFY2(!command.startsWith(QStringLiteral("ST ")) || command.size() == 4, qPrintable(command));
    QVERIFY(boxes.seen.isEmpty());
}

// While the click runs, Open, Read, Write and Play are disabled: the user's clicks on them
// do nothing and reach the line with nothing, while the status line keeps showing what the
// operation does.
void tst_Connect::guardDuringClick()
{
    KavoSim sim;
    std::unique_ptr<frmSerialData> w;
    QVERIFY(setUp(sim, w, {QStringLiteral("--rate"), QStringLiteral("19200")}));
    WindowDriver window(w.get());
    MessageBoxes boxes;
    StatusRecorder status(window);
    int tries = 0;
    QTimer intruder;
    connect(&intruder, &QTimer::timeout, w.get(), [&] {
        if (!window.busy())
            return;
        ++tries;
        for (const QString &name : OperationButtons)
            QTest::mouseClick(window.find<QPushButton>(name), Qt::LeftButton);
    });
    intruder.start(20);

    QVERIFY(window.click(QStringLiteral("cmdOpenCOM")));
    intruder.stop();

    QVERIFY(tries > 0);
    QVERIFY(!status.buttonsEnabledDuringOperation);
    QVERIFY2(status.whileBusy.contains(QStringLiteral("Searching for Kavo at 19200 bps")),
             qPrintable(status.whileBusy.join(QStringLiteral(" | "))));
    QVERIFY(boxes.seen.isEmpty());
    verifyConnected(window, sim.comName());
    // The line saw one connect sequence and nothing from the refused clicks.
    const QStringList commands = sim.commands();
    QCOMPARE(commands.count(QStringLiteral("V")), 1);
    QCOMPARE(commands.count(QStringLiteral("FC Q")), 1);
    QVERIFY(commands.count(QStringLiteral("ST D")) <= 1);
    QVERIFY(!commands.contains(QStringLiteral("FC L /KAVOTEST.MP3")));
    QVERIFY(!commands.contains(QStringLiteral("PC F /KAVOTEST.MP3")));
    for (const QString &command : commands)
        QVERIFY2(!command.startsWith(QStringLiteral("ST ")) || command.size() == 4, qPrintable(command));
}

// Automatic mode with no rate to try: nothing is sent, and the time-out message shows.
void tst_Connect::emptyRateList()
{
    KavoSim sim;
    std::unique_ptr<frmSerialData> w;
    QVERIFY(setUp(sim, w, {}));
    WindowDriver window(w.get());
    window.find<QComboBox>(QStringLiteral("lstPCBPS"))->clear();
    MessageBoxes boxes;

    QVERIFY(window.click(QStringLiteral("cmdOpenCOM")));

    QCOMPARE(boxes.texts(), QStringList{timeOutText(sim.comName())});
    verifyNotConnected(window);
    QVERIFY(sim.log().isEmpty());
}

void tst_Connect::windowClosedDuringOperation_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("waitingFor");   // the command whose answer is awaited as the window closes
    // The probe's escape and carriage return: the line's last entry is the empty one.
    QTest::newRow("searching") << QStringList{QStringLiteral("--silent")} << QString();
    QTest::newRow("reading the card") << QStringList{QStringLiteral("--delay"), QStringLiteral("FC Q=600000")}
                                      << QStringLiteral("FC Q");
}

// Closing the window while an answer is awaited ends the operation at once: nothing more
// is sent, no message box shows, the window is idle long before the wait would have ended,
// its destruction returns promptly and the port is free.
void tst_Connect::windowClosedDuringOperation()
{
    QFETCH(QStringList, options);
    QFETCH(QString, waitingFor);
    KavoSim sim;
    std::unique_ptr<frmSerialData> w;
    QVERIFY(setUp(sim, w, options));
    WindowDriver window(w.get());
    MessageBoxes boxes;

    QTest::mouseClick(window.find<QPushButton>(QStringLiteral("cmdOpenCOM")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(sim.commands().contains(waitingFor), 10000);
    QVERIFY(window.busy());
    const qsizetype heard = sim.log().size();
    QElapsedTimer clock;
    clock.start();
    QVERIFY(w->close());

    QVERIFY(!w->isVisible());
    QVERIFY(window.waitIdle(10000));
    // Ended by the close, not by the 1000 ms an unanswered wait lasts.
    QVERIFY2(clock.elapsed() < 900, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(boxes.seen.isEmpty());
    QCOMPARE(window.text(QStringLiteral("cmdOpenCOM")), QStringLiteral("Open"));
    for (const QString &name : OperationButtons)
        QVERIFY2(!window.enabled(name), qPrintable(name));
    {
        const Watchdog watchdog(10000, "The window's destruction");
        clock.restart();
        w.reset();
    }
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(deviceFree(sim.device()));
    const QList<TrafficLine> log = sim.log();
    QCOMPARE(log.size(), heard);
    QCOMPARE(log.last().command, waitingFor);
    QCOMPARE(ratesIn(log), QList<int>{9600});
}

QTEST_MAIN(tst_Connect)
#include "tst_connect.moc"