// The Play button and the test-file upload, through a pseudo-terminal against kavo-sim:
// the look-up and its answers, the upload's traffic and progress, and every way an
// upload can fail.
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include "playtest/testfile.h"
#include "support/kavosim.h"
#include "support/messageboxes.h"
#include "support/testenv.h"
#include "support/windowdriver.h"
#include "support/windowfixture.h"

namespace {

const QString LookUp = QStringLiteral("FC L /KAVOTEST.MP3");
const QString Open = QStringLiteral("FC O 1 W /KAVOTEST.MP3");
const QString Full = QStringLiteral("FC W 1 512");
const QString Close = QStringLiteral("FC C 1");
const QString Play = QStringLiteral("PC F /KAVOTEST.MP3");
const QString FreeSpace = QStringLiteral("FC Q");
const QString Playing = QStringLiteral("Playing /KAVOTEST.MP3");
// The question for a card file of another size than the local one.
QString sizeQuestion(qint64 card, qint64 local)
{
    return QStringLiteral("The test file on the card has %1 bytes, the one beside the program %2: the card's copy may "
                          "be incomplete.\r\n"
                          "Would you like to send the test file to\r\n"
                          "the Kavo again and play it?")
        .arg(card)
        .arg(local);
}
const QString Question = QStringLiteral("The test file does not exist on the card.\r\n"
                                        "Would you like to send the test file to\r\n"
                                        "the Kavo and play it?");
const QString Uploading = QStringLiteral("Uploading test file (/KAVOTEST.MP3) ...");
const QString Incomplete = QStringLiteral("\r\nThe file /KAVOTEST.MP3 on the card is incomplete.");
// What Read asks the module, one query a setting.
const QStringList ReadQueries = {QStringLiteral("ST D"), QStringLiteral("ST T"), QStringLiteral("ST S"),
                                 QStringLiteral("ST N"), QStringLiteral("ST H"), QStringLiteral("ST V"),
                                 QStringLiteral("ST O"), QStringLiteral("ST B"), QStringLiteral("ST U")};

// Kinds of local test file besides plain content of a given size.
enum LocalFile { Missing = -1, Folder = -2, NoPermission = -3, TooLarge = -4, Fifo = -5 };

// Bytes of a given size that include the ones the line treats specially elsewhere.
QByteArray testBytes(int size)
{
    QByteArray bytes(size, '\0');
    quint32 x = 12345u + quint32(size);
    for (int i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        bytes[i] = char(x >> 24);
    }
    const char special[] = {'>', '\r', '\x1b', '\n', '\0'};
    for (int i = 0; i < size; i += 97)
        bytes[i] = special[(i / 97) % 5];
    return bytes;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// "FC W 1 512" n times.
QStringList fullPieces(int n)
{
    QStringList list;
    for (int i = 0; i < n; ++i)
        list << Full;
    return list;
}

// A window connected to the simulator through the Open button (auto detection, as the
// window starts).
std::unique_ptr<frmSerialData> connectTo(const KavoSim &sim)
{
    auto w = openWindow();
    if (!w)
        return nullptr;
    WindowDriver window(w.get());
    if (!window.pick(QStringLiteral("lstPCCOM"), sim.comName()) || !window.click(QStringLiteral("cmdOpenCOM"))
        || !window.connected())
        return nullptr;
    return w;
}

// What the tool sent after its last look-up, without probes; a line of its own while no
// look-up has reached the simulator's log.
QStringList trafficAfterLookUp(const KavoSim &sim)
{
    const QStringList all = sim.commands();
    const qsizetype from = all.lastIndexOf(LookUp);
    if (from < 0)
        return {QStringLiteral("(no look-up)")};
    QStringList traffic;
    for (qsizetype i = from + 1; i < all.size(); ++i)
        if (all[i] != QStringLiteral("\\e") && !all[i].isEmpty())
            traffic << all[i];
    return traffic;
}

QString lastCommand(const KavoSim &sim)
{
    const QStringList all = sim.commands();
    return all.isEmpty() ? QString() : all.constLast();
}

bool played(const KavoSim &sim)
{
    for (const TrafficLine &line : sim.log())
        if (line.command == Play && line.note == QStringLiteral("played /KAVOTEST.MP3"))
            return true;
    return false;
}

const QStringList OperationButtons = {QStringLiteral("cmdOpenCOM"), QStringLiteral("cmdReadSettings"),
                                      QStringLiteral("cmdWriteSettings"), QStringLiteral("cmdPlayTest")};

bool anyBusyButtonEnabled(const WindowDriver &window)
{
    for (const QString &name : OperationButtons)
        if (window.enabled(name))
            return true;
    return false;
}

// Watches the progress bar during an upload: the session reports the pieces from its own
// thread, and the window moves the bar as each report comes.
class BarWatch : public QObject
{
public:
    explicit BarWatch(QWidget *w) : m_window(w), m_bar(m_window.find<QProgressBar>(QStringLiteral("pbUploadFile")))
    {
        m_bar->installEventFilter(this);
        connect(m_bar, &QProgressBar::valueChanged, this, [this](int value) {
            values << value;
            if (!m_bar->isVisible())
                hiddenWhileStepping = true;
            if (anyBusyButtonEnabled(m_window))
                buttonsEnabledWhileStepping = true;
            if (m_window.status() != Uploading)
                otherStatusWhileStepping = true;
        });
    }
    QProgressBar *bar() const { return m_bar; }
    QList<int> values;
    bool shown = false;
    bool hiddenWhileStepping = false;
    bool buttonsEnabledWhileStepping = false;
    bool otherStatusWhileStepping = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_bar && event->type() == QEvent::Show)
            shown = true;
        return false;
    }

private:
    WindowDriver m_window;
    QProgressBar *m_bar;
};

} // namespace

class TestPlayTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void lookUp_data();
    void lookUp();
    void uploadSizes_data();
    void uploadSizes();
    void uploadFailures_data();
    void uploadFailures();
    void moduleHangsUpMidUpload();
    void windowClosedMidUpload();
    void shorterTestFileOffered();
    void playAnswers_data();
    void playAnswers();

private:
    QString shippedFile() const { return TestFile::programFolder() + QStringLiteral("/KAVOTEST.MP3"); }
    std::unique_ptr<QTemporaryDir> m_folder;
};

void TestPlayTest::initTestCase()
{
    TestEnv::isolate();
    QVERIFY2(QFileInfo(shippedFile()).isFile() && QFileInfo(shippedFile()).size() > 0,
             "the test file is copied beside the programs when kavoconfig is built");
}

void TestPlayTest::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_folder->isValid());
}

void TestPlayTest::cleanup()
{
    TestFile::setFolderForTesting(QString());
    if (m_folder) {
        // A folder or a locked file standing in for the test file must not stop the removal.
        QFile::setPermissions(m_folder->filePath(QStringLiteral("KAVOTEST.MP3")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        m_folder.reset();
    }
}

void TestPlayTest::lookUp_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("cardHasFile");
    QTest::addColumn<bool>("answerYes");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QString>("statusBefore");   // the card's status once connected
    QTest::addColumn<QString>("cardStatus");     // and after the look-up
    QTest::addColumn<QStringList>("traffic");
    QTest::addColumn<bool>("playsFile");

    const QString noCard = QStringLiteral("No card inserted in the Kavo.");
    const auto replyTo = [](const QString &text) {
        return QStringList{QStringLiteral("--reply"), QStringLiteral("FC L /KAVOTEST.MP3=") + text};
    };
    // A card whose space is not told: the window shows the card's own status text instead
    // (the answer to "FC F") until the look-up tells another.
    const auto fatShown = [](QStringList options) {
        return options << QStringLiteral("--reply") << QStringLiteral("FC Q=>");
    };
    const QString fat = QStringLiteral("FAT32");
    const auto otherError = [](const QString &reply) {
        return QStringList{QStringLiteral("An error occurred searching for /KAVOTEST.MP3\r\nError code: ") + reply};
    };

    // The shipped file goes up in 512-byte pieces and a last shorter one.
    QStringList upload{Open};
    qint64 rest = QFileInfo(shippedFile()).size();
    for (; rest > 512; rest -= 512)
        upload << Full;
    // After it, the free space is read again.
    upload << QStringLiteral("FC W 1 %1").arg(rest) << Close << FreeSpace << Play;

    const QString none;
    QTest::newRow("found") << fatShown({}) << true << false << QStringList() << fat << none << QStringList{Play} << true;
    QTest::newRow("missing, Yes: the shipped file goes up and plays")
        << QStringList() << false << true << QStringList{Question} << none << none << upload << true;
    QTest::newRow("missing, No: nothing more is sent")
        << fatShown({}) << false << false << QStringList{Question} << fat << none << QStringList() << false;
    QTest::newRow("no card") << QStringList{QStringLiteral("--no-card")} << false << false << QStringList{noCard}
                             << QStringLiteral("E08") << QStringLiteral("E08") << QStringList() << false;
    QTest::newRow("code 08 after other text") << replyTo(QStringLiteral("E 7 08>")) << false << false
                                              << QStringList{noCard} << none << QStringLiteral("E 7 08") << QStringList()
                                              << false;
    QTest::newRow("code F2 after other text, No") << fatShown(replyTo(QStringLiteral("EXF2>"))) << false << false
                                                  << QStringList{Question} << fat << none << QStringList() << false;
    QTest::newRow("another code") << replyTo(QStringLiteral("E42>")) << false << false << otherError(QStringLiteral("E42"))
                                  << none << QStringLiteral("E42") << QStringList() << false;
    QTest::newRow("E alone") << replyTo(QStringLiteral("E>")) << false << false << otherError(QStringLiteral("E"))
                             << none << QStringLiteral("E") << QStringList() << false;
    QTest::newRow("E2: too short for a code") << replyTo(QStringLiteral("E2>"))
                                              << false << false << otherError(QStringLiteral("E2"))
                                              << none << QStringLiteral("E2") << QStringList() << false;
    QTest::newRow("lower-case e counts as found") << fatShown(replyTo(QStringLiteral("e08>"))) << true << false
                                                  << QStringList() << fat << none << QStringList{Play} << true;
    QTest::newRow("look-up time-out: played all the same")
        << fatShown(replyTo(QString())) << true << false << QStringList() << fat << none << QStringList{Play} << true;
}

void TestPlayTest::lookUp()
{
    QFETCH(QStringList, options);
    QFETCH(bool, cardHasFile);
    QFETCH(bool, answerYes);
    QFETCH(QStringList, messages);
    QFETCH(QString, statusBefore);
    QFETCH(QString, cardStatus);
    QFETCH(QStringList, traffic);
    QFETCH(bool, playsFile);

    KavoSim sim;
    QVERIFY(sim.start(options));
    // The card's copy as long as the shipped one: found, it is played.
    if (cardHasFile)
        QVERIFY(writeFile(sim.cardDir() + QStringLiteral("/KAVOTEST.MP3"), testBytes(int(QFileInfo(shippedFile()).size()))));
    MessageBoxes boxes;
    auto w = connectTo(sim);
    QVERIFY(w);
    WindowDriver window(w.get());
    boxes.clear();
    boxes.answer(answerYes ? QMessageBox::Yes : QMessageBox::No);
    bool enabledDuringBox = false;
    boxes.onShown([&](QMessageBox *) { enabledDuringBox = enabledDuringBox || anyBusyButtonEnabled(window); });
    QCOMPARE(window.text(QStringLiteral("lblStatus")), statusBefore);

    QVERIFY(window.click(QStringLiteral("cmdPlayTest")));
    QTRY_COMPARE_WITH_TIMEOUT(trafficAfterLookUp(sim), traffic, 10000);

    QCOMPARE(boxes.texts(), messages);
    for (const MessageBoxes::Seen &box : boxes.seen) {
        QCOMPARE(box.title, QStringLiteral("KavoConfig"));
        QCOMPARE(box.icon, QMessageBox::NoIcon);
    }
    if (!messages.isEmpty() && messages.first() == Question)
        QCOMPARE(boxes.seen.first().buttons, QMessageBox::Yes | QMessageBox::No);
    QVERIFY(!enabledDuringBox);
    QCOMPARE(window.text(QStringLiteral("lblStatus")), cardStatus);
    QCOMPARE(played(sim), playsFile);
    if (answerYes)
        QCOMPARE(readFile(sim.cardDir() + QStringLiteral("/KAVOTEST.MP3")), readFile(shippedFile()));
    QVERIFY(window.enabled(QStringLiteral("cmdPlayTest")));
    QVERIFY(window.enabled(QStringLiteral("cmdOpenCOM")));
    QVERIFY(window.widget(QStringLiteral("pbUploadFile"))->isHidden());
}

void TestPlayTest::uploadSizes_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QStringList>("writes");

    QTest::newRow("1 byte") << 1 << QStringList{QStringLiteral("FC W 1 1")};
    QTest::newRow("511") << 511 << QStringList{QStringLiteral("FC W 1 511")};
    QTest::newRow("512: one last piece") << 512 << QStringList{Full};
    QTest::newRow("513") << 513 << QStringList{Full, QStringLiteral("FC W 1 1")};
    QTest::newRow("1024") << 1024 << QStringList{Full, Full};
    QTest::newRow("1300") << 1300 << QStringList{Full, Full, QStringLiteral("FC W 1 276")};
    QTest::newRow("100 KiB") << 102400 << fullPieces(200);
    QTest::newRow("100 KiB and 3") << 102403 << (fullPieces(200) << QStringLiteral("FC W 1 3"));
}

