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
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include "support/kavosim.h"
#include "support/messageboxes.h"
#include "playtest/testfile.h"
#include "support/testenv.h"
#include "support/windowfixture.h"

namespace {

const QString LookUp = QStringLiteral("FC L /KAVOTEST.MP3");
const QString Open = QStringLiteral("FC O 1 W /KAVOTEST.MP3");
const QString Full = QStringLiteral("FC W 1 512");
const QString Close = QStringLiteral("FC C 1");
const QString Play = QStringLiteral("PC F /KAVOTEST.MP3");
const QString FreeSpace = QStringLiteral("FC Q");
const QString Playing = QStringLiteral("Playing /KAVOTEST.MP3");
const QString IncompleteQuestion = QStringLiteral("The test file on the card is incomplete: an upload to this Kavo "
                                                  "stopped before its end.\r\n"
                                                  "Would you like to send the test file to\r\n"
                                                  "the Kavo again and play it?");
const QString Question = QStringLiteral("The test file does not exist on the card.\r\n"
                                        "Would you like to send the test file to\r\n"
                                        "the Kavo and play it?");
const QString Uploading = QStringLiteral("Uploading test file (/KAVOTEST.MP3) ...");
const QString Incomplete = QStringLiteral("\r\nThe file /KAVOTEST.MP3 on the card is incomplete.");

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

// A window connected to the simulator through the Open button (auto detection).
std::unique_ptr<frmSerialData> connectTo(const KavoSim &sim)
{
    auto w = openWindow();
    if (!w || !selectEntry(w->lstPCCOM, sim.comName()))
        return nullptr;
    QTest::mouseClick(w->cmdOpenCOM, Qt::LeftButton);
    if (w->cmdOpenCOM->text() != QStringLiteral("Close"))
        return nullptr;
    return w;
}

// Sends "V" after whatever the tool has sent and waits until the simulator has logged
// it: everything before it is in the log by then.
bool settle(const KavoSim &sim, frmSerialData *w)
{
    const auto marks = [&] { return sim.commands().count(QStringLiteral("V")); };
    const int before = marks();
    w->session->link().SendText(QByteArrayLiteral("V\r"));
    return QTest::qWaitFor([&] { return marks() > before; }, 10000);
}

// What the tool sent after its last look-up, up to the "V" of settle(), without probes.
QStringList trafficAfterLookUp(const KavoSim &sim)
{
    const QStringList all = sim.commands();
    const qsizetype from = all.lastIndexOf(LookUp);
    const qsizetype to = all.lastIndexOf(QStringLiteral("V"));
    QStringList traffic;
    for (qsizetype i = from + 1; from >= 0 && i < to; ++i)
        if (all[i] != QStringLiteral("\\e") && !all[i].isEmpty())
            traffic << all[i];
    return traffic;
}

bool played(const KavoSim &sim)
{
    for (const TrafficLine &line : sim.log())
        if (line.command == Play && line.note == QStringLiteral("played /KAVOTEST.MP3"))
            return true;
    return false;
}

bool anyBusyButtonEnabled(const frmSerialData *w)
{
    return w->cmdOpenCOM->isEnabled() || w->cmdReadSettings->isEnabled() || w->cmdWriteSettings->isEnabled()
        || w->cmdPlayTest->isEnabled();
}

// Watches the progress bar during an upload.
class BarWatch : public QObject
{
public:
    explicit BarWatch(frmSerialData *w) : m_w(w)
    {
        w->pbUploadFile->installEventFilter(this);
        connect(w->pbUploadFile, &QProgressBar::valueChanged, this, [this](int value) {
            values << value;
            if (!m_w->pbUploadFile->isVisible())
                hiddenWhileStepping = true;
            if (anyBusyButtonEnabled(m_w))
                buttonsEnabledWhileStepping = true;
            if (m_w->StatusPanel[2]->text() != Uploading)
                otherStatusWhileStepping = true;
        });
    }
    QList<int> values;
    bool shown = false;
    bool hiddenWhileStepping = false;
    bool buttonsEnabledWhileStepping = false;
    bool otherStatusWhileStepping = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_w->pbUploadFile && event->type() == QEvent::Show)
            shown = true;
        return false;
    }

private:
    frmSerialData *m_w;
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
    void incompleteTestFileNotPlayed();
    void playRefusedIsTold();

