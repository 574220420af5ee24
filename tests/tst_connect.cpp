// The Open/Close button against kavo-sim: automatic detection, the chosen rate, the
// failure paths with their messages, closing, unplugging, and the one-operation guard.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "link/comports.h"
#include "support/kavosim.h"
#include "support/messageboxes.h"
#include "support/testenv.h"
#include "support/windowdriver.h"
#include "support/windowfixture.h"

namespace {

const QStringList Rates = {QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("38400"),
                           QStringLiteral("57600"), QStringLiteral("115200")};

QString timeOutText(const QString &port)
{
    return port + QStringLiteral(" is not connected to a Kavo or there was a time-out trying to connect to the Kavo");
}

QString mismatchText(const QString &port, const QString &code)
{
    return port + QStringLiteral(" is not connected to a Kavo (SN reported: ") + code + QStringLiteral(" <> KAV1)");
}

// Every text the status message panel shows, in order, and the state of the four
// operation buttons each time it changed.
class StatusRecorder : public QObject
{
public:
    explicit StatusRecorder(frmSerialData *window) : m_window(window)
    {
        connect(&m_timer, &QTimer::timeout, this, &StatusRecorder::poll);
        m_timer.start(0);   // runs in every pass of the event loop, ShowStatus's included
    }
    void poll()
    {
        const bool anyEnabled = m_window->cmdOpenCOM->isEnabled() || m_window->cmdReadSettings->isEnabled()
                                || m_window->cmdWriteSettings->isEnabled() || m_window->cmdPlayTest->isEnabled();
        if (m_window->operationRunning() && anyEnabled)
            buttonsEnabledDuringOperation = true;
        const QString text = m_window->StatusPanel[2]->text();
        if (texts.isEmpty() || texts.last() != text)
            texts << text;
    }
    QStringList searching() const { return texts.filter(QStringLiteral("Searching for Kavo at ")); }

    QStringList texts;
    bool buttonsEnabledDuringOperation = false;

private:
    frmSerialData *m_window;
    QTimer m_timer;
};

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
    void onlyThisModulesSettingsWritten();
    void guardDuringClick();
    void emptyRateList();
    void windowClosedWhileSearching();

private:
    // A simulator and a window with its port selected; false when either failed.
    bool setUp(KavoSim &sim, std::unique_ptr<frmSerialData> &window, const QStringList &options);
    static void verifyNotConnected(frmSerialData *w);
    static void verifyConnected(frmSerialData *w);
    static void verifyBoxes(const MessageBoxes &boxes);
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
    return window && selectEntry(window->lstPCCOM, sim.comName());
}

void tst_Connect::verifyNotConnected(frmSerialData *w)
{
    QCOMPARE(w->cmdOpenCOM->text(), QStringLiteral("Open"));
    QVERIFY(!w->session->portOpen());
    QVERIFY(w->cmdOpenCOM->isEnabled());
    QVERIFY(!w->cmdReadSettings->isEnabled());
    QVERIFY(!w->cmdWriteSettings->isEnabled());
    QVERIFY(!w->cmdPlayTest->isEnabled());
    QVERIFY(w->lstPCCOM->isEnabled());
    QVERIFY(w->lstPCBPS->isEnabled());
}

void tst_Connect::verifyConnected(frmSerialData *w)
{
    QCOMPARE(w->cmdOpenCOM->text(), QStringLiteral("Close"));
    QVERIFY(w->session->portOpen());
    QVERIFY(w->cmdOpenCOM->isEnabled());
    QVERIFY(w->cmdReadSettings->isEnabled());
    QVERIFY(w->cmdWriteSettings->isEnabled());
    QVERIFY(w->cmdPlayTest->isEnabled());
    QVERIFY(!w->lstPCCOM->isEnabled());
    QVERIFY(!w->lstPCBPS->isEnabled());
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
    QVERIFY(w->chkAutoBitRate->isChecked());
    MessageBoxes boxes;
    StatusRecorder status(w.get());

    QTest::mouseClick(w->cmdOpenCOM, Qt::LeftButton);

    QVERIFY(boxes.seen.isEmpty());
    verifyConnected(w.get());
    QCOMPARE(w->lstPCBPS->currentIndex(), index);
    QCOMPARE(w->lblVersion->text(), QStringLiteral("Kavo v2.07KAV1 SN 00012345"));
    QCOMPARE(w->StatusPanel[0]->text(), sim.comName());
    QCOMPARE(w->StatusPanel[1]->text(), Rates[index] + QStringLiteral(",N,8,1"));
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
    // Probe (escape, then the empty line), probe again and the version inside ReadVersion,
    // the card information, then the settings.
    const QStringList connectSequence = {QStringLiteral("\\e"), QString(), QStringLiteral("\\e"), QString(),
                                         QStringLiteral("V"), QStringLiteral("FC Q")};
    QCOMPARE(atRight.mid(0, connectSequence.size()), connectSequence);
}

