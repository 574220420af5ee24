// Opening and closing the COM port: line settings, failure messages, reopening, stale
// bytes, and a device that vanishes while the port is open.
#include <QAbstractItemView>
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

#include <sys/resource.h>

#include "app/frmserialdata.h"
#include "link/comports.h"
#include "support/kavosim.h"
#include "support/messageboxes.h"
#include "support/testenv.h"
#include "support/windowfixture.h"

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// True when another program could take the device now, i.e. we do not hold it.
bool deviceFree(const QString &device)
{
    QSerialPort port;
    port.setPortName(device);
    return port.open(QIODevice::ReadWrite);
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

void tst_Ports::opens()
{
    QFETCH(int, rate);
    m_sim = std::make_unique<KavoSim>();
    QVERIFY(m_sim->start({"--com", "4", "--rate", QString::number(rate)}));

    MessageBoxes boxes;
    QVERIFY(m_window->OpenComPort(4, rate));
    // A pseudo-terminal has no modem lines; switching RTS and DTR off there is no failure.
    QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.texts().join(" | ")));
    QVERIFY(m_window->session->portOpen());
    QCOMPARE(m_window->session->commPort(), 4);
    QCOMPARE(m_window->session->lineSettings(), QString("%1,N,8,1").arg(rate));
    QVERIFY(!deviceFree(m_sim->device()));

    // The line really runs at that rate: the module answers and logs the rate it saw.
    m_window->session->link().beginOperation();
    QVERIFY(m_window->session->link().ProbeDevice());
    const auto log = m_sim->log();
    QVERIFY(!log.isEmpty());
    QCOMPARE(log.last().rate, rate);
}

void tst_Ports::reopensOpenPort_data()
{
    QTest::addColumn<int>("secondPort");
    QTest::addColumn<int>("secondRate");
    QTest::newRow("same port, new rate") << 2 << 19200;
    QTest::newRow("other port") << 3 << 9600;
}

void tst_Ports::reopensOpenPort()
{
    QFETCH(int, secondPort);
    QFETCH(int, secondRate);
    KavoSim other;
    QVERIFY(other.start({"--com", "3"}));

    MessageBoxes boxes;
    QVERIFY(m_window->OpenComPort(2, 9600));
    QVERIFY(m_window->OpenComPort(secondPort, secondRate));
    QVERIFY(boxes.seen.isEmpty());
    QCOMPARE(m_window->session->commPort(), secondPort);
    QCOMPARE(m_window->session->lineSettings(), QString("%1,N,8,1").arg(secondRate));

    KavoSim &second = secondPort == 2 ? *m_sim : other;
    m_window->session->link().beginOperation();
    m_window->session->link().SendAndWait("V");
    QCOMPARE(second.log().last().rate, secondRate);
    if (secondPort != 2)
        QVERIFY(deviceFree(m_sim->device()));
}

// Whatever the port held before it was opened never reaches a reply.
void tst_Ports::staleBytesDropped()
{
    KavoLink *link = &m_window->session->link();
    QVERIFY(m_window->OpenComPort(2, 9600));
    link->beginOperation();
    link->SendText("V\r");
    m_window->CloseComPort();
    // The module answers into the closed port's input queue.
    QTRY_COMPARE_WITH_TIMEOUT(m_sim->commands(), QStringList({"V"}), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!m_sim->log().last().answer.isEmpty(), 10000);

    QVERIFY(m_window->OpenComPort(2, 9600));
    const Reply reply = link->WaitForPrompt();
    QCOMPARE(reply.text, QByteArray());
    QVERIFY(reply.timedOut());
}

void tst_Ports::failure_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("why");   // after "COMn is <device>, " where there is a device
    QTest::newRow("no device") << 7 << "There is no device for COM7.";
    QTest::newRow("busy") << 5 << "which is in use by another program";
    QTest::newRow("device gone") << 8 << "which is missing: the link";
    QTest::newRow("plain file") << 9 << "which is not a serial device but a plain file.";
    QTest::newRow("folder") << 10 << "which is a folder, not a serial device.";
    QTest::newRow("character device of another kind") << 11 << "which is not a serial device but a character device";
}

