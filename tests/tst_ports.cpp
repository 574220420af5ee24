// Opening and closing the COM port as the window does it: line settings, failure messages,
// reopening, stale bytes, and a device that vanishes while the port is open.
#include <QAbstractItemView>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "app/frmserialdata.h"
#include "link/comports.h"
#include "support/devicehold.h"
#include "support/kavosim.h"
#include "support/messageboxes.h"
#include "support/testenv.h"
#include "support/windowdriver.h"
#include "support/windowfixture.h"

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The COM list opened and closed again, as the user does to have it listed anew.
bool listAgain(const WindowDriver &window)
{
    auto *list = window.find<QComboBox>("lstPCCOM");
    if (!list || !list->isEnabled())
        return false;
    QTest::mouseClick(list, Qt::LeftButton);
    if (!QTest::qWaitFor([list] { return list->view()->isVisible(); }, 10000))
        return false;
    list->hidePopup();
    return true;
}

int entryIndex(const WindowDriver &window, const QString &name)
{
    return window.find<QComboBox>("lstPCCOM")->findText(name);
}

bool choosable(const WindowDriver &window, int i)
{
    const QComboBox *list = window.find<QComboBox>("lstPCCOM");
    const auto flags = list->model()->flags(list->model()->index(i, 0));
    return flags.testFlag(Qt::ItemIsEnabled) && flags.testFlag(Qt::ItemIsSelectable);
}

// The port chosen and opened as the user does: the COM list, automatic detection off and
// the rate picked, Open.
bool openAt(WindowDriver &window, const QString &com, int rate)
{
    if (!window.pick("lstPCCOM", com))
        return false;
    if (window.checked("chkAutoBitRate") && !window.click("chkAutoBitRate"))
        return false;
    return window.pick("lstPCBPS", QString::number(rate)) && window.click("cmdOpenCOM");
}

// The text with %1 replaced by the device a port had when it was chosen, %2 by the one it
// has now.
QString withDevices(QString text, const QString &chosen, const QString &now)
{
    return text.replace("%1", chosen).replace("%2", now);
}

// The rates of the log's lines from `from` on.
QSet<int> ratesFrom(const QList<TrafficLine> &log, qsizetype from)
{
    QSet<int> rates;
    for (qsizetype i = from; i < log.size(); ++i)
        rates << log[i].rate;
    return rates;
}

} // namespace

class tst_Ports : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void opens_data();
    void opens();
    void reopensOpenPort_data();
    void reopensOpenPort();
    void staleBytesDropped();
    void failure_data();
    void failure();
    void openUsesListedDevice();
    void reopenRefusesRepointedNumber();
    void closeTwice();
    void vanishedDevice_data();
    void vanishedDevice();

private:
    std::unique_ptr<KavoSim> m_sim;
    std::unique_ptr<frmSerialData> m_window;
};

void tst_Ports::initTestCase()
{
    TestEnv::isolate();
}

void tst_Ports::init()
{
    m_sim = std::make_unique<KavoSim>();
    QVERIFY(m_sim->start({"--com", "2"}));
    m_window = openWindow();
    QVERIFY(m_window);
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void tst_Ports::cleanup()
{
    m_window.reset();
    m_sim.reset();
}

void tst_Ports::opens_data()
{
    QTest::addColumn<int>("rate");
    for (int rate : {9600, 19200, 38400, 57600, 115200})
        QTest::newRow(qPrintable(QString::number(rate))) << rate;
}

// The port opens at the chosen rate with 8 data bits, no parity and one stop bit, and is
// the window's alone while open.
void tst_Ports::opens()
{
    QFETCH(int, rate);
    KavoSim sim;
    QVERIFY(sim.start({"--com", "4", "--rate", QString::number(rate)}));
    WindowDriver window(m_window.get());
    QVERIFY(listAgain(window));

    MessageBoxes boxes;
    QVERIFY(openAt(window, "COM4", rate));
    // A pseudo-terminal has no modem lines; switching RTS and DTR off there is no failure.
    QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.texts().join(" | ")));
    QVERIFY(window.connected());
    QCOMPARE(window.text("StatusPanel1"), QString("COM4"));
    QCOMPARE(window.text("StatusPanel2"), QString("%1,N,8,1").arg(rate));
    QVERIFY(!deviceFree(sim.device()));

    // The line really runs at that rate: the module heard every command at it.
    const QList<TrafficLine> log = sim.log();
    QVERIFY(sim.commands().contains("FC Q"));
    QCOMPARE(ratesFrom(log, 0), QSet<int>{rate});
    for (const TrafficLine &line : log)
        QVERIFY2(line.note.isEmpty(), qPrintable(line.note));
}