void TestPlayTest::uploadSizes()
{
    QFETCH(int, size);
    QFETCH(QStringList, writes);

    const QByteArray content = testBytes(size);
    QVERIFY(writeFile(m_folder->filePath(QStringLiteral("KAVOTEST.MP3")), content));
    TestFile::setFolderForTesting(m_folder->path());

    KavoSim sim;
    QVERIFY(sim.start());
    MessageBoxes boxes;
    auto w = connectTo(sim);
    QVERIFY(w);
    WindowDriver window(w.get());
    boxes.clear();
    boxes.answer(QMessageBox::Yes);
    BarWatch bar(w.get());

    QElapsedTimer clock;
    clock.start();
    QVERIFY(window.click(QStringLiteral("cmdPlayTest")));
    const qint64 tookMs = clock.elapsed();
    QTRY_COMPARE_WITH_TIMEOUT(trafficAfterLookUp(sim), (QStringList{Open} + writes + QStringList{Close, FreeSpace, Play}),
                              10000);

    QCOMPARE(boxes.texts(), QStringList{Question});
    QCOMPARE(readFile(sim.cardDir() + QStringLiteral("/KAVOTEST.MP3")), content);
    QVERIFY(played(sim));

    QVERIFY(bar.shown);
    QCOMPARE(bar.bar()->maximum(), size);
    // What a user sees: the bar grows, from the first piece the module took to the whole
    // file, moving at most about 25 times a second.
    QVERIFY(!bar.values.isEmpty());
    QCOMPARE(bar.values.first(), qMin(size, 512));
    QCOMPARE(bar.values.last(), size);
    for (qsizetype i = 1; i < bar.values.size(); ++i)
        QVERIFY(bar.values[i] > bar.values[i - 1]);
    QVERIFY2(bar.values.size() <= 2 + tookMs / 40, qPrintable(QStringLiteral("%1 moves in %2 ms").arg(bar.values.size()).arg(tookMs)));
    QVERIFY(!bar.hiddenWhileStepping);
    QVERIFY(!bar.buttonsEnabledWhileStepping);
    QVERIFY(!bar.otherStatusWhileStepping);
    QVERIFY(bar.bar()->isHidden());
    QCOMPARE(window.status(), Playing);
    // The free space shows what the file took.
    QCOMPARE(window.text(QStringLiteral("lblFreeSpace")), QString::number(1998848 - (size + 1023) / 1024));
    QVERIFY(window.enabled(QStringLiteral("cmdPlayTest")));
}

