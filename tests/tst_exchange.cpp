// The command exchange over a real pseudo-terminal with kavo-sim: the bytes of a command,
// replies in every shape and split, the probe, the time-out, the guard that allows one
// operation at a time, and closing the window in the middle of a wait.
#include <QAction>
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

// While one operation waits on the module, nothing can start another.
void tst_Exchange::oneOperationAtATime()
{
    KavoSim sim;
    QVERIFY(sim.start({"--silent"}));
    auto window = openWindow();
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    MessageBoxes boxes;
    QVERIFY(window->OpenComPort(sim.com(), 9600));
    window->setConnectedState(true);
    QPushButton *const busyButtons[] = {window->cmdOpenCOM, window->cmdReadSettings, window->cmdWriteSettings,
                                        window->cmdPlayTest};
    for (QPushButton *b : busyButtons)
        QVERIFY(b->isEnabled());

    bool checked = false;
    qsizetype sentBefore = -1;
    QTimer::singleShot(300, window.get(), [&] {
        QVERIFY(window->operationRunning());
        for (QPushButton *b : busyButtons)
            QVERIFY2(!b->isEnabled(), qPrintable(b->objectName()));
        // The setting controls stay usable.
        QVERIFY(window->lstKAVOBPS->isEnabled());
        QVERIFY(window->vscVolumeL->isEnabled());
        sentBefore = sim.commands().size();
        QTest::mouseClick(window->cmdReadSettings, Qt::LeftButton);
        window->cmdReadSettings_Click();
        window->cmdWriteSettings_Click();
        window->cmdPlayTest_Click();
        window->cmdOpenCOM_Click();
        QVERIFY(!window->beginOperation());
        checked = true;
    });
    {
        OperationGuard operation(window.get());
        QVERIFY(operation.acquired());
        window->ReadVersion();
    }
    QVERIFY(checked);
    // The clicks during the wait sent nothing.
    QVERIFY(sentBefore >= 0);
    QTRY_COMPARE_WITH_TIMEOUT(sim.commands().size(), qsizetype(3), 10000);   // the probe (2 lines) and "V"
    QCOMPARE(sim.commands().last(), QString("V"));
    QVERIFY(boxes.seen.isEmpty());
    QVERIFY(window->session->portOpen());

    // Back after the operation, on every path.
    QVERIFY(!window->operationRunning());
    for (QPushButton *b : busyButtons)
        QVERIFY(b->isEnabled());
    QVERIFY(window->beginOperation());
    window->endOperation();
}

void tst_Exchange::closingEndsTheWait_data()
{
    QTest::addColumn<bool>("viaMenu");
    QTest::newRow("close box") << false;
    QTest::newRow("File > Exit") << true;
}

void tst_Exchange::closingEndsTheWait()
{
    QFETCH(bool, viaMenu);
    KavoSim sim;
    QVERIFY(sim.start({"--silent"}));
    auto window = openWindow();
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    MessageBoxes boxes;
    QVERIFY(window->OpenComPort(sim.com(), 9600));

    QTimer::singleShot(200, window.get(), [&] {
        if (viaMenu)
            window->mnuFileExit->trigger();
        else
            window->close();
    });
    QElapsedTimer clock;
    clock.start();
    {
        OperationGuard operation(window.get());
        QVERIFY(operation.acquired());
        window->ReadVersion();   // probe, then "V": each a wait on the silent module
    }
    // The first wait ended at the close, well before its second of silence, and the version
    // command was never sent.
    QVERIFY2(clock.elapsed() < 800, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!window->isVisible());
    QVERIFY(!window->session->portOpen());
    QVERIFY(boxes.seen.isEmpty());
    QVERIFY(!window->beginOperation());
    QTRY_VERIFY_WITH_TIMEOUT(!sim.commands().isEmpty(), 10000);
    QCOMPARE(sim.commands().first(), QString("\\e"));
    QVERIFY(!sim.commands().contains("V"));
}

QTEST_MAIN(tst_Exchange)
#include "tst_exchange.moc"