void tst_Ports::failure()
{
    QFETCH(int, port);
    QFETCH(QString, why);

    KavoSim busy;
    QVERIFY(busy.start({"--com", "5"}));
    QSerialPort holder;
    holder.setPortName(busy.device());
    QVERIFY(holder.open(QIODevice::ReadWrite));
    QTemporaryDir dir;
    const QString plain = dir.filePath("plain");
    QFile file(plain);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const QMap<int, QString> devices{{5, busy.device()},
                                     {8, QDir::temp().filePath("kavo-no-such-device")},
                                     {9, plain},
                                     {10, dir.path()},
                                     {11, "/dev/null"}};
    const QDir ports(ComPorts::portsFolder());
    for (int n : {8, 9, 10, 11}) {
        QFile::remove(ports.filePath(QString("COM%1").arg(n)));
        QVERIFY(QFile::link(devices.value(n), ports.filePath(QString("COM%1").arg(n))));
    }

    // An open port is closed first, and stays closed when the new one fails.
    QVERIFY(m_window->OpenComPort(2, 9600));
    MessageBoxes boxes;
    QVERIFY(!m_window->OpenComPort(port, 9600));
    for (int n : {8, 9, 10, 11})
        QFile::remove(ports.filePath(QString("COM%1").arg(n)));

    QCOMPARE(boxes.seen.size(), 1);
    const MessageBoxes::Seen &box = boxes.seen.first();
    QCOMPARE(box.title, QString("KavoConfig"));
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.icon, QMessageBox::NoIcon);
    const QString head = QString("Com%1 is not available.\r\n").arg(port);
    QVERIFY2(box.text.startsWith(head), qPrintable(box.text));
    const QString description = box.text.mid(head.size());
    // The description names the device behind the number and what it is.
    const QString expected = devices.contains(port) ? QString("COM%1 is %2, %3").arg(port).arg(devices.value(port), why) : why;
    QVERIFY2(description.startsWith(expected), qPrintable(description));
    QVERIFY(!description.contains('\n'));

    QVERIFY(!m_window->session->portOpen());
    QVERIFY(deviceFree(m_sim->device()));
    QCOMPARE(m_window->session->commPort(), port);
}

namespace {
bool connectWindow(frmSerialData *w, const QString &com)
{
    if (!selectEntry(w->lstPCCOM, com))
        return false;
    QTest::mouseClick(w->cmdOpenCOM, Qt::LeftButton);
    return w->connected() && w->session->portOpen();
}
} // namespace