void TestPlayTest::uploadFailures_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("local");            // bytes in the local file, or a LocalFile kind
    QTest::addColumn<QString>("message");      // after the question; %1 = the local path
    QTest::addColumn<bool>("messageIsStart");  // the message goes on with the system's reason
    QTest::addColumn<QStringList>("traffic");
    QTest::addColumn<bool>("barShown");
    QTest::addColumn<int>("cardBytes");        // bytes of the local file on the card; -1: no card file
    QTest::addColumn<QString>("status");       // the status line afterwards; empty: not checked

    const QString failed = QStringLiteral("Upload failed: /KAVOTEST.MP3 on the card is incomplete");
    const QString answered = QStringLiteral("\r\nThe Kavo answered: EF9");
    const QString silent = QStringLiteral("\r\nThe Kavo did not answer.");
    const QString piece = QStringLiteral("Error during write.");
    const QString lastPiece = QStringLiteral("Error during write (2)");
    const QStringList none;
    const QString unchecked;

    QTest::newRow("open refused")
        << QStringList{QStringLiteral("--reply"), QStringLiteral("FC O 1 W /KAVOTEST.MP3=E05>")} << 1300
        << QStringLiteral("Could not open file on Kavo") << false << QStringList{Open} << false << -1
        << QStringLiteral("Error (E05) while opening /KAVOTEST.MP3");
    QTest::newRow("error at a middle piece")
        << QStringList{QStringLiteral("--write-error"), QStringLiteral("2")} << 1300 << piece + answered + Incomplete
        << false << QStringList{Open, Full, Full, Close} << true << 512 << failed;
    QTest::newRow("error at the last piece")
        << QStringList{QStringLiteral("--write-error"), QStringLiteral("3")} << 1300 << lastPiece + answered + Incomplete
        << false << QStringList{Open, Full, Full, QStringLiteral("FC W 1 276"), Close} << true << 1024 << failed;
    QTest::newRow("error at the only piece")
        << QStringList{QStringLiteral("--write-error"), QStringLiteral("1=E77>")} << 100
        << lastPiece + QStringLiteral("\r\nThe Kavo answered: E77") + Incomplete << false
        << QStringList{Open, QStringLiteral("FC W 1 100"), Close} << true << 0 << failed;
    QTest::newRow("first piece unanswered")
        << QStringList{QStringLiteral("--write-silent"), QStringLiteral("1")} << 1300 << piece + silent + Incomplete
        << false << QStringList{Open, Full, Close} << true << 0 << failed;
    QTest::newRow("last piece unanswered")
        << QStringList{QStringLiteral("--write-silent"), QStringLiteral("3")} << 1300 << lastPiece + silent + Incomplete
        << false << QStringList{Open, Full, Full, QStringLiteral("FC W 1 276"), Close} << true << 1024 << failed;
    QTest::newRow("local file missing") << QStringList() << int(Missing) << QStringLiteral("Could not find '%1'")
                                        << false << none << false << -1 << unchecked;
    QTest::newRow("local file empty") << QStringList() << 0
                                      << QStringLiteral("The test file '%1' is empty; there is nothing to send to the Kavo.")
                                      << false << none << false << -1 << unchecked;
    QTest::newRow("local file is a folder") << QStringList() << int(Folder)
                                            << QStringLiteral("Could not find '%1'\r\nIt is a folder, not a file that can be sent.")
                                            << false << none << false << -1
                                            << QStringLiteral("Upload not started: Could not find '%1'");
    // Opening a named pipe would wait for a writer: it is refused before that.
    QTest::newRow("local file is a named pipe")
        << QStringList() << int(Fifo) << QStringLiteral("Could not find '%1'\r\nIt is a named pipe, not a file that can be sent.")
        << false << none << false << -1 << unchecked;
    QTest::newRow("local file without read permission")
        << QStringList() << int(NoPermission) << QStringLiteral("Could not read the test file '%1':\r\n") << true << none
        << false << -1 << unchecked;
    QTest::newRow("local file over 2 GiB")
        << QStringList() << int(TooLarge)
        << QStringLiteral("The test file '%1' is too large (2147483648 bytes); the Kavo takes files of up to 2147483647 bytes.")
        << false << none << false << -1 << unchecked;
}