void tst_Ports::reopensOpenPort_data()
{
    QTest::addColumn<int>("secondPort");
    QTest::addColumn<int>("secondRate");
    // Write moves the module to another rate: the port reopens there.
    QTest::newRow("same port, new rate") << 2 << 19200;
    // Close, then Open on another port.
    QTest::newRow("other port") << 3 << 9600;
}

void tst_Ports::reopensOpenPort()
{
    QFETCH(int, secondPort);
    QFETCH(int, secondRate);
    KavoSim other;
    QVERIFY(other.start({"--com", "3"}));
    WindowDriver window(m_window.get());

    MessageBoxes boxes;
    QVERIFY(openAt(window, "COM2", 9600));
    QVERIFY(window.connected());
    KavoSim &second = secondPort == 2 ? *m_sim : other;
    qsizetype reopened = 0;
    if (secondPort == 2) {
        QVERIFY(window.pick("lstKAVOBPS", QString::number(secondRate)));
        QVERIFY(window.click("cmdWriteSettings"));
        const QStringList commands = second.commands();
        reopened = commands.lastIndexOf(QRegularExpression("^ST D \\d$")) + 1;
        QVERIFY(reopened > 0);
    } else {
        QVERIFY(window.click("cmdOpenCOM"));
        QVERIFY(!window.connected());
        QVERIFY(listAgain(window));
        QVERIFY(openAt(window, "COM3", secondRate));
    }
    QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.texts().join(" | ")));
    QVERIFY(window.connected());
    QCOMPARE(window.text("StatusPanel1"), QString("COM%1").arg(secondPort));
    QCOMPARE(window.text("StatusPanel2"), QString("%1,N,8,1").arg(secondRate));

    // What goes over the line from now on goes at the new rate, to the second port.
    QVERIFY(window.click("cmdReadSettings"));
    QCOMPARE(window.status(), QString("All Settings Received"));
    const QList<TrafficLine> log = second.log();
    QVERIFY(log.size() > reopened);
    QCOMPARE(log.last().command, QString("ST U"));
    QCOMPARE(ratesFrom(log, reopened), QSet<int>{secondRate});
    if (secondPort != 2)
        QVERIFY(deviceFree(m_sim->device()));
}

// Whatever the port held before it was opened never reaches a reply: an earlier program
// asked for the version and went, and the module's answer was left on the line. The first
// probe of the next Open is answered cleanly.
void tst_Ports::staleBytesDropped()
{
    WindowDriver window(m_window.get());
    {
        QSerialPort earlier;
        earlier.setPortName(m_sim->device());
        QVERIFY(earlier.open(QIODevice::ReadWrite));
        earlier.setBaudRate(9600);
        earlier.write("V\r");
        QVERIFY(earlier.waitForBytesWritten(5000));
    }
    // The module answers into the closed port's input queue.
    QTRY_COMPARE_WITH_TIMEOUT(m_sim->commands(), QStringList({"V"}), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!m_sim->log().last().answer.isEmpty(), 10000);

    MessageBoxes boxes;
    QVERIFY(openAt(window, "COM2", 9600));
    QVERIFY(boxes.seen.isEmpty());
    QVERIFY(window.connected());
    QCOMPARE(window.text("lblVersion"), QString("Kavo v2.07KAV1 SN 00012345"));
    // One probe, the version and the card: no probe had to be asked again.
    const QStringList connectSequence = {"\\e", "", "\\e", "", "V", "FC Q"};
    QCOMPARE(m_sim->commands().mid(1, connectSequence.size()), connectSequence);
}