void tst_Connect::chosenRate_data()
{
    QTest::addColumn<QString>("moduleRate");
    QTest::addColumn<int>("chosen");   // index in lstPCBPS, -1 for none
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("connects");
    QTest::addColumn<QStringList>("statusTexts");   // status texts that must appear, in order

    QTest::newRow("right") << QStringLiteral("57600") << 3 << QStringList() << true
                           << QStringList{QStringLiteral("Opening COM1"), QStringLiteral("Searching for Kavo at 57600 bps")};
    // The module answers, garbled at the wrong rate: the box says so, and what to do.
    QTest::newRow("wrong") << QStringLiteral("57600") << 1
                           << QStringList{timeOutText(QStringLiteral("COM1"))
                                          + QStringLiteral("\r\nSomething answers on COM1, but not at 19200 bps: turn on "
                                                           "Auto Bit Rate Detection.")}
                           << false
                           << QStringList{QStringLiteral("Opening COM1"), QStringLiteral("Searching for Kavo at 19200 bps")};
    QTest::newRow("none") << QStringLiteral("9600") << -1
                          << QStringList{QStringLiteral("Please select a bit rate for COM1")} << false << QStringList();
}

void tst_Connect::chosenRate()
{
    QFETCH(QString, moduleRate);
    QFETCH(int, chosen);
    QFETCH(QStringList, messages);
    QFETCH(bool, connects);
    QFETCH(QStringList, statusTexts);
    KavoSim sim;
    std::unique_ptr<frmSerialData> w;
    QVERIFY(setUp(sim, w, {QStringLiteral("--rate"), moduleRate}));
    QCOMPARE(sim.comName(), QStringLiteral("COM1"));
    w->chkAutoBitRate->setChecked(false);
    w->lstPCBPS->setCurrentIndex(chosen);
    MessageBoxes boxes;
    StatusRecorder status(w.get());

    QTest::mouseClick(w->cmdOpenCOM, Qt::LeftButton);

    QCOMPARE(boxes.texts(), messages);
    verifyBoxes(boxes);
    if (connects)
        verifyConnected(w.get());
    else
        verifyNotConnected(w.get());
    // The user's choice stays as it was.
    QCOMPARE(w->lstPCBPS->currentIndex(), chosen);
    qsizetype from = 0;
    for (const QString &text : statusTexts) {
        from = status.texts.indexOf(text, from);
        QVERIFY2(from >= 0, qPrintable(text + QStringLiteral(" not in ") + status.texts.join(QStringLiteral(" | "))));
    }
    // Only the chosen rate is ever tried.
    for (const TrafficLine &line : sim.log())
        QCOMPARE(line.rate, Rates.value(chosen).toInt());
}

void tst_Connect::noPortSelected()
{
    KavoSim sim;
    std::unique_ptr<frmSerialData> w;
    QVERIFY(setUp(sim, w, {}));
    w->lstPCCOM->setCurrentIndex(-1);
    MessageBoxes boxes;

    for (const bool automatic : {true, false}) {
        w->chkAutoBitRate->setChecked(automatic);
        QTest::mouseClick(w->cmdOpenCOM, Qt::LeftButton);
    }

    QCOMPARE(boxes.texts(),
             QStringList(2, QStringLiteral("Please select a COM port")));
    verifyBoxes(boxes);
    verifyNotConnected(w.get());
    QVERIFY(sim.log().isEmpty());
}

void tst_Connect::portCannotBeOpened_data()
{
    QTest::addColumn<bool>("automatic");
    QTest::addColumn<int>("boxCount");
    QTest::newRow("automatic") << true << 2;
    QTest::newRow("chosen rate") << false << 1;
}