void TestPlayTest::uploadFailures()
{
    QFETCH(QStringList, options);
    QFETCH(int, local);
    QFETCH(QString, message);
    QFETCH(bool, messageIsStart);
    QFETCH(QStringList, traffic);
    QFETCH(bool, barShown);
    QFETCH(int, cardBytes);
    QFETCH(QString, status);

    const QString localPath = m_folder->filePath(QStringLiteral("KAVOTEST.MP3"));
    const QByteArray content = testBytes(qMax(local, 0));
    switch (local) {
    case Missing:
        break;
    case Folder:
        QVERIFY(QDir().mkdir(localPath));
        break;
    case Fifo:
        QVERIFY(::mkfifo(QFile::encodeName(localPath).constData(), 0600) == 0);
        break;
    case NoPermission:
        if (geteuid() == 0)
            QSKIP("root reads files without read permission; the folder row covers an unreadable file");
        QVERIFY(writeFile(localPath, testBytes(1300)));
        QVERIFY(QFile::setPermissions(localPath, QFileDevice::WriteOwner));
        break;
    case TooLarge: {
        QFile file(localPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(qint64(1) << 31));   // sparse: takes no room
        break;
    }
    default:
        QVERIFY(writeFile(localPath, content));
    }
    TestFile::setFolderForTesting(m_folder->path());

    KavoSim sim;
    QVERIFY(sim.start(options));
    MessageBoxes boxes;
    auto w = connectTo(sim);
    QVERIFY(w);
    WindowDriver window(w.get());
    boxes.clear();
    boxes.answer(QMessageBox::Yes);
    BarWatch bar(w.get());

    QVERIFY(window.click(QStringLiteral("cmdPlayTest")));
    QTRY_COMPARE_WITH_TIMEOUT(trafficAfterLookUp(sim), traffic, 10000);

    const QStringList texts = boxes.texts();
    QCOMPARE(texts.size(), 2);
    QCOMPARE(texts[0], Question);
    const QString expected = QString(message).replace(QStringLiteral("%1"), localPath);
    if (messageIsStart) {
        QVERIFY2(texts[1].startsWith(expected) && texts[1].size() > expected.size(), qPrintable(texts[1]));
    } else {
        QCOMPARE(texts[1], expected);
    }
    QVERIFY(!played(sim));
    QCOMPARE(bar.shown, barShown);
    QVERIFY(bar.bar()->isHidden());
    const QString cardFile = sim.cardDir() + QStringLiteral("/KAVOTEST.MP3");
    if (cardBytes < 0)
        QVERIFY(!QFile::exists(cardFile));
    else
        QCOMPARE(readFile(cardFile), content.left(cardBytes));
    if (!status.isEmpty())
        QCOMPARE(window.status(), QString(status).replace(QStringLiteral("%1"), localPath));
    if (traffic.value(0) == Open && !barShown)
        QCOMPARE(window.text(QStringLiteral("lblStatus")), QStringLiteral("E05"));
    QVERIFY(window.enabled(QStringLiteral("cmdPlayTest")));
    QVERIFY(window.connected());
}

