// The command exchange over a real pseudo-terminal with kavo-sim: the bytes of a command,
// replies in every shape and split, the probe, the time-out; and in the window, one
// operation at a time and closing the window in the middle of a wait.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include "app/frmserialdata.h"
#include "link/comports.h"
#include "link/kavolink.h"
#include "support/kavosim.h"
#include "support/messageboxes.h"
#include "support/testenv.h"
#include "support/windowdriver.h"
#include "support/windowfixture.h"

namespace {

// The simulator's options for one case, with or without every answer sent byte by byte.
QStringList withSplit(QStringList options, bool byteByByte)
{
    if (byteByByte)
        options << "--split-bytes" << "5";
    return options;
}

// The byte-by-byte variant of each row of a table.
void addBothWays(const char *name, const std::function<void(QTestData &)> &fill, bool alsoByteByByte = true)
{
    fill(QTest::newRow(name) << false);
    if (alsoByteByByte)
        fill(QTest::newRow(qPrintable(QString(name) + ", byte by byte")) << true);
}

} // namespace

class tst_Exchange : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void commandBytes();
    void replies_data();
    void replies();
    void closedPort();
    void probe_data();
    void probe();
    void probeTellsAnotherRate_data();
    void probeTellsAnotherRate();
    void bytesBetweenExchangesDropped_data();
    void bytesBetweenExchangesDropped();
    void endlessDevice();
    void timeOutRestartsWithEveryChunk();
    void sendAndWait();
    void oneOperationAtATime();
    void closingEndsTheWait_data();
    void closingEndsTheWait();

private:
    // A link with its port open on a fresh simulator started with these options.
    bool openLink(const QStringList &options);

    std::unique_ptr<KavoSim> m_sim;
    std::unique_ptr<KavoLink> m_link;
};

void tst_Exchange::initTestCase()
{
    TestEnv::isolate();
}

void tst_Exchange::cleanup()
{
    m_link.reset();
    m_sim.reset();
}

bool tst_Exchange::openLink(const QStringList &options)
{
    m_sim = std::make_unique<KavoSim>();
    if (!m_sim->start(options))
        return false;
    m_link = std::make_unique<KavoLink>();
    QString error;
    if (!m_link->openPort(ComPorts::port(m_sim->com()), 9600, &error)) {
        qWarning("%s", qPrintable(error));
        return false;
    }
    m_link->beginOperation();
    return true;
}

void tst_Exchange::commandBytes()
{
    QVERIFY(openLink({}));
    for (int i = 0; i < 2; ++i) {
        const Reply reply = m_link->SendAndWait("V");
        QVERIFY(reply.prompted());
        QCOMPARE(reply.text, QByteArray("Kavo v2.07KAV1 SN 00012345"));
    }
    // Exactly "V" and its CR each time: a line feed or anything else sent along would show
    // in the second command.
    QCOMPARE(m_sim->commands(), QStringList({"V", "V"}));
}

void tst_Exchange::replies_data()
{
    QTest::addColumn<bool>("byteByByte");
    QTest::addColumn<QString>("answer");      // what the module sends for "V", as a --reply text
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("timedOut");

    auto row = [](const char *name, const char *answer, const QByteArray &reply, bool timedOut,
                  bool alsoByteByByte = true) {
        addBothWays(name, [&](QTestData &data) { data << QString(answer) << reply << timedOut; }, alsoByteByByte);
    };
    row("three letters in one chunk", "ABC>", "ABC", false);
    row("split before the last letter", "AB\\|C>", "ABC", false);
    row("prompt in a chunk of its own", "ABC\\|>", "ABC", false);
    row("CR LF kept", "line 1\\r\\nline 2\\r\\n>", "line 1\r\nline 2\r\n", false);
    row("every byte value", "\\x00\\x01\\x7f\\x80\\xe9\\xff>", QByteArray("\x00\x01\x7f\x80\xe9\xff", 6), false);
    // A prompt inside a chunk is text; with the chunks as the module sends them here. (Bytes
    // split right after an inner prompt would end the wait there: nothing on the wire tells
    // that apart from a real prompt.)
    row("prompt inside a chunk", "A>B\\|C>", "A>BC", false, false);
    row("prompt alone", ">", "", false);
    row("silence", "", "", true, false);
    row("text then silence", "ABC", "", true);
}

