// Start-up, the COM port list, the start-up timer, the status line, the About box, the
// logo link and shutdown.
#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QSerialPort>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "app/frmserialdata.h"
#include "link/comports.h"
#include "support/kavosim.h"
#include "support/messageboxes.h"
#include "support/testenv.h"
#include "support/windowfixture.h"

// Takes the place of the desktop's web browser.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

class tst_Startup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void noPortAtAll();
    void listsPortsInOrder();
    void startupBoxTellsWhy_data();
    void startupBoxTellsWhy();
    void listedAgainWhenOpened_data();
    void listedAgainWhenOpened();
    void chosenPortChanged_data();
    void chosenPortChanged();
    void rememberedNumbers();
    void startSequence();
    void statusLine();
    void aboutBox_data();
    void aboutBox();
    void logoOpensMakerAddress();
    void unloadClosesPort_data();
    void unloadClosesPort();
};

void tst_Startup::initTestCase()
{
    TestEnv::isolate();
}

void tst_Startup::noPortAtAll()
{
    MessageBoxes boxes;
    frmSerialData window;
    QVERIFY(!window.Form_Load());
    QCOMPARE(boxes.seen.size(), 1);
    const MessageBoxes::Seen &box = boxes.seen.first();
    QCOMPARE(box.title, QString("Commx"));
    QCOMPARE(box.text, QString("There are no available comm ports on this computer."));
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.icon, QMessageBox::NoIcon);
    QVERIFY(!window.isVisible());
    QVERIFY(!window.tmrStartSeq->isActive());
    QCOMPARE(window.lstPCCOM->count(), 0);
}

namespace {
QStringList entries(const QComboBox *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->itemText(i);
    return texts;
}

bool choosable(const QComboBox *list, int i)
{
    const auto flags = list->model()->flags(list->model()->index(i, 0));
    return flags.testFlag(Qt::ItemIsEnabled) && flags.testFlag(Qt::ItemIsSelectable);
}

QString toolTip(const QComboBox *list, int i)
{
    return list->itemData(i, Qt::ToolTipRole).toString();
}
} // namespace

void tst_Startup::listsPortsInOrder()
{
    KavoSim com10, com2, busy;
    QVERIFY(com10.start({"--com", "10"}));
    QVERIFY(com2.start({"--com", "2"}));
    QVERIFY(busy.start({"--com", "5"}));

    // Another program holds COM5.
    QSerialPort holder;
    holder.setPortName(busy.device());
    QVERIFY2(holder.open(QIODevice::ReadWrite), qPrintable(holder.errorString()));

    MessageBoxes boxes;
    frmSerialData window;
    QVERIFY(window.Form_Load());
    QVERIFY(boxes.seen.isEmpty());
    QCOMPARE(entries(window.lstPCCOM), QStringList({"COM2", "COM5", "COM10"}));
    QCOMPARE(window.lstPCCOM->currentIndex(), -1);
    // Each entry's tool-tip names its device; the busy port is there, but cannot be chosen,
    // and its tool-tip says why.
    QCOMPARE(toolTip(window.lstPCCOM, 0), QString("%1 (through the link %2/COM2)").arg(com2.device(), ComPorts::portsFolder()));
    QCOMPARE(toolTip(window.lstPCCOM, 2), QString("%1 (through the link %2/COM10)").arg(com10.device(), ComPorts::portsFolder()));
    QVERIFY(choosable(window.lstPCCOM, 0));
    QVERIFY(!choosable(window.lstPCCOM, 1));
    QVERIFY(choosable(window.lstPCCOM, 2));
    QVERIFY2(toolTip(window.lstPCCOM, 1).startsWith(
                 QString("COM5 is %1, which is in use by another program").arg(busy.device())),
             qPrintable(toolTip(window.lstPCCOM, 1)));
    // Moving through the list passes over it.
    window.show();
    window.lstPCCOM->setCurrentIndex(0);
    QTest::keyClick(window.lstPCCOM, Qt::Key_Down);
    QCOMPARE(window.lstPCCOM->currentText(), QString("COM10"));

    // Every port is closed again: each one opens, and the busy one once it is freed.
    QVERIFY(!window.session->portOpen());
    holder.close();
    for (KavoSim *sim : {&com2, &com10, &busy}) {
        QSerialPort port;
        port.setPortName(sim->device());
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(sim->comName() + ": " + port.errorString()));
    }

    // Freed, COM5 can be chosen at the next start.
    frmSerialData next;
    QVERIFY(next.Form_Load());
    QCOMPARE(entries(next.lstPCCOM), QStringList({"COM2", "COM5", "COM10"}));
    QVERIFY(choosable(next.lstPCCOM, 1));
}