void TestPlayTest::moduleHangsUpMidUpload()
{
    QVERIFY(writeFile(m_folder->filePath(QStringLiteral("KAVOTEST.MP3")), testBytes(102400)));
    TestFile::setFolderForTesting(m_folder->path());

    KavoSim sim;
    QVERIFY(sim.start({QStringLiteral("--hangup-after"), QStringLiteral("20000")}));
    MessageBoxes boxes;
    auto w = connectTo(sim);
    QVERIFY(w);
    WindowDriver window(w.get());
    boxes.clear();
    boxes.answer(QMessageBox::Yes);
    BarWatch bar(w.get());

    QVERIFY(window.click(QStringLiteral("cmdPlayTest")));

    QTRY_VERIFY_WITH_TIMEOUT(!sim.running(), 10000);
    QCOMPARE(boxes.texts(), QStringList{Question});   // the lost port is told on the status line
    QVERIFY(!bar.values.isEmpty());
    QVERIFY(bar.values.size() < 199);
    QVERIFY(bar.bar()->isHidden());
    QCOMPARE(window.text(QStringLiteral("cmdOpenCOM")), QStringLiteral("Open"));
    QVERIFY(window.enabled(QStringLiteral("cmdOpenCOM")));
    QVERIFY(!window.enabled(QStringLiteral("cmdPlayTest")));
    QCOMPARE(window.status(), QStringLiteral("%1 (%2) was disconnected; the port is closed. Reconnect the module, "
                                             "then press Open.").arg(sim.comName(), sim.device()));
    const QStringList commands = sim.commands();
    QVERIFY(!commands.contains(Play));
    QVERIFY(!commands.contains(Close));
    QCOMPARE(sim.log().last().note, QStringLiteral("hangup"));
}