// The device behind the COM link is gone (the link stays, stale): the port layer's
// reason, and no further rate is tried. A search over all rates ends with the box that no
// Kavo answered, as every unsuccessful search does; the status line says what happened.
void tst_Connect::portCannotBeOpened()
{
    QFETCH(bool, automatic);
    QFETCH(int, boxCount);
    KavoSim sim;
    std::unique_ptr<frmSerialData> w;
    QVERIFY(setUp(sim, w, {}));
    // The link stays, stale: pointing at a path that no other program can get meanwhile
    // (the killed simulator's pseudo-terminal number soon names someone else's device).
    sim.kill();
    const QString link = ComPorts::portsFolder() + QStringLiteral("/COM%1").arg(sim.com());
    QFile::remove(link);
    QVERIFY(QFile::link(QDir::temp().filePath(QStringLiteral("kavo-vanished-device")), link));
    w->chkAutoBitRate->setChecked(automatic);
    w->lstPCBPS->setCurrentIndex(0);
    MessageBoxes boxes;
    StatusRecorder status(w.get());

    QTest::mouseClick(w->cmdOpenCOM, Qt::LeftButton);

    QCOMPARE(boxes.seen.size(), boxCount);
    verifyBoxes(boxes);
    QVERIFY2(boxes.seen[0].text.startsWith(QStringLiteral("Com%1 is not available.\r\n").arg(sim.com())),
             qPrintable(boxes.seen[0].text));
    QVERIFY(boxes.seen[0].text.size() > QStringLiteral("Com1 is not available.\r\n").size());
    if (automatic)
        QCOMPARE(boxes.seen[1].text, timeOutText(sim.comName()));
    QVERIFY(status.searching().isEmpty());
    QCOMPARE(w->StatusPanel[2]->text(), sim.comName() + QStringLiteral(" could not be opened"));
    verifyNotConnected(w.get());
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
    w->chkAutoBitRate->setChecked(automatic);
    if (!automatic)
        w->lstPCBPS->setCurrentIndex(1);
    MessageBoxes boxes;
    // The click is still running while its messages are up.
    bool buttonsEnabledUnderBox = false;
    boxes.onShown([&](QMessageBox *) {
        buttonsEnabledUnderBox = buttonsEnabledUnderBox || w->cmdOpenCOM->isEnabled() || w->cmdReadSettings->isEnabled()
                                 || w->cmdWriteSettings->isEnabled() || w->cmdPlayTest->isEnabled();
    });

    QTest::mouseClick(w->cmdOpenCOM, Qt::LeftButton);

    QStringList expected{mismatchText(sim.comName(), QStringLiteral("KAV2"))};
    if (automatic)
        expected << timeOutText(sim.comName());
    QCOMPARE(boxes.texts(), expected);
    verifyBoxes(boxes);
    QVERIFY(!buttonsEnabledUnderBox);
    verifyNotConnected(w.get());
    // The rate that answered stays selected; the mismatching reply stays on show.
    QCOMPARE(w->lstPCBPS->currentIndex(), 1);
    QCOMPARE(w->lblVersion->text(), QStringLiteral("Kavo v2.07KAV2 SN 00012345"));
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
    MessageBoxes boxes;
    StatusRecorder status(w.get());

    QTest::mouseClick(w->cmdOpenCOM, Qt::LeftButton);

    QStringList expected;
    for (const QString &rate : Rates)
        expected << QStringLiteral("Searching for Kavo at %1 bps").arg(rate);
    QCOMPARE(status.searching(), expected);
    QCOMPARE(boxes.texts(), QStringList{timeOutText(sim.comName())});
    verifyBoxes(boxes);
    verifyNotConnected(w.get());
    // The status line tells how the search ended, not the last rate it tried.
    QCOMPARE(w->StatusPanel[2]->text(), QStringLiteral("No Kavo answered on %1 at any bit rate").arg(sim.comName()));
    // One probe per rate, in list order.
    QList<int> ratesSeen;
    for (const TrafficLine &line : sim.log())
        if (ratesSeen.isEmpty() || ratesSeen.last() != line.rate)
            ratesSeen << line.rate;
    QCOMPARE(ratesSeen, (QList<int>{9600, 19200, 38400, 57600, 115200}));
    QVERIFY(!sim.commands().contains(QStringLiteral("V")));
}