private:
    QString shippedFile() const { return frmSerialData::ProgramFolder() + QStringLiteral("/KAVOTEST.MP3"); }
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
    // Every case starts with no card file remembered as incomplete.
    QSettings().clear();
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
    QTest::addColumn<QString>("cardStatus");
    QTest::addColumn<QStringList>("traffic");
    QTest::addColumn<bool>("playsFile");

    const QString noCard = QStringLiteral("No card inserted in the Kavo.");
    const auto replyTo = [](const QString &text) {
        return QStringList{QStringLiteral("--reply"), QStringLiteral("FC L /KAVOTEST.MP3=") + text};
    };
    const auto otherError = [](const QString &reply) {
        return QStringList{QStringLiteral("An error occurred searching for /KAVOTEST.MP3\r\nError code: ") + reply};
    };

    // The shipped file goes up as the Part's loop sends it.
    QStringList upload{Open};
    qint64 rest = QFileInfo(shippedFile()).size();
    for (; rest > 512; rest -= 512)
        upload << Full;
    // After it, the free space is read again.
    upload << QStringLiteral("FC W 1 %1").arg(rest) << Close << FreeSpace << Play;

    QTest::newRow("found") << QStringList() << true << false << QStringList() << QString() << QStringList{Play} << true;
    QTest::newRow("missing, Yes: the shipped file goes up and plays")
        << QStringList() << false << true << QStringList{Question} << QString() << upload << true;
    QTest::newRow("missing, No: nothing more is sent")
        << QStringList() << false << false << QStringList{Question} << QString() << QStringList() << false;
    QTest::newRow("no card") << QStringList{QStringLiteral("--no-card")} << false << false << QStringList{noCard}
                             << QStringLiteral("E08") << QStringList() << false;
    QTest::newRow("code 08 after other text") << replyTo(QStringLiteral("E 7 08>")) << false << false
                                              << QStringList{noCard} << QStringLiteral("E 7 08") << QStringList() << false;
    QTest::newRow("code F2 after other text, No") << replyTo(QStringLiteral("EXF2>")) << false << false
                                                  << QStringList{Question} << QString() << QStringList() << false;
    QTest::newRow("another code") << replyTo(QStringLiteral("E42>")) << false << false << otherError(QStringLiteral("E42"))
                                  << QStringLiteral("E42") << QStringList() << false;
    QTest::newRow("E alone") << replyTo(QStringLiteral("E>")) << false << false << otherError(QStringLiteral("E"))
                             << QStringLiteral("E") << QStringList() << false;
    QTest::newRow("E2: too short for a code") << replyTo(QStringLiteral("E2>"))
                                              << false << false << otherError(QStringLiteral("E2"))
                                              << QStringLiteral("E2") << QStringList() << false;
    QTest::newRow("lower-case e counts as found") << replyTo(QStringLiteral("e08>")) << true << false << QStringList()
                                                  << QString() << QStringList{Play} << true;
    QTest::newRow("look-up time-out: played all the same")
        << replyTo(QString()) << true << false << QStringList() << QString() << QStringList{Play} << true;
}