// Open uses the device the list named when the user chose the port; a number that has come
// to name another device is not opened until the user chooses it again from the list.
void tst_Ports::openUsesListedDevice()
{
    KavoSim other;
    QVERIFY(other.start({"--com", "3"}));
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QVERIFY(selectEntry(m_window->lstPCCOM, "COM2"));
    const QString link = ComPorts::portsFolder() + "/COM2";
    QVERIFY(QFile::remove(link));
    QVERIFY(QFile::link(other.device(), link));

    MessageBoxes boxes;
    QTest::mouseClick(m_window->cmdOpenCOM, Qt::LeftButton);
    QVERIFY(!m_window->connected());
    QVERIFY(!boxes.seen.isEmpty());
    QVERIFY2(boxes.seen.first().text.startsWith(
                 QString("Com2 is not available.\r\nCOM2 now names %1, not %2").arg(other.device(), m_sim->device())),
             qPrintable(boxes.seen.first().text));
    QVERIFY(other.log().isEmpty());

    // Opened again, the list names the new device; chosen again, it opens.
    boxes.clear();
    QTest::mouseClick(m_window->lstPCCOM, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(m_window->lstPCCOM->view()->isVisible(), 10000);
    m_window->lstPCCOM->hidePopup();
    QCOMPARE(m_window->lstPCCOM->currentIndex(), -1);
    QVERIFY(connectWindow(m_window.get(), "COM2"));
    QCOMPARE(m_window->session->link().devicePath(), other.device());
    QVERIFY(boxes.seen.isEmpty());
    QVERIFY(!other.log().isEmpty());
    m_window->cmdOpenCOM->click();
    QFile::remove(link);
    QVERIFY(QFile::link(m_sim->device(), link));
}

// The reopen after a bit-rate change goes to the device that was open or nowhere.
void tst_Ports::reopenRefusesRepointedNumber()
{
    KavoSim other;
    QVERIFY(other.start({"--com", "3"}));
    QVERIFY(connectWindow(m_window.get(), "COM2"));
    QTest::mouseClick(m_window->cmdReadSettings, Qt::LeftButton);
    QVERIFY(selectEntry(m_window->lstKAVOBPS, "57600"));
    const QString link = ComPorts::portsFolder() + "/COM2";
    QVERIFY(QFile::remove(link));
    QVERIFY(QFile::link(other.device(), link));

    MessageBoxes boxes;
    QTest::mouseClick(m_window->cmdWriteSettings, Qt::LeftButton);
    const QStringList texts = boxes.texts();
    QVERIFY2(texts.filter(QString("Com2 is not available.\r\nCOM2 now names %1, not %2").arg(other.device(), m_sim->device()))
                     .size() == 1,
             qPrintable(texts.join(" | ")));
    QVERIFY(!m_window->session->portOpen());
    QVERIFY(!m_window->connected());
    QVERIFY(other.log().isEmpty());
    QFile::remove(link);
    QVERIFY(QFile::link(m_sim->device(), link));
}

void tst_Ports::closeTwice()
{
    MessageBoxes boxes;
    m_window->CloseComPort();
    QVERIFY(m_window->OpenComPort(2, 9600));
    m_window->CloseComPort();
    m_window->CloseComPort();
    QVERIFY(!m_window->session->portOpen());
    QVERIFY(boxes.seen.isEmpty());
    QVERIFY(deviceFree(m_sim->device()));
}

void tst_Ports::vanishedDevice_data()
{
    QTest::addColumn<QString>("when");
    QTest::newRow("idle") << "idle";
    QTest::newRow("during a wait") << "wait";
    QTest::newRow("on a send") << "send";
}

void tst_Ports::vanishedDevice()
{
    QFETCH(QString, when);
    m_sim = std::make_unique<KavoSim>();
    QVERIFY(m_sim->start({"--com", "6", "--silent"}));
    QVERIFY(m_window->OpenComPort(6, 9600));
    KavoLink *link = &m_window->session->link();
    MessageBoxes boxes;

    if (when == "wait") {
        OperationGuard operation(m_window.get());
        QVERIFY(operation.acquired());
        link->SendText("V\r");
        QTimer::singleShot(100, [this] { m_sim->kill(); });
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(link->WaitForPrompt().text, QByteArray());
        // Ended by the loss, not by the 1000 ms of silence.
        QVERIFY2(clock.elapsed() < 900, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(link->operationAborted());
        // The rest of the operation sends and waits for nothing.
        QCOMPARE(link->WaitForPrompt().text, QByteArray());
        QVERIFY(!link->ProbeDevice());
    } else if (when == "send") {
        m_sim->kill();
        // The send finds the line gone before any event could tell.
        link->beginOperation();
        link->SendText("V\r");
        QVERIFY(!link->portOpen());
        QVERIFY(link->operationAborted());
    } else {
        m_sim->kill();
    }
    QTRY_VERIFY_WITH_TIMEOUT(!link->portOpen(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(m_window->StatusPanel[2]->text().contains("COM6"), 10000);
    QVERIFY(m_window->StatusPanel[0]->text().isEmpty());

    // No spinning on the dead port: a second of the event loop costs next to nothing.
    const double before = cpuSeconds();
    QTest::qWait(1000);
    const double used = cpuSeconds() - before;
    QVERIFY2(used < 0.25, qPrintable(QString("%1 s of CPU in one second").arg(used)));

    // The window stays usable: nothing is running, Open works, and a new module answers.
    QVERIFY(boxes.seen.isEmpty());
    QVERIFY(!m_window->operationRunning());
    QVERIFY(m_window->cmdOpenCOM->isEnabled());
    KavoSim again;
    QVERIFY(again.start({"--com", "6"}));
    QVERIFY(m_window->OpenComPort(6, 9600));
    link->beginOperation();
    QVERIFY(link->ProbeDevice());
}

QTEST_MAIN(tst_Ports)
#include "tst_ports.moc"