void tst_Exchange::replies()
{
    QFETCH(bool, byteByByte);
    QFETCH(QString, answer);
    QFETCH(QByteArray, reply);
    QFETCH(bool, timedOut);

    QVERIFY(openLink(withSplit({"--reply", "V=" + answer}, byteByByte)));
    QElapsedTimer clock;
    clock.start();
    const Reply got = m_link->SendAndWait("V");
    QCOMPARE(got.text, reply);
    QCOMPARE(got.timedOut(), timedOut);
    QCOMPARE(got.prompted(), !timedOut);
    if (timedOut)   // a time-out is 1000 ms of silence
        QVERIFY2(clock.elapsed() >= 950, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(m_link->pendingInput().isEmpty());
}

void tst_Exchange::closedPort()
{
    QVERIFY(openLink({}));
    m_link->closePort();
    m_link->SendText("V\r");
    QElapsedTimer clock;
    clock.start();
    const Reply reply = m_link->WaitForPrompt();
    QCOMPARE(reply.text, QByteArray());
    QVERIFY(reply.timedOut());
    QVERIFY2(clock.elapsed() >= 950, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!m_link->ProbeDevice());
    // Nothing reached the line.
    QVERIFY(m_sim->commands().isEmpty());
}

void tst_Exchange::probe_data()
{
    QTest::addColumn<bool>("byteByByte");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("answered");

    auto row = [](const char *name, const QStringList &options, bool answered, bool alsoByteByByte = true) {
        addBothWays(name, [&](QTestData &data) { data << options << answered; }, alsoByteByByte);
    };
    row("two prompts together", {"--probe-reply", ">>"}, true);
    row("two prompts apart", {"--probe-reply", ">\\|>"}, true);
    row("the module's own answer", {}, true);
    row("one prompt, then silence", {"--probe-reply", ">"}, false);
    row("text before the prompt", {"--probe-reply", "X>"}, false);
    row("prompt after text", {"--probe-reply", ">X>"}, true);
    row("silence", {"--silent"}, false, false);
}

void tst_Exchange::probe()
{
    QFETCH(bool, byteByByte);
    QFETCH(QStringList, options);
    QFETCH(bool, answered);

    QVERIFY(openLink(withSplit(options, byteByByte)));
    QCOMPARE(m_link->ProbeDevice(), answered);
    // Escape and carriage return went out, nothing else; once more after an answer that
    // was text before a prompt (it may have been another answer's tail).
    const QStringList sent = m_sim->commands();
    QVERIFY2(!sent.isEmpty() && sent.first() == "\\e" && sent.count("\\e") <= 2, qPrintable(sent.join(",")));
    for (const QString &line : sent)
        QVERIFY2(line == "\\e" || line.isEmpty(), qPrintable(sent.join(",")));
}

// A module at another rate garbles its answer: the probe ends soon after the garbled bytes
// (noise), and silence, as ever, after a whole time-out period.
void tst_Exchange::probeTellsAnotherRate_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("end");   // Reply::End
    QTest::newRow("garbled at another rate") << QStringList{"--rate", "57600"} << int(Reply::End::Noise);
    QTest::newRow("silent at another rate") << QStringList{"--rate", "57600", "--mismatch-silent"}
                                            << int(Reply::End::Silence);
    QTest::newRow("nothing there") << QStringList{"--silent"} << int(Reply::End::Silence);
}

void tst_Exchange::probeTellsAnotherRate()
{
    QFETCH(QStringList, options);
    QFETCH(int, end);
    QVERIFY(openLink(options));
    Reply decided;
    QVERIFY(!m_link->ProbeDevice(&decided));
    QCOMPARE(int(decided.end), end);
    QCOMPARE(decided.unprompted > 0, end == int(Reply::End::Noise));
}

void tst_Exchange::bytesBetweenExchangesDropped_data()
{
    QTest::addColumn<bool>("byteByByte");
    addBothWays("stale bytes after the prompt", [](QTestData &) {});
}