void tst_Ports::failure_data()
{
    // The port was chosen while it could be used; then it changed as `spoil` says, and Open
    // fails. %1 is the device the port had when it was chosen, %2 the one it has now.
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("spoil");
    QTest::addColumn<QString>("why");       // the box's text after "Com<n> is not available.\r\n"
    QTest::addColumn<QString>("listed");    // the entry's tool-tip when listed again; null: not listed
    QTest::newRow("no device") << 7 << "gone" << "COM7 no longer names a device (it named %1 when it was chosen)."
                               << QString();
    QTest::newRow("busy") << 5 << "held" << "COM5 is %1, which is in use by another program"
                          << "COM5 is %1, which is in use by another program";
    QTest::newRow("device gone") << 8 << "killed" << "COM8 is %1, which is missing: the link"
                                 << "COM8 is %1, which is missing: the link";
    QTest::newRow("plain file") << 9 << "file" << "COM9 now names %2, not %1 as when it was chosen"
                                << "COM9 is %2, which is not a serial device but a plain file.";
    QTest::newRow("folder") << 10 << "folder" << "COM10 now names %2, not %1 as when it was chosen"
                            << "COM10 is %2, which is a folder, not a serial device.";
    QTest::newRow("character device of another kind")
        << 11 << "null" << "COM11 now names %2, not %1 as when it was chosen"
        << "COM11 is %2, which is not a serial device but a character device of another kind.";
}

// A port that cannot be opened: one box that names the device behind the number and what
// is wrong with it; the port that was open before is closed and stays closed; listed
// again, the port is greyed out with the reason as its tool-tip.
void tst_Ports::failure()
{
    QFETCH(int, port);
    QFETCH(QString, spoil);
    QFETCH(QString, why);
    QFETCH(QString, listed);
    const QString com = QString("COM%1").arg(port);
    WindowDriver window(m_window.get());
    MessageBoxes boxes;
    QVERIFY(openAt(window, "COM2", 9600));
    QVERIFY(window.click("cmdOpenCOM"));
    QVERIFY(!window.connected());

    KavoSim sim;
    QVERIFY(sim.start({"--com", QString::number(port)}));
    const QString chosen = sim.device();
    QVERIFY(listAgain(window));
    QVERIFY(window.pick("lstPCCOM", com));

    QTemporaryDir dir;
    QString now = chosen;
    QSerialPort holder;
    std::unique_ptr<DeviceHold> number;
    const QString link = ComPorts::portsFolder() + "/" + com;
    if (spoil == "gone") {
        sim.terminate();
    } else if (spoil == "held") {
        holder.setPortName(chosen);
        QVERIFY(holder.open(QIODevice::ReadWrite));
    } else if (spoil == "killed") {
        // The device name stays ours: no other program gets it meanwhile.
        number = std::make_unique<DeviceHold>(chosen);
        QVERIFY(number->held());
        sim.kill();
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(chosen), 10000);
    } else {
        if (spoil == "file") {
            now = dir.filePath("plain");
            QFile file(now);
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else if (spoil == "folder") {
            now = dir.path();
        } else {
            now = "/dev/null";
        }
        QVERIFY(QFile::remove(link));
        QVERIFY(QFile::link(now, link));
    }

    boxes.clear();
    QVERIFY(window.click("cmdOpenCOM"));

    QCOMPARE(boxes.seen.size(), 1);
    const MessageBoxes::Seen &box = boxes.seen.first();
    QCOMPARE(box.title, QString("KavoConfig"));
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.icon, QMessageBox::NoIcon);
    const QString head = QString("Com%1 is not available.\r\n").arg(port);
    QVERIFY2(box.text.startsWith(head), qPrintable(box.text));
    const QString description = box.text.mid(head.size());
    QVERIFY2(description.startsWith(withDevices(why, chosen, now)), qPrintable(description));
    QVERIFY(!description.contains('\n'));
    QVERIFY(!window.connected());
    QCOMPARE(window.text("StatusPanel1"), QString());
    QCOMPARE(window.status(), com + " could not be opened");
    QVERIFY(deviceFree(m_sim->device()));

    QVERIFY(listAgain(window));
    const int entry = entryIndex(window, com);
    if (listed.isNull()) {
        QCOMPARE(entry, -1);
    } else {
        QVERIFY(entry >= 0);
        QVERIFY(!choosable(window, entry));
        const QString toolTip = window.find<QComboBox>("lstPCCOM")->itemData(entry, Qt::ToolTipRole).toString();
        QVERIFY2(toolTip.startsWith(withDevices(listed, chosen, now)), qPrintable(toolTip));
    }
    if (spoil != "gone" && spoil != "held")
        QFile::remove(link);
}