// Closing sends nothing: the next thing the module hears is the probe of the next Open.
void tst_Connect::closeSendsNothing()
{
    KavoSim sim;
    std::unique_ptr<frmSerialData> w;
    QVERIFY(setUp(sim, w, {}));
    MessageBoxes boxes;
    QTest::mouseClick(w->cmdOpenCOM, Qt::LeftButton);
    verifyConnected(w.get());
    const qsizetype before = sim.log().size();

    QTest::mouseClick(w->cmdOpenCOM, Qt::LeftButton);

    verifyNotConnected(w.get());
    QCOMPARE(w->StatusPanel[2]->text(), QStringLiteral("Connection Closed"));
    QVERIFY(w->StatusPanel[0]->text().isEmpty());
    QVERIFY(w->StatusPanel[1]->text().isEmpty());

    QTest::mouseClick(w->cmdOpenCOM, Qt::LeftButton);
    verifyConnected(w.get());
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
    MessageBoxes boxes;
    QTest::mouseClick(w->cmdOpenCOM, Qt::LeftButton);
    verifyConnected(w.get());

    sim.kill();

    QTRY_COMPARE_WITH_TIMEOUT(w->cmdOpenCOM->text(), QStringLiteral("Open"), 10000);
    verifyNotConnected(w.get());
    QCOMPARE(w->StatusPanel[2]->text(), QStringLiteral("%1 (%2) was disconnected; the port is closed. Reconnect the "
                                                       "module, then press Open.").arg(sim.comName(), sim.device()));
    QVERIFY(boxes.seen.isEmpty());
    // What the window showed of the module stays on show, as after Close.
    QCOMPARE(w->lblVersion->text(), QStringLiteral("Kavo v2.07KAV1 SN 00012345"));
    QCOMPARE(w->outVolume->text(), QStringLiteral("ST V 16"));

    KavoSim again;
    QVERIFY(again.start({QStringLiteral("--com"), QString::number(sim.com())}));
    QTest::mouseClick(w->cmdOpenCOM, Qt::LeftButton);
    verifyConnected(w.get());
    QVERIFY(boxes.seen.isEmpty());
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
    w->chkAutoBitRate->setChecked(automatic);
    w->lstPCBPS->setCurrentIndex(0);
    MessageBoxes boxes;
    StatusRecorder status(w.get());

    QTest::mouseClick(w->cmdOpenCOM, Qt::LeftButton);

    QCOMPARE(boxes.texts(), QStringList());
    verifyNotConnected(w.get());
    QCOMPARE(status.searching(), QStringList{QStringLiteral("Searching for Kavo at 9600 bps")});
    const QString last = w->StatusPanel[2]->text();
    QVERIFY2(last.startsWith(QStringLiteral("%1 (%2) was disconnected").arg(sim.comName(), sim.device())), qPrintable(last));
}

// A program closed in the middle of the module's answer leaves the rest of it on the line;
// the next program to open the port takes it for what it is and connects at once.
void tst_Connect::staleAnswerOfAnEarlierProgram()
{
    KavoSim sim;
    std::unique_ptr<frmSerialData> w;
    QVERIFY(setUp(sim, w, {QStringLiteral("--reply"), QStringLiteral("V=Kavo v2.07\\|KAV1 SN 00012345>"),
                           QStringLiteral("--chunk-delay"), QStringLiteral("400")}));
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
    QTest::mouseClick(w->cmdOpenCOM, Qt::LeftButton);
    QVERIFY(boxes.seen.isEmpty());
    verifyConnected(w.get());
    QCOMPARE(w->lblVersion->text(), QStringLiteral("Kavo v2.07KAV1 SN 00012345"));
    QCOMPARE(w->StatusPanel[2]->text(), QStringLiteral("All Settings Received"));
}

// The user picks another port while the module answers on the one chosen first: once
// connected, the list shows the port that is open.
void tst_Connect::listShowsTheOpenPort()
{
    KavoSim other;
    QVERIFY(other.start());
    KavoSim sim;
    std::unique_ptr<frmSerialData> w;
    QVERIFY(setUp(sim, w, {QStringLiteral("--reply"), QStringLiteral("FC Q=\\|1998848 1998848>"),
                           QStringLiteral("--chunk-delay"), QStringLiteral("300")}));
    MessageBoxes boxes;
    QTimer picker;
    connect(&picker, &QTimer::timeout, w.get(), [&] {
        if (w->lstPCCOM->isEnabled() && sim.commands().contains(QStringLiteral("FC Q")))
            selectEntry(w->lstPCCOM, other.comName());
    });
    picker.start(10);
    QTest::mouseClick(w->cmdOpenCOM, Qt::LeftButton);
    picker.stop();
    verifyConnected(w.get());
    QCOMPARE(w->lstPCCOM->currentText(), sim.comName());
    QCOMPARE(w->StatusPanel[0]->text(), sim.comName());
    QVERIFY(other.log().isEmpty());
}

