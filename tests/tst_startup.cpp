// Start-up, the COM port list, the start-up timer, the status line, the About box, the
// logo link and shutdown.
#include <QAction>
#include <QComboBox>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QLabel>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "app/frmserialdata.h"
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
    QStringList entries;
    for (int i = 0; i < window.lstPCCOM->count(); ++i)
        entries << window.lstPCCOM->itemText(i);
    QCOMPARE(entries, QStringList({"COM2", "COM10"}));
    QCOMPARE(window.lstPCCOM->currentIndex(), -1);
    // Each entry's tool-tip names its device.
    QVERIFY(window.lstPCCOM->itemData(0, Qt::ToolTipRole).toString().endsWith("/COM2"));
    QVERIFY(window.lstPCCOM->itemData(1, Qt::ToolTipRole).toString().endsWith("/COM10"));

    // Every port is closed again: each one opens, and the busy one once it is freed.
    QVERIFY(!window.session->portOpen());
    holder.close();
    for (KavoSim *sim : {&com2, &com10, &busy}) {
        QSerialPort port;
        port.setPortName(sim->device());
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(sim->comName() + ": " + port.errorString()));
    }

    // Freed, COM5 is offered at the next start.
    frmSerialData next;
    QVERIFY(next.Form_Load());
    QCOMPARE(next.lstPCCOM->count(), 3);
    QCOMPARE(next.lstPCCOM->itemText(1), QString("COM5"));
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