// Open uses the device the list named when the user chose the port; a number that has come
// to name another device is not opened until the user chooses it again from the list.
void tst_Ports::openUsesListedDevice()
{
    KavoSim other;
    QVERIFY(other.start({"--com", "3"}));
    WindowDriver window(m_window.get());
    QVERIFY(window.pick("lstPCCOM", "COM2"));
    const QString link = ComPorts::portsFolder() + "/COM2";
    QVERIFY(QFile::remove(link));
    QVERIFY(QFile::link(other.device(), link));

    MessageBoxes boxes;
    QVERIFY(window.click("cmdOpenCOM"));
    QVERIFY(!window.connected());
    QVERIFY(!boxes.seen.isEmpty());
    QVERIFY2(boxes.seen.first().text.startsWith(
                 QString("Com2 is not available.\r\nCOM2 now names %1, not %2").arg(other.device(), m_sim->device())),
             qPrintable(boxes.seen.first().text));
    QVERIFY(other.log().isEmpty());
    QVERIFY(m_sim->log().isEmpty());

    // Opened again, the list names the new device; chosen again, it opens.
    boxes.clear();
    QVERIFY(listAgain(window));
    QCOMPARE(window.value("lstPCCOM"), -1);
    QVERIFY(window.pick("lstPCCOM", "COM2"));
    QVERIFY(window.click("cmdOpenCOM"));
    QVERIFY(window.connected());
    QCOMPARE(window.text("StatusPanel1"), QString("COM2"));
    QVERIFY(boxes.seen.isEmpty());
    QVERIFY(other.commands().contains("FC Q"));
    QVERIFY(m_sim->log().isEmpty());
    QVERIFY(!deviceFree(other.device()));
    QVERIFY(window.click("cmdOpenCOM"));
    QFile::remove(link);
    QVERIFY(QFile::link(m_sim->device(), link));
}

// The reopen after a bit-rate change goes to the device that was open or nowhere.
void tst_Ports::reopenRefusesRepointedNumber()
{
    KavoSim other;
    QVERIFY(other.start({"--com", "3"}));
    WindowDriver window(m_window.get());
    QVERIFY(openAt(window, "COM2", 9600));
    QVERIFY(window.connected());
    QVERIFY(window.click("cmdReadSettings"));
    QVERIFY(window.pick("lstKAVOBPS", "57600"));
    const QString link = ComPorts::portsFolder() + "/COM2";
    QVERIFY(QFile::remove(link));
    QVERIFY(QFile::link(other.device(), link));

    MessageBoxes boxes;
    QVERIFY(window.click("cmdWriteSettings"));
    const QStringList texts = boxes.texts();
    QVERIFY2(texts.filter(QString("Com2 is not available.\r\nCOM2 now names %1, not %2").arg(other.device(), m_sim->device()))
                     .size() == 1,
             qPrintable(texts.join(" | ")));
    QVERIFY(!window.connected());
    QCOMPARE(window.text("StatusPanel1"), QString());
    QVERIFY(deviceFree(m_sim->device()));
    QVERIFY(other.log().isEmpty());
    QFile::remove(link);
    QVERIFY(QFile::link(m_sim->device(), link));
}