void TestPlayTest::windowClosedMidUpload()
{
    QVERIFY(writeFile(m_folder->filePath(QStringLiteral("KAVOTEST.MP3")), testBytes(1024 * 1024)));
    TestFile::setFolderForTesting(m_folder->path());

    KavoSim sim;
    QVERIFY(sim.start());
    MessageBoxes boxes;
    auto w = connectTo(sim);
    QVERIFY(w);
    WindowDriver window(w.get());
    boxes.clear();
    boxes.answer(QMessageBox::Yes);
    BarWatch bar(w.get());
    // The user closes the window once the bar shows the first piece taken, while the
    // pieces after it are on their way.
    connect(bar.bar(), &QProgressBar::valueChanged, w.get(), [&](int value) {
        if (value == 512)
            QTimer::singleShot(0, w.get(), &QWidget::close);
    });

    QTest::mouseClick(window.find<QPushButton>(QStringLiteral("cmdPlayTest")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!w->isVisible(), 10000);
    QCOMPARE(boxes.texts(), QStringList{Question});
    QVERIFY(!bar.values.isEmpty());
    QCOMPARE(bar.values.first(), 512);
    QTRY_VERIFY(bar.bar()->isHidden());

    // The window waits for the session's thread as it goes: the upload stops within
    // moments of the close, and its card file is closed first.
    QElapsedTimer clock;
    clock.start();
    w.reset();
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QStringLiteral("the window took %1 ms to go").arg(clock.elapsed())));
    QTRY_COMPARE_WITH_TIMEOUT(lastCommand(sim), Close, 10000);
    // Nothing else follows: the card file closed last, after some of the pieces. The file
    // is long enough that its 2048 pieces take longer than those moments even on a fast
    // machine.
    sim.terminate();
    const QStringList all = sim.commands();
    const QStringList traffic = all.mid(all.lastIndexOf(LookUp) + 1);
    const qsizetype pieces = traffic.count(Full);
    QVERIFY2(traffic.size() == pieces + 2 && traffic.first() == Open && traffic.last() == Close && pieces >= 1
                 && pieces < 2048,
             qPrintable(traffic.join(QLatin1Char('|'))));
}