// After each operation the keyboard focus is back on the button that started it, not on a
// list that a wheel turn would change.
void tst_Connect::focusBackOnTheButton()
{
    KavoSim sim;
    std::unique_ptr<frmSerialData> w;
    QVERIFY(setUp(sim, w, {}));
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    MessageBoxes boxes;
    for (QPushButton *button : {w->cmdOpenCOM, w->cmdReadSettings, w->cmdWriteSettings, w->cmdOpenCOM}) {
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), button);
    }
    QVERIFY(boxes.seen.isEmpty());
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
    verifyConnected(w.get());
    QCOMPARE(window.text(QStringLiteral("outWriteTimeout")), QStringLiteral("ST T 77"));

    QVERIFY(window.click(QStringLiteral("cmdOpenCOM")));
    verifyNotConnected(w.get());
    QCOMPARE(window.text(QStringLiteral("lblVersion")), QStringLiteral("Kavo v2.07KAV1 SN 00012345"));
    QCOMPARE(window.text(QStringLiteral("outWriteTimeout")), QStringLiteral("ST T 77"));
    QCOMPARE(window.text(QStringLiteral("outLoopCount")), QStringLiteral("ST O 9"));

    QVERIFY(window.pick(QStringLiteral("lstPCCOM"), b.comName()));
    QVERIFY(window.click(QStringLiteral("cmdOpenCOM")));
    verifyConnected(w.get());
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

// While the click runs, Open, Read, Write and Play are disabled, and a second click or
// a Read started from inside the wait is refused without touching the line.
void tst_Connect::guardDuringClick()
{
    KavoSim sim;
    std::unique_ptr<frmSerialData> w;
    QVERIFY(setUp(sim, w, {QStringLiteral("--rate"), QStringLiteral("19200")}));
    MessageBoxes boxes;
    StatusRecorder status(w.get());
    int reentries = 0;
    QTimer intruder;
    connect(&intruder, &QTimer::timeout, w.get(), [&] {
        if (!w->operationRunning())
            return;
        ++reentries;
        w->cmdOpenCOM_Click();
        w->cmdReadSettings_Click();
        w->cmdWriteSettings_Click();
        w->cmdPlayTest_Click();
    });
    intruder.start(100);

    QTest::mouseClick(w->cmdOpenCOM, Qt::LeftButton);
    intruder.stop();

    QVERIFY(reentries > 0);
    QVERIFY(!status.buttonsEnabledDuringOperation);
    QVERIFY(boxes.seen.isEmpty());
    verifyConnected(w.get());
    // The line saw one connect sequence and nothing from the refused clicks.
    QCOMPARE(sim.commands().count(QStringLiteral("V")), 1);
    QCOMPARE(sim.commands().count(QStringLiteral("FC Q")), 1);
    QVERIFY(sim.commands().count(QStringLiteral("ST D")) <= 1);
}

// Automatic mode with no rate to try: nothing is sent, and the time-out message shows.
void tst_Connect::emptyRateList()
{
    KavoSim sim;
    std::unique_ptr<frmSerialData> w;
    QVERIFY(setUp(sim, w, {}));
    w->lstPCBPS->clear();
    MessageBoxes boxes;

    QTest::mouseClick(w->cmdOpenCOM, Qt::LeftButton);

    QCOMPARE(boxes.texts(), QStringList{timeOutText(sim.comName())});
    verifyNotConnected(w.get());
    QVERIFY(sim.log().isEmpty());
}

// Closing the window while the probe at the first rate waits ends the click at once: no
// further rate, no message box.
void tst_Connect::windowClosedWhileSearching()
{
    KavoSim sim;
    std::unique_ptr<frmSerialData> w;
    QVERIFY(setUp(sim, w, {QStringLiteral("--silent")}));
    MessageBoxes boxes;
    QTimer closer;
    connect(&closer, &QTimer::timeout, w.get(), [&] {
        // The module has heard the probe (its log line is written): the wait is on.
        if (w->isVisible() && QFileInfo(sim.logPath()).size() > 0)
            w->close();
    });
    closer.start(0);

    QTest::mouseClick(w->cmdOpenCOM, Qt::LeftButton);
    closer.stop();

    QVERIFY(boxes.seen.isEmpty());
    QVERIFY(!w->session->portOpen());
    QCOMPARE(w->cmdOpenCOM->text(), QStringLiteral("Open"));
    QList<int> ratesSeen;
    for (const TrafficLine &line : sim.log())
        if (!ratesSeen.contains(line.rate))
            ratesSeen << line.rate;
    QCOMPARE(ratesSeen, QList<int>{9600});
}

QTEST_MAIN(tst_Connect)
#include "tst_connect.moc"