// The port is closed by Close, and again as the window goes: the second close finds
// nothing to do and says nothing.
void tst_Ports::closeTwice()
{
    WindowDriver window(m_window.get());
    MessageBoxes boxes;
    QVERIFY(openAt(window, "COM2", 9600));
    QVERIFY(window.connected());
    QVERIFY(!deviceFree(m_sim->device()));
    QVERIFY(window.click("cmdOpenCOM"));
    QVERIFY(!window.connected());
    QVERIFY(deviceFree(m_sim->device()));
    const qsizetype heard = m_sim->log().size();

    QVERIFY(window.trigger("mnuFileExit"));
    QVERIFY(!m_window->isVisible());
    m_window.reset();
    QVERIFY(boxes.seen.isEmpty());
    QVERIFY(deviceFree(m_sim->device()));
    QCOMPARE(m_sim->log().size(), heard);
}

void tst_Ports::vanishedDevice_data()
{
    QTest::addColumn<QString>("when");
    QTest::newRow("idle") << "idle";
    QTest::newRow("during a wait") << "wait";
    QTest::newRow("on a send") << "send";
}

// The device vanishes while the port is open: between operations, while an answer is
// awaited, or just as the user starts a Read. The window learns it at once, closes the
// port, says so on the status line, spends no time on the dead port, and opens the next
// module on that number.
void tst_Ports::vanishedDevice()
{
    QFETCH(QString, when);
    KavoSim sim;
    QVERIFY(sim.start(when == "wait" ? QStringList{"--com", "6", "--silent"} : QStringList{"--com", "6"}));
    const QString device = sim.device();
    const DeviceHold number(device);
    QVERIFY(number.held());
    WindowDriver window(m_window.get());
    QVERIFY(listAgain(window));
    MessageBoxes boxes;

    if (when == "wait") {
        QVERIFY(window.pick("lstPCCOM", "COM6"));
        QVERIFY(window.click("chkAutoBitRate"));
        QVERIFY(window.pick("lstPCBPS", "9600"));
        QTest::mouseClick(window.find<QPushButton>("cmdOpenCOM"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(sim.commands().size() >= 2, 10000);
        QVERIFY(window.busy());
        QElapsedTimer clock;
        clock.start();
        sim.kill();
        QVERIFY(window.waitIdle());
        // Ended by the loss, not by the 1000 ms of silence.
        QVERIFY2(clock.elapsed() < 900, qPrintable(QString::number(clock.elapsed())));
    } else {
        QVERIFY(openAt(window, "COM6", 9600));
        QVERIFY(window.connected());
        sim.kill();
        // The click comes before the window could have heard of the loss.
        if (when == "send")
            QTest::mouseClick(window.find<QPushButton>("cmdReadSettings"), Qt::LeftButton);
        QVERIFY(window.waitIdle());
    }
    QTRY_VERIFY_WITH_TIMEOUT(!window.connected(), 5000);
    QCOMPARE(window.status(),
             QString("COM6 (%1) was disconnected; the port is closed. Reconnect the module, then press Open.").arg(device));
    QCOMPARE(window.text("StatusPanel1"), QString());
    // What the window showed of the module stays on show, as after Close.
    if (when != "wait") {
        QCOMPARE(window.text("lblVersion"), QString("Kavo v2.07KAV1 SN 00012345"));
        QCOMPARE(window.text("outVolume"), QString("ST V 16"));
    }

    // No spinning on the dead port: a second of the event loop costs next to nothing. (A
    // measuring period, not a wait for the program.)
    const double before = cpuSeconds();
    QTest::qWait(1000);
    const double used = cpuSeconds() - before;
    QVERIFY2(used < 0.25, qPrintable(QString("%1 s of CPU in one second").arg(used)));

    // The window stays usable: nothing is running, Open works, and a new module answers.
    QVERIFY(boxes.seen.isEmpty());
    QVERIFY(!window.busy());
    QVERIFY(window.enabled("cmdOpenCOM"));
    KavoSim again;
    QVERIFY(again.start({"--com", "6", "--rate", "9600"}));
    QVERIFY(again.device() != device);
    QVERIFY(window.click("cmdOpenCOM"));
    QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.texts().join(" | ")));
    QVERIFY(window.connected());
    QVERIFY(again.commands().contains("FC Q"));
}

QTEST_MAIN(tst_Ports)
#include "tst_ports.moc"