void tst_Exchange::bytesBetweenExchangesDropped()
{
    QFETCH(bool, byteByByte);
    QVERIFY(openLink(withSplit({"--suffix", "\\|JUNK"}, byteByByte)));
    const QByteArray version = "Kavo v2.07KAV1 SN 00012345";

    QCOMPARE(m_link->SendAndWait("V").text, version);
    // The bytes after the prompt arrive between the exchanges...
    QTRY_COMPARE_WITH_TIMEOUT(m_link->pendingInput(), QByteArray("JUNK"), 10000);
    // ...and the next exchange throws them away before it sends.
    QCOMPARE(m_link->SendAndWait("V").text, version);
}

// A device that sends without end and never a prompt: the wait ends once the reply passes
// any Kavo answer's length, and between waits only a bounded tail of it is kept.
void tst_Exchange::endlessDevice()
{
    QVERIFY(openLink({"--babble"}));
    QElapsedTimer clock;
    clock.start();
    const Reply reply = m_link->SendAndWait("V");
    QVERIFY(reply.endless());
    QVERIFY(reply.text.isEmpty());
    QVERIFY2(clock.elapsed() < KavoLink::LongestAnswerMs + 1000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!m_link->ProbeDevice());
    // Between waits what piles up is cut to its tail (the lines are 70 bytes long, so a
    // size of exactly the bound means it was cut).
    QTRY_COMPARE_WITH_TIMEOUT(m_link->pendingInput().size(), qsizetype(KavoLink::LongestReply), 20000);
    QVERIFY(!m_link->quietLine());
}

// Bytes every 600 ms for more than 3 s: each chunk taken starts a new second of patience.
void tst_Exchange::timeOutRestartsWithEveryChunk()
{
    QVERIFY(openLink({"--reply", "V=ABCDE>", "--split-bytes", "600"}));
    QElapsedTimer clock;
    clock.start();
    const Reply reply = m_link->SendAndWait("V");
    QCOMPARE(reply.text, QByteArray("ABCDE"));
    QVERIFY(reply.prompted());
    QVERIFY2(clock.elapsed() >= 2900, qPrintable(QString::number(clock.elapsed())));
}

void tst_Exchange::sendAndWait()
{
    QVERIFY(openLink({"--reply", "V=Kavo>\\|old", "--reply", "ST B=\\|>\\|JUNK"}));
    QCOMPARE(m_link->SendAndWait("V").text, QByteArray("Kavo"));
    QTRY_COMPARE_WITH_TIMEOUT(m_link->pendingInput(), QByteArray("old"), 10000);
    // What waited is dropped before the command goes out; the prompt alone is the reply.
    const Reply reply = m_link->SendAndWait("ST B");
    QVERIFY(reply.prompted());
    QVERIFY(reply.bare());
    QCOMPARE(reply.text, QByteArray());
    QCOMPARE(m_sim->commands(), QStringList({"V", "ST B"}));
    QTRY_COMPARE_WITH_TIMEOUT(m_link->pendingInput(), QByteArray("JUNK"), 10000);
}