// A test file of another size on the card (an upload that stopped leaves a shorter one) is
// offered for upload: No plays the card's copy, Yes sends the local file first; then it is
// played without a question. Nothing about it is kept anywhere but on the card.
void TestPlayTest::shorterTestFileOffered()
{
    QVERIFY(writeFile(m_folder->filePath(QStringLiteral("KAVOTEST.MP3")), testBytes(1300)));
    TestFile::setFolderForTesting(m_folder->path());
    KavoSim sim;
    QVERIFY(sim.start());
    QVERIFY(writeFile(sim.cardDir() + QStringLiteral("/KAVOTEST.MP3"), testBytes(1300).left(512)));
    MessageBoxes boxes;
    auto w = connectTo(sim);
    QVERIFY(w);
    WindowDriver window(w.get());
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));

    boxes.clear();
    boxes.answer(QMessageBox::No);
    QVERIFY(window.click(QStringLiteral("cmdPlayTest")));
    QTRY_COMPARE_WITH_TIMEOUT(trafficAfterLookUp(sim), QStringList{Play}, 10000);
    QCOMPARE(boxes.texts(), QStringList{sizeQuestion(512, 1300)});
    QCOMPARE(boxes.seen.first().buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(window.status(), Playing);
    // After the box the focus is back on Play, not on whatever came after it.
    QTRY_COMPARE(w->focusWidget(), window.widget(QStringLiteral("cmdPlayTest")));

    boxes.clear();
    boxes.answer(QMessageBox::Yes);
    QVERIFY(window.click(QStringLiteral("cmdPlayTest")));
    QTRY_COMPARE_WITH_TIMEOUT(trafficAfterLookUp(sim),
                              (QStringList{Open, Full, Full, QStringLiteral("FC W 1 276"), Close, FreeSpace, Play}), 10000);
    QCOMPARE(boxes.texts(), QStringList{sizeQuestion(512, 1300)});
    QCOMPARE(readFile(sim.cardDir() + QStringLiteral("/KAVOTEST.MP3")), testBytes(1300));

    boxes.clear();
    QVERIFY(window.click(QStringLiteral("cmdPlayTest")));
    QTRY_COMPARE_WITH_TIMEOUT(sim.commands().count(Play), 3, 10000);
    QCOMPARE(trafficAfterLookUp(sim), QStringList{Play});
    QVERIFY(boxes.seen.isEmpty());
    QVERIFY(!QFileInfo::exists(TestEnv::configFolder() + QStringLiteral("/KavoConfig/KavoConfig.conf"))
            || !readFile(TestEnv::configFolder() + QStringLiteral("/KavoConfig/KavoConfig.conf")).contains("incomplete"));
}

// The play command's answer is awaited: a refusal and silence are told on the status line,
// and a card-file close answered with text that is no error reply is no failed close.
void TestPlayTest::playAnswers_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("onCard");   // the test file is on the card already
    QTest::addColumn<QString>("status");

    QTest::newRow("refused") << QStringList{QStringLiteral("--reply"), Play + QStringLiteral("=EF2>")} << true
                             << QStringLiteral("Could not play /KAVOTEST.MP3: the Kavo answered 'EF2'");
    QTest::newRow("silent") << QStringList{QStringLiteral("--reply"), Play + QStringLiteral("=")} << true
                            << QStringLiteral("Asked the Kavo to play /KAVOTEST.MP3, but it did not answer");
    QTest::newRow("close answered OK") << QStringList{QStringLiteral("--reply"), Close + QStringLiteral("=OK>")} << false
                                       << Playing;
}

void TestPlayTest::playAnswers()
{
    QFETCH(QStringList, options);
    QFETCH(bool, onCard);
    QFETCH(QString, status);

    KavoSim sim;
    QVERIFY(sim.start(options));
    if (onCard)
        QVERIFY(writeFile(sim.cardDir() + QStringLiteral("/KAVOTEST.MP3"), readFile(shippedFile())));
    MessageBoxes boxes;
    auto w = connectTo(sim);
    QVERIFY(w);
    WindowDriver window(w.get());
    boxes.clear();
    boxes.answer(QMessageBox::Yes);
    QVERIFY(window.click(QStringLiteral("cmdPlayTest")));
    QCOMPARE(window.status(), status);
    QCOMPARE(boxes.texts(), onCard ? QStringList() : QStringList{Question});
    QTRY_VERIFY_WITH_TIMEOUT(sim.commands().contains(Play), 10000);
    QVERIFY(played(sim) || status != Playing);
    QCOMPARE(readFile(sim.cardDir() + QStringLiteral("/KAVOTEST.MP3")), readFile(shippedFile()));
    // Nothing of the answer is left for the next exchange: a Read right after it asks the
    // module once for each setting and gets all nine.
    const qsizetype before = sim.commands().size();
    const qsizetype shown = boxes.seen.size();
    QVERIFY(window.click(QStringLiteral("cmdReadSettings")));
    QCOMPARE(boxes.seen.size(), shown);
    QTRY_COMPARE_WITH_TIMEOUT(sim.commands().mid(before), ReadQueries, 10000);
    QCOMPARE(window.status(), QStringLiteral("All Settings Received"));
}

QTEST_MAIN(TestPlayTest)
#include "tst_playtest.moc"