// No port can be opened, but some exist: the start-up box says which and why.
void tst_Startup::startupBoxTellsWhy_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("said");   // the second line, after "COM5 is <device>, "
    QTest::newRow("in use") << "busy" << "which is in use by another program";
    QTest::newRow("not a serial device") << "file" << "which is not a serial device but a plain file";
    QTest::newRow("a folder") << "folder" << "which is a folder, not a serial device";
    QTest::newRow("missing") << "missing" << "which is missing: the link";
    QTest::newRow("ports folder refused") << "refused" << "";
}

void tst_Startup::startupBoxTellsWhy()
{
    QFETCH(QString, kind);
    QFETCH(QString, said);
    const QString ports = ComPorts::portsFolder();
    const QString link = ports + "/COM5";
    QTemporaryDir dir;
    KavoSim sim;
    QSerialPort holder;
    QString device;
    if (kind == "busy" || kind == "refused") {
        QVERIFY(sim.start({"--com", "5"}));
        device = sim.device();
    }
    if (kind == "busy") {
        holder.setPortName(device);
        QVERIFY(holder.open(QIODevice::ReadWrite));
    } else if (kind == "missing") {
        // As a killed simulator leaves it, but pointing at a path no other program can get
        // meanwhile (a freed pseudo-terminal number soon names someone else's device).
        device = dir.filePath("vanished-device");
        QVERIFY(QFile::link(device, link));
    } else if (kind == "file" || kind == "folder") {
        device = dir.filePath(kind);
        if (kind == "file") {
            QFile file(device);
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else {
            QVERIFY(QDir().mkpath(device));
        }
        QVERIFY(QFile::link(device, link));
    } else if (kind == "refused") {
        QVERIFY(QFile::setPermissions(ports, QFileDevice::Permissions(0x7777)));
    }

    MessageBoxes boxes;
    frmSerialData window;
    const bool loaded = window.Form_Load();
    QFile::setPermissions(ports, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (kind != "busy")
        QFile::remove(link);
    QVERIFY(!loaded);
    QCOMPARE(boxes.seen.size(), 1);
    const MessageBoxes::Seen &box = boxes.seen.first();
    QCOMPARE(box.title, QString("Commx"));
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    const QStringList lines = box.text.split("\r\n");
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0], QString("There are no available comm ports on this computer."));
    if (kind == "refused") {
        QVERIFY2(lines[1].startsWith(QString("The ports folder %1 is not used").arg(ports)), qPrintable(lines[1]));
        QVERIFY2(lines[1].contains("chmod 700"), qPrintable(lines[1]));
    } else {
        QVERIFY2(lines[1].startsWith(QString("COM5 is %1, %2").arg(device, said)), qPrintable(lines[1]));
    }
    QVERIFY(!window.isVisible());
}

// The list is listed again each time it is opened: a simulator started later, a port that
// became free appear; the chosen port stays chosen.
void tst_Startup::listedAgainWhenOpened_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("click") << "click";
    QTest::newRow("F4") << "F4";
    QTest::newRow("Alt+Down") << "Alt+Down";
    QTest::newRow("Space") << "Space";
}

void tst_Startup::listedAgainWhenOpened()
{
    QFETCH(QString, how);
    KavoSim com2, busy;
    QVERIFY(com2.start({"--com", "2"}));
    QVERIFY(busy.start({"--com", "5"}));
    auto holder = std::make_unique<QSerialPort>();
    holder->setPortName(busy.device());
    QVERIFY(holder->open(QIODevice::ReadWrite));
    auto window = openWindow();
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QComboBox *list = window->lstPCCOM;
    QCOMPARE(entries(list), QStringList({"COM2", "COM5"}));
    QVERIFY(selectEntry(list, "COM2"));

    KavoSim later;
    QVERIFY(later.start({"--com", "4"}));
    holder.reset();

    if (how == "click")
        QTest::mouseClick(list, Qt::LeftButton);
    else if (how == "F4")
        QTest::keyClick(list, Qt::Key_F4);
    else if (how == "Alt+Down")
        QTest::keyClick(list, Qt::Key_Down, Qt::AltModifier);
    else
        QTest::keyClick(list, Qt::Key_Space);
    QTRY_VERIFY_WITH_TIMEOUT(list->view()->isVisible(), 10000);
    QCOMPARE(entries(list), QStringList({"COM2", "COM4", "COM5"}));
    QVERIFY(choosable(list, 1));
    QVERIFY(choosable(list, 2));
    QCOMPARE(list->currentText(), QString("COM2"));
    list->hidePopup();
    QCOMPARE(list->currentText(), QString("COM2"));

    // The new port opens and has a module.
    QVERIFY(selectEntry(list, "COM4"));
    QVERIFY(window->OpenComPort(4, 9600));
    window->session->link().beginOperation();
    QVERIFY(window->session->link().ProbeDevice());
    window->CloseComPort();
}