// While one operation waits on the module, nothing can start another: the buttons that
// start one are off, and a click that reaches one of them all the same starts nothing.
void tst_Exchange::oneOperationAtATime()
{
    KavoSim sim;
    // The answer to the first query of a read comes in two parts, the second a while later.
    QVERIFY(sim.start({"--reply", "ST D=0\\|>", "--chunk-delay", "700"}));
    auto window = openWindow();
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    MessageBoxes boxes;
    WindowDriver driver(window.get());
    QVERIFY(driver.pick("lstPCCOM", sim.comName()));
    QVERIFY(driver.click("cmdOpenCOM"));
    QVERIFY(driver.connected());
    const char *const busyButtons[] = {"cmdOpenCOM", "cmdReadSettings", "cmdWriteSettings", "cmdPlayTest"};
    for (const char *b : busyButtons)
        QVERIFY2(driver.enabled(b), b);

    const qsizetype before = sim.commands().size();
    QTest::mouseClick(driver.find<QPushButton>("cmdReadSettings"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(driver.status() == "Getting Bit Rate - 'D'" && sim.commands().mid(before).contains("ST D"),
                             10000);
    QVERIFY(driver.busy());
    for (const char *b : busyButtons)
        QVERIFY2(!driver.enabled(b), b);
    // The setting controls stay usable.
    QVERIFY(driver.enabled("lstKAVOBPS"));
    QVERIFY(driver.enabled("vscVolumeL"));
    for (const char *b : busyButtons) {
        auto *button = driver.find<QPushButton>(b);
        QTest::mouseClick(button, Qt::LeftButton);
        // A click that got through before the button went off.
        emit button->clicked();
    }
    QVERIFY(driver.busy());
    QVERIFY(driver.waitIdle());
    QCOMPARE(driver.status(), QString("All Settings Received"));

    // Back after the operation: the buttons, and the next operation runs.
    QVERIFY(!driver.busy());
    for (const char *b : busyButtons)
        QVERIFY2(driver.enabled(b), b);
    QVERIFY(driver.connected());
    QVERIFY(driver.click("cmdReadSettings"));
    QCOMPARE(driver.status(), QString("All Settings Received"));
    // The clicks during the read sent nothing: its nine queries, then the next read's.
    const QStringList read = {"ST D", "ST T", "ST S", "ST N", "ST H", "ST V", "ST O", "ST B", "ST U"};
    QTRY_COMPARE_WITH_TIMEOUT(sim.commands().mid(before), read + read, 10000);
    QVERIFY(boxes.seen.isEmpty());
    QCOMPARE(driver.text("StatusPanel1"), sim.comName());
}

void tst_Exchange::closingEndsTheWait_data()
{
    QTest::addColumn<bool>("viaMenu");
    QTest::newRow("close box") << false;
    QTest::newRow("File > Exit") << true;
}

// The window closed while Open waits on a silent line: the wait ends at once, the port is
// let go, and the window is gone without waiting out the line's time-outs.
void tst_Exchange::closingEndsTheWait()
{
    QFETCH(bool, viaMenu);
    KavoSim sim;
    QVERIFY(sim.start({"--silent"}));
    auto window = openWindow();
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    MessageBoxes boxes;
    WindowDriver driver(window.get());
    QVERIFY(driver.pick("lstPCCOM", sim.comName()));
    driver.find<QCheckBox>("chkAutoBitRate")->click();
    QVERIFY(!driver.checked("chkAutoBitRate"));
    QVERIFY(driver.pick("lstPCBPS", "9600"));

    // Open probes the silent module: a wait of a whole time-out.
    QTest::mouseClick(driver.find<QPushButton>("cmdOpenCOM"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(sim.commands().contains("\\e"), 10000);
    QVERIFY(driver.busy());
    QElapsedTimer clock;
    clock.start();
    if (viaMenu)
        driver.action("mnuFileExit")->trigger();
    else
        window->close();
    QVERIFY(!window->isVisible());
    // The operation is over well before the probe's second of silence.
    QVERIFY(driver.waitIdle());
    QVERIFY2(clock.elapsed() < 800, qPrintable(QString::number(clock.elapsed())));
    // Nothing starts any more.
    emit driver.find<QPushButton>("cmdOpenCOM")->clicked();
    QVERIFY(!driver.busy());
    window.reset();
    QVERIFY2(clock.elapsed() < 800, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(boxes.seen.isEmpty());

    // The port is free again.
    KavoLink link;
    QString error;
    QVERIFY2(link.openPort(ComPorts::port(sim.com()), 9600, &error), qPrintable(error));
    link.closePort();
    // Nothing came after the probe: no version command, nor a probe at another rate.
    sim.terminate();
    QCOMPARE(sim.commands().first(), QString("\\e"));
    QVERIFY2(!sim.commands().contains("V"), qPrintable(sim.commands().join(",")));
    for (const TrafficLine &line : sim.log())
        QCOMPARE(line.rate, 9600);
}

QTEST_MAIN(tst_Exchange)
#include "tst_exchange.moc"