void TestPlayTest::lookUp()
{
    QFETCH(QStringList, options);
    QFETCH(bool, cardHasFile);
    QFETCH(bool, answerYes);
    QFETCH(QStringList, messages);
    QFETCH(QString, cardStatus);
    QFETCH(QStringList, traffic);
    QFETCH(bool, playsFile);

    KavoSim sim;
    QVERIFY(sim.start(options));
    if (cardHasFile)
        QVERIFY(writeFile(sim.cardDir() + QStringLiteral("/KAVOTEST.MP3"), testBytes(700)));
    MessageBoxes boxes;
    auto w = connectTo(sim);
    QVERIFY(w);
    boxes.clear();
    boxes.answer(answerYes ? QMessageBox::Yes : QMessageBox::No);
    bool enabledDuringBox = false;
    boxes.onShown([&](QMessageBox *) { enabledDuringBox = enabledDuringBox || anyBusyButtonEnabled(w.get()); });
    w->lblStatus->setText(QStringLiteral("before"));

    QTest::mouseClick(w->cmdPlayTest, Qt::LeftButton);
    QVERIFY(settle(sim, w.get()));

    QCOMPARE(boxes.texts(), messages);
    for (const MessageBoxes::Seen &box : boxes.seen) {
        QCOMPARE(box.title, QStringLiteral("KavoConfig"));
        QCOMPARE(box.icon, QMessageBox::NoIcon);
    }
    if (!messages.isEmpty() && messages.first() == Question)
        QCOMPARE(boxes.seen.first().buttons, QMessageBox::Yes | QMessageBox::No);
    QVERIFY(!enabledDuringBox);
    QCOMPARE(w->lblStatus->text(), cardStatus);
    QCOMPARE(trafficAfterLookUp(sim), traffic);
    QCOMPARE(played(sim), playsFile);
    if (answerYes)
        QCOMPARE(readFile(sim.cardDir() + QStringLiteral("/KAVOTEST.MP3")), readFile(shippedFile()));
    QVERIFY(w->cmdPlayTest->isEnabled());
    QVERIFY(w->cmdOpenCOM->isEnabled());
    QVERIFY(w->pbUploadFile->isHidden());
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
    boxes.clear();
    boxes.answer(QMessageBox::Yes);
    BarWatch bar(w.get());

    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(w->cmdPlayTest, Qt::LeftButton);
    const qint64 tookMs = clock.elapsed();
    QVERIFY(settle(sim, w.get()));

    QCOMPARE(boxes.texts(), QStringList{Question});
    QCOMPARE(trafficAfterLookUp(sim), (QStringList{Open} + writes + QStringList{Close, FreeSpace, Play}));
    QCOMPARE(readFile(sim.cardDir() + QStringLiteral("/KAVOTEST.MP3")), content);
    QVERIFY(played(sim));

    QVERIFY(bar.shown);
    QCOMPARE(w->pbUploadFile->maximum(), size);
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
    QVERIFY(w->pbUploadFile->isHidden());
    QCOMPARE(w->StatusPanel[2]->text(), Playing);
    // The free space shows what the file took.
    QCOMPARE(w->lblFreeSpace->text(), QString::number(1998848 - (size + 1023) / 1024));
    QVERIFY(w->cmdPlayTest->isEnabled());
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
                                            << QStringLiteral("The test file '%1' is a folder, not a file that can be sent.")
                                            << false << none << false << -1 << unchecked;
    // Opening a named pipe would wait for a writer: it is refused before that.
    QTest::newRow("local file is a named pipe") << QStringList() << int(Fifo)
                                                << QStringLiteral("The test file '%1' is a named pipe, not a file that can be sent.")
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
    boxes.clear();
    boxes.answer(QMessageBox::Yes);
    BarWatch bar(w.get());

    QTest::mouseClick(w->cmdPlayTest, Qt::LeftButton);
    QVERIFY(settle(sim, w.get()));

    const QStringList texts = boxes.texts();
    QCOMPARE(texts.size(), 2);
    QCOMPARE(texts[0], Question);
    const QString expected = QString(message).replace(QStringLiteral("%1"), localPath);
    if (messageIsStart) {
        QVERIFY2(texts[1].startsWith(expected) && texts[1].size() > expected.size(), qPrintable(texts[1]));
    } else {
        QCOMPARE(texts[1], expected);
    }
    QCOMPARE(trafficAfterLookUp(sim), traffic);
    QVERIFY(!played(sim));
    QCOMPARE(bar.shown, barShown);
    QVERIFY(w->pbUploadFile->isHidden());
    const QString cardFile = sim.cardDir() + QStringLiteral("/KAVOTEST.MP3");
    if (cardBytes < 0)
        QVERIFY(!QFile::exists(cardFile));
    else
        QCOMPARE(readFile(cardFile), content.left(cardBytes));
    if (!status.isEmpty())
        QCOMPARE(w->StatusPanel[2]->text(), status);
    if (traffic.value(0) == Open && !barShown)
        QCOMPARE(w->lblStatus->text(), QStringLiteral("E05"));
    QVERIFY(w->cmdPlayTest->isEnabled());
    QCOMPARE(w->cmdOpenCOM->text(), QStringLiteral("Close"));
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
    boxes.clear();
    boxes.answer(QMessageBox::Yes);
    BarWatch bar(w.get());

    QTest::mouseClick(w->cmdPlayTest, Qt::LeftButton);

    QTRY_VERIFY_WITH_TIMEOUT(!sim.running(), 10000);
    QCOMPARE(boxes.texts(), QStringList{Question});   // the lost port is told on the status line
    QVERIFY(!bar.values.isEmpty());
    QVERIFY(bar.values.size() < 199);
    QVERIFY(w->pbUploadFile->isHidden());
    QCOMPARE(w->cmdOpenCOM->text(), QStringLiteral("Open"));
    QVERIFY(w->cmdOpenCOM->isEnabled());
    QVERIFY(!w->cmdPlayTest->isEnabled());
    QCOMPARE(w->StatusPanel[2]->text(), QStringLiteral("%1 (%2) was disconnected; the port is closed. Reconnect the module, "
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
    boxes.clear();
    boxes.answer(QMessageBox::Yes);
    BarWatch bar(w.get());
    // The user closes the window while the second piece is on its way.
    connect(w->pbUploadFile, &QProgressBar::valueChanged, w.get(), [&](int value) {
        if (value == 512)
            QTimer::singleShot(0, w.get(), &QWidget::close);
    });

    QTest::mouseClick(w->cmdPlayTest, Qt::LeftButton);

    QVERIFY(!w->isVisible());
    QVERIFY(!w->session->portOpen());
    QCOMPARE(bar.values.first(), 512);
    QVERIFY(w->pbUploadFile->isHidden());
    QCOMPARE(boxes.texts(), QStringList{Question});
    // The upload stops within moments of the close (the window's events are looked at
    // every few milliseconds while the pieces stream), the card file is closed, and
    // nothing else follows. The file is long enough that its 2048 pieces take longer
    // than those moments even on a fast machine.
    sim.terminate();
    const QStringList all = sim.commands();
    const QStringList traffic = all.mid(all.lastIndexOf(LookUp) + 1);
    const qsizetype pieces = traffic.count(Full);
    QVERIFY2(traffic.size() == pieces + 2 && traffic.first() == Open && traffic.last() == Close && pieces >= 1
                 && pieces < 2048,
             qPrintable(traffic.join(QLatin1Char('|'))));
}

// An upload that stopped leaves the module's test file marked incomplete: the next Play
// offers to send it again instead of playing it; a completed upload clears the mark.
void TestPlayTest::incompleteTestFileNotPlayed()
{
    QVERIFY(writeFile(m_folder->filePath(QStringLiteral("KAVOTEST.MP3")), testBytes(1300)));
    TestFile::setFolderForTesting(m_folder->path());
    KavoSim sim;
    QVERIFY(sim.start({QStringLiteral("--write-error"), QStringLiteral("2"), QStringLiteral("--serial"),
                       QStringLiteral("00077001")}));
    MessageBoxes boxes;
    auto w = connectTo(sim);
    QVERIFY(w);
    boxes.clear();
    boxes.answer(QMessageBox::Yes);
    QTest::mouseClick(w->cmdPlayTest, Qt::LeftButton);
    QVERIFY(settle(sim, w.get()));
    QCOMPARE(boxes.texts().value(0), Question);
    QVERIFY(!played(sim));

    // Another window, as after a restart: the card holds part of the file.
    w.reset();
    w = connectTo(sim);
    QVERIFY(w);
    boxes.clear();
    boxes.answer(QMessageBox::No);
    QTest::mouseClick(w->cmdPlayTest, Qt::LeftButton);
    QVERIFY(settle(sim, w.get()));
    QCOMPARE(boxes.texts(), QStringList{IncompleteQuestion});
    QCOMPARE(trafficAfterLookUp(sim), QStringList());

    boxes.clear();
    boxes.answer(QMessageBox::Yes);
    QTest::mouseClick(w->cmdPlayTest, Qt::LeftButton);
    QVERIFY(settle(sim, w.get()));
    QCOMPARE(boxes.texts(), QStringList{IncompleteQuestion});
    QCOMPARE(trafficAfterLookUp(sim), (QStringList{Open, Full, Full, QStringLiteral("FC W 1 276"), Close, FreeSpace, Play}));
    QCOMPARE(readFile(sim.cardDir() + QStringLiteral("/KAVOTEST.MP3")), testBytes(1300));

    // Complete now: played without a question.
    boxes.clear();
    QTest::mouseClick(w->cmdPlayTest, Qt::LeftButton);
    QVERIFY(settle(sim, w.get()));
    QVERIFY(boxes.seen.isEmpty());
    QCOMPARE(trafficAfterLookUp(sim), QStringList{Play});
}

// The play command's answer is awaited: a refusal is told on the status line.
void TestPlayTest::playRefusedIsTold()
{
    KavoSim sim;
    QVERIFY(sim.start({QStringLiteral("--reply"), Play + QStringLiteral("=EF2>")}));
    QVERIFY(writeFile(sim.cardDir() + QStringLiteral("/KAVOTEST.MP3"), testBytes(700)));
    MessageBoxes boxes;
    auto w = connectTo(sim);
    QVERIFY(w);
    boxes.clear();
    QTest::mouseClick(w->cmdPlayTest, Qt::LeftButton);
    QCOMPARE(w->StatusPanel[2]->text(), QStringLiteral("Could not play /KAVOTEST.MP3: the Kavo answered 'EF2'"));
    QVERIFY(boxes.seen.isEmpty());
    // Nothing of the answer is left for the next exchange.
    QVERIFY(w->session->link().pendingInput().isEmpty());
}

QTEST_MAIN(TestPlayTest)
#include "tst_playtest.moc"