// The chosen port is gone, or its number names another device: the choice goes, and the
// status line says why.
void tst_Startup::chosenPortChanged_data()
{
    QTest::addColumn<bool>("repointed");
    QTest::newRow("gone") << false;
    QTest::newRow("another device") << true;
}

void tst_Startup::chosenPortChanged()
{
    QFETCH(bool, repointed);
    KavoSim com1;
    auto com2 = std::make_unique<KavoSim>();
    QVERIFY(com1.start({"--com", "1"}));
    QVERIFY(com2->start({"--com", "2"}));
    const QString before = com2->device();
    auto window = openWindow();
    QVERIFY(window);
    QVERIFY(selectEntry(window->lstPCCOM, "COM2"));
    const QString link = ComPorts::portsFolder() + "/COM2";
    if (repointed) {
        QVERIFY(QFile::remove(link));
        QVERIFY(QFile::link(com1.device(), link));
    } else {
        com2.reset();
    }

    QTest::mouseClick(window->lstPCCOM, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(window->lstPCCOM->view()->isVisible(), 10000);
    window->lstPCCOM->hidePopup();
    QCOMPARE(window->lstPCCOM->currentIndex(), -1);
    QCOMPARE(entries(window->lstPCCOM), repointed ? QStringList({"COM1", "COM2"}) : QStringList({"COM1"}));
    const QString expected = repointed ? QString("COM2 now names %1, not %2: choose it again to use it.").arg(com1.device(), before)
                                       : QString("COM2 (%1) is gone.").arg(before);
    QTRY_COMPARE_WITH_TIMEOUT(window->StatusPanel[2]->text(), expected, 10000);
    QFile::remove(link);
}

// The window shows the numbers the system's ports keep.
void tst_Startup::rememberedNumbers()
{
    {
        QSettings settings;
        settings.setValue("ComNumbers/COM9", "serial:KV42");
    }
    ComPorts::setSystemPortsSource([] {
        return QList<ComPorts::SystemPort>{{"/dev/kavotest-ttyA", ""}, {"/dev/kavotest-ttyB", "KV42"}};
    });
    KavoSim com1;
    QVERIFY(com1.start({"--com", "1"}));
    auto window = openWindow();
    ComPorts::setSystemPortsSource([] { return QList<ComPorts::SystemPort>(); });
    QSettings().remove("ComNumbers");
    QVERIFY(window);
    QCOMPARE(entries(window->lstPCCOM), QStringList({"COM1", "COM2", "COM9"}));
    QVERIFY2(toolTip(window->lstPCCOM, 1).startsWith("COM2 is /dev/kavotest-ttyA, which is missing"),
             qPrintable(toolTip(window->lstPCCOM, 1)));
    QVERIFY2(toolTip(window->lstPCCOM, 2).startsWith("COM9 is /dev/kavotest-ttyB, which is missing"),
             qPrintable(toolTip(window->lstPCCOM, 2)));
}

void tst_Startup::startSequence()
{
    KavoSim sim;
    QVERIFY(sim.start());
    frmSerialData window;
    QSignalSpy ticks(window.tmrStartSeq, &QTimer::timeout);
    QCOMPARE(window.StartSeqStep, qint16(0));
    QVERIFY(window.Form_Load());
    QCOMPARE(window.StartSeqStep, qint16(1));
    QVERIFY(window.tmrStartSeq->isActive());
    QCOMPARE(window.tmrStartSeq->interval(), 300);
    window.show();
    QTRY_VERIFY_WITH_TIMEOUT(!window.tmrStartSeq->isActive(), 10000);
    QCOMPARE(ticks.count(), 4);
    QCOMPARE(window.StartSeqStep, qint16(5));
    // It never runs again: wait on a later timer of our own and look once more.
    QTimer later;
    later.setSingleShot(true);
    later.start(700);
    QTRY_VERIFY_WITH_TIMEOUT(!later.isActive(), 10000);
    QCOMPARE(ticks.count(), 4);
    QCOMPARE(window.StartSeqStep, qint16(5));
}

void tst_Startup::statusLine()
{
    KavoSim sim;
    QVERIFY(sim.start({"--com", "3", "--rate", "19200"}));
    auto window = openWindow();
    QVERIFY(window);
    QLabel **panel = window->StatusPanel;

    window->ShowStatus("Nothing open");
    QCOMPARE(panel[0]->text(), QString());
    QCOMPARE(panel[1]->text(), QString());
    QCOMPARE(panel[2]->text(), QString("Nothing open"));

    QVERIFY(window->OpenComPort(3, 19200));
    window->ShowStatus("Searching for Kavo at 19200 bps");
    QCOMPARE(panel[0]->text(), QString("COM3"));
    QCOMPARE(panel[1]->text(), QString("19200,N,8,1"));
    QCOMPARE(panel[2]->text(), QString("Searching for Kavo at 19200 bps"));

    // Pending events run before ShowStatus returns.
    bool ran = false;
    QTimer::singleShot(0, window.get(), [&ran] { ran = true; });
    window->ShowStatus("<b>closed</b> soon");
    QVERIFY(ran);
    QCOMPARE(panel[2]->text(), QString("<b>closed</b> soon"));

    window->CloseComPort();
    window->ShowStatus("Connection Closed");
    QCOMPARE(panel[0]->text(), QString());
    QCOMPARE(panel[1]->text(), QString());
    QCOMPARE(panel[2]->text(), QString("Connection Closed"));
}

void tst_Startup::aboutBox_data()
{
    QTest::addColumn<bool>("portOpen");
    QTest::newRow("no port open") << false;
    QTest::newRow("port open") << true;
}

void tst_Startup::aboutBox()
{
    QFETCH(bool, portOpen);
    KavoSim sim;
    QVERIFY(sim.start());
    auto window = openWindow();
    QVERIFY(window);
    if (portOpen)
        QVERIFY(window->OpenComPort(sim.com(), 9600));

    MessageBoxes boxes;
    window->mnuAbout->trigger();
    QCOMPARE(boxes.seen.size(), 1);
    const MessageBoxes::Seen &box = boxes.seen.first();
    QCOMPARE(box.title, QString("KavoConfig"));
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.icon, QMessageBox::NoIcon);
    QCOMPARE(box.format, Qt::PlainText);
    const QStringList lines = box.text.split("\r\n");
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[0], QString("Kavo Configuration Tool"));
    QCOMPARE(lines[1], QString("Version 1.0"));
    QCOMPARE(lines[2], QString("August 25, 2005"));
    QVERIFY(lines[3].contains("Kavo"));
    QVERIFY(!lines[3].contains('\n') && !lines[3].contains('\r'));
    QCOMPARE(window->session->portOpen(), portOpen);
}

void tst_Startup::logoOpensMakerAddress()
{
    KavoSim sim;
    QVERIFY(sim.start());
    auto window = openWindow();
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));

    UrlCatcher browser;
    QDesktopServices::setUrlHandler("https", &browser, "open");
    QDesktopServices::setUrlHandler("http", &browser, "open");
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(window->Picture1, Qt::LeftButton, {}, window->Picture1->rect().center());
    // Handed over, not waited for.
    QVERIFY(clock.elapsed() < 2000);
    QDesktopServices::unsetUrlHandler("https");
    QDesktopServices::unsetUrlHandler("http");

    QCOMPARE(browser.opened.size(), 1);
    const QUrl address = browser.opened.first();
    QCOMPARE(address.scheme(), QString("https"));
    QVERIFY(address.host().contains("kavo"));
    QVERIFY(window->isVisible());
}

void tst_Startup::unloadClosesPort_data()
{
    QTest::addColumn<bool>("viaMenu");
    QTest::newRow("File > Exit") << true;
    QTest::newRow("close box") << false;
}

void tst_Startup::unloadClosesPort()
{
    QFETCH(bool, viaMenu);
    KavoSim sim;
    QVERIFY(sim.start());
    auto window = openWindow();
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QVERIFY(window->OpenComPort(sim.com(), 9600));

    MessageBoxes boxes;
    if (viaMenu)
        window->mnuFileExit->trigger();
    else
        QVERIFY(window->close());   // what the title bar's close box does
    QVERIFY(!window->isVisible());
    QVERIFY(!window->session->portOpen());
    QVERIFY(boxes.seen.isEmpty());

    // The device is free again.
    QSerialPort port;
    port.setPortName(sim.device());
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
}

QTEST_MAIN(tst_Startup)
#include "tst_startup.moc"
