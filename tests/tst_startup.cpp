// Start-up, the COM port list, the start-up timer, the status line, the About box, the
// logo link and shutdown.
#include <QAbstractItemView>
#include <QApplication>
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
#include <algorithm>

#include <sys/inotify.h>
#include <unistd.h>

#include "app/frmserialdata.h"
#include "link/comports.h"
#include "support/devicehold.h"
#include "support/kavosim.h"
#include "support/messageboxes.h"
#include "support/testenv.h"
#include "support/windowdriver.h"
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

QComboBox *portList(const QWidget *window)
{
    return window->findChild<QComboBox *>("lstPCCOM");
}

// Every state of the status line's three panels ("port|line|message"), in order. Sampled
// before each event the application handles: every change the window makes happens while
// it handles one event, so none goes unseen.
class StatusPanels : public QObject
{
public:
    explicit StatusPanels(const WindowDriver &window)
    {
        for (const char *name : {"StatusPanel1", "StatusPanel2", "StatusPanel3"})
            m_panels << window.find<QLabel>(name);
        qApp->installEventFilter(this);
        sample();
    }
    ~StatusPanels() override { qApp->removeEventFilter(this); }
    QStringList texts()
    {
        sample();
        return m_texts;
    }

protected:
    bool eventFilter(QObject *, QEvent *) override
    {
        sample();
        return false;
    }

private:
    void sample()
    {
        QStringList parts;
        for (const QLabel *panel : std::as_const(m_panels))
            parts << panel->text();
        const QString text = parts.join('|');
        if (m_texts.isEmpty() || m_texts.last() != text)
            m_texts << text;
    }
    QList<QLabel *> m_panels;
    QStringList m_texts;
};

// Counts the times any program opens the watched devices (the system tells every open).
class OpenWatch
{
public:
    explicit OpenWatch(const QStringList &devices) : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        for (const QString &device : devices)
            m_watches[inotify_add_watch(m_fd, QFile::encodeName(device).constData(), IN_OPEN)] = device;
    }
    ~OpenWatch() { ::close(m_fd); }
    bool valid() const { return m_fd >= 0 && !m_watches.contains(-1); }
    // The devices opened since the last call, once per open.
    QStringList opened()
    {
        QStringList devices;
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            for (ssize_t at = 0; at < n;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
                if (event->mask & IN_OPEN)
                    devices << m_watches.value(event->wd);
                at += ssize_t(sizeof(inotify_event)) + event->len;
            }
        }
        return devices;
    }

private:
    int m_fd;
    QHash<int, QString> m_watches;
};

// No message box of the program is up any more.
bool noBoxShown()
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    return std::none_of(windows.begin(), windows.end(),
                        [](const QWidget *w) { return qobject_cast<const QMessageBox *>(w) && w->isVisible(); });
}

} // namespace

void tst_Startup::noPortAtAll()
{
    MessageBoxes boxes;
    frmSerialData window;
    QVERIFY(!window.Form_Load());
    QTRY_COMPARE_WITH_TIMEOUT(boxes.seen.size(), 1, 10000);
    const MessageBoxes::Seen &box = boxes.seen.first();
    QCOMPARE(box.title, QString("Commx"));
    QCOMPARE(box.text, QString("There are no available comm ports on this computer."));
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.icon, QMessageBox::NoIcon);
    QVERIFY(!window.isVisible());
    const auto *timer = window.findChild<QTimer *>("tmrStartSeq");
    QVERIFY(timer);
    QVERIFY(!timer->isActive());
    QCOMPARE(portList(&window)->count(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(noBoxShown(), 10000);
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
    OpenWatch watch({com2.device(), com10.device()});
    QVERIFY(watch.valid());
    frmSerialData window;
    QVERIFY(window.Form_Load());
    QVERIFY(boxes.seen.isEmpty());
    // At start-up each port is opened once to see whether it can be used.
    const QStringList opened = watch.opened();
    QVERIFY2(opened.contains(com2.device()) && opened.contains(com10.device()), qPrintable(opened.join(' ')));
    QComboBox *list = portList(&window);
    QCOMPARE(entries(list), QStringList({"COM2", "COM5", "COM10"}));
    QCOMPARE(list->currentIndex(), -1);
    // Each entry's tool-tip names its device; the busy port is there, but cannot be chosen,
    // and its tool-tip says why.
    QCOMPARE(toolTip(list, 0), QString("%1 (through the link %2/COM2)").arg(com2.device(), ComPorts::portsFolder()));
    QCOMPARE(toolTip(list, 2), QString("%1 (through the link %2/COM10)").arg(com10.device(), ComPorts::portsFolder()));
    QVERIFY(choosable(list, 0));
    QVERIFY(!choosable(list, 1));
    QVERIFY(choosable(list, 2));
    QVERIFY2(toolTip(list, 1).startsWith(QString("COM5 is %1, which is in use by another program").arg(busy.device())),
             qPrintable(toolTip(list, 1)));
    // Moving through the list passes over it.
    window.show();
    QVERIFY(WindowDriver(&window).pick("lstPCCOM", "COM2"));
    QTest::keyClick(list, Qt::Key_Down);
    QCOMPARE(list->currentText(), QString("COM10"));

    // Every port is closed again: each one opens, and the busy one once it is freed.
    holder.close();
    for (KavoSim *sim : {&com2, &com10, &busy}) {
        QSerialPort port;
        port.setPortName(sim->device());
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(sim->comName() + ": " + port.errorString()));
    }

    // Freed, COM5 can be chosen at the next start.
    frmSerialData next;
    QVERIFY(next.Form_Load());
    QCOMPARE(entries(portList(&next)), QStringList({"COM2", "COM5", "COM10"}));
    QVERIFY(choosable(portList(&next), 1));
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
    QTRY_COMPARE_WITH_TIMEOUT(boxes.seen.size(), 1, 10000);
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
    QTRY_VERIFY_WITH_TIMEOUT(noBoxShown(), 10000);
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
    WindowDriver driver(window.get());
    QComboBox *list = portList(window.get());
    QCOMPARE(entries(list), QStringList({"COM2", "COM5"}));
    QVERIFY(driver.pick("lstPCCOM", "COM2"));

    KavoSim later;
    QVERIFY(later.start({"--com", "4"}));
    holder.reset();
    OpenWatch watch({com2.device(), busy.device(), later.device()});
    QVERIFY(watch.valid());

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

    // Listed again, no port was opened.
    QCOMPARE(watch.opened(), QStringList());

    // The new port opens and has a module.
    MessageBoxes boxes;
    QVERIFY(driver.pick("lstPCCOM", "COM4"));
    QVERIFY(driver.click("cmdOpenCOM"));
    QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.texts().join(" | ")));
    QVERIFY(driver.connected());
    QCOMPARE(driver.text("StatusPanel1"), QString("COM4"));
    QVERIFY(later.commands().contains("FC Q"));
    QVERIFY(watch.opened().contains(later.device()));
    QVERIFY(driver.click("cmdOpenCOM"));
    QVERIFY(!driver.connected());
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
    WindowDriver driver(window.get());
    QVERIFY(driver.pick("lstPCCOM", "COM2"));
    const QString link = ComPorts::portsFolder() + "/COM2";
    if (repointed) {
        QVERIFY(QFile::remove(link));
        QVERIFY(QFile::link(com1.device(), link));
    } else {
        com2.reset();
    }

    QComboBox *list = portList(window.get());
    QTest::mouseClick(list, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(list->view()->isVisible(), 10000);
    list->hidePopup();
    QCOMPARE(list->currentIndex(), -1);
    QCOMPARE(entries(list), repointed ? QStringList({"COM1", "COM2"}) : QStringList({"COM1"}));
    const QString expected = repointed ? QString("COM2 now names %1, not %2: choose it again to use it.").arg(com1.device(), before)
                                       : QString("COM2 (%1) is gone.").arg(before);
    QTRY_COMPARE_WITH_TIMEOUT(driver.status(), expected, 10000);
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
    const QComboBox *list = portList(window.get());
    QCOMPARE(entries(list), QStringList({"COM1", "COM2", "COM9"}));
    QVERIFY2(toolTip(list, 1).startsWith("COM2 is /dev/kavotest-ttyA, which is missing"), qPrintable(toolTip(list, 1)));
    QVERIFY2(toolTip(list, 2).startsWith("COM9 is /dev/kavotest-ttyB, which is missing"), qPrintable(toolTip(list, 2)));
}

void tst_Startup::startSequence()
{
    KavoSim sim;
    QVERIFY(sim.start());
    frmSerialData window;
    const auto *timer = window.findChild<QTimer *>("tmrStartSeq");
    QVERIFY(timer);
    QVERIFY(!timer->isActive());
    QSignalSpy ticks(timer, &QTimer::timeout);
    QVERIFY(window.Form_Load());
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 300);
    window.show();
    QTRY_VERIFY_WITH_TIMEOUT(!timer->isActive(), 10000);
    QCOMPARE(ticks.count(), 4);
    // It never runs again: wait on a later timer of our own and look once more.
    QTimer later;
    later.setSingleShot(true);
    later.start(700);
    QTRY_VERIFY_WITH_TIMEOUT(!later.isActive(), 10000);
    QCOMPARE(ticks.count(), 4);
    QVERIFY(!timer->isActive());
}

// The status line: the open port's name and line settings beside the message, as plain
// text. While the port is being opened none shows; once it is open they show with every
// message, and Close takes them off again.
void tst_Startup::statusLine()
{
    KavoSim sim;
    QVERIFY(sim.start({"--com", "3", "--rate", "19200", "--reply", "ST V=<b>closed</b> soon>"}));
    auto window = openWindow();
    QVERIFY(window);
    WindowDriver driver(window.get());
    for (const char *panel : {"StatusPanel1", "StatusPanel2", "StatusPanel3"})
        QCOMPARE(driver.find<QLabel>(panel)->textFormat(), Qt::PlainText);
    QCOMPARE(driver.text("StatusPanel1"), QString());
    QCOMPARE(driver.text("StatusPanel2"), QString());

    QVERIFY(driver.pick("lstPCCOM", "COM3"));
    QVERIFY(driver.click("chkAutoBitRate"));
    QVERIFY(driver.pick("lstPCBPS", "19200"));
    StatusPanels shown(driver);
    MessageBoxes boxes;
    QVERIFY(driver.click("cmdOpenCOM"));
    QVERIFY(driver.connected());
    QVERIFY(boxes.seen.isEmpty());
    const QStringList seen = shown.texts();
    QVERIFY2(seen.contains("||Opening COM3"), qPrintable(seen.join(" / ")));
    QVERIFY2(seen.contains("COM3|19200,N,8,1|Searching for Kavo at 19200 bps"), qPrintable(seen.join(" / ")));
    // A module's reply is shown as it came, markup and all.
    QCOMPARE(driver.status(), QString("Could not read Volume - 'V': reply '<b>closed</b> soon'"));
    QCOMPARE(driver.text("StatusPanel1"), QString("COM3"));
    QCOMPARE(driver.text("StatusPanel2"), QString("19200,N,8,1"));

    QVERIFY(driver.click("cmdOpenCOM"));
    QCOMPARE(driver.text("StatusPanel1"), QString());
    QCOMPARE(driver.text("StatusPanel2"), QString());
    QCOMPARE(driver.status(), QString("Connection Closed"));
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
    WindowDriver driver(window.get());
    if (portOpen) {
        QVERIFY(driver.pick("lstPCCOM", sim.comName()));
        QVERIFY(driver.click("cmdOpenCOM"));
        QVERIFY(driver.connected());
    }
    const qsizetype heard = sim.log().size();

    MessageBoxes boxes;
    QVERIFY(driver.trigger("mnuAbout"));
    QTRY_COMPARE_WITH_TIMEOUT(boxes.seen.size(), 1, 10000);
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
    QTRY_VERIFY_WITH_TIMEOUT(noBoxShown(), 10000);
    // The connection is as it was, and the module heard nothing.
    QCOMPARE(driver.connected(), portOpen);
    QCOMPARE(driver.text("StatusPanel1"), portOpen ? sim.comName() : QString());
    QCOMPARE(sim.log().size(), heard);
}

void tst_Startup::logoOpensMakerAddress()
{
    KavoSim sim;
    QVERIFY(sim.start());
    auto window = openWindow();
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto *logo = WindowDriver(window.get()).find<QLabel>("Picture1");
    QVERIFY(logo);

    UrlCatcher browser;
    QDesktopServices::setUrlHandler("https", &browser, "open");
    QDesktopServices::setUrlHandler("http", &browser, "open");
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(logo, Qt::LeftButton, {}, logo->rect().center());
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
    WindowDriver driver(window.get());
    QVERIFY(driver.pick("lstPCCOM", sim.comName()));
    QVERIFY(driver.click("cmdOpenCOM"));
    QVERIFY(driver.connected());
    QVERIFY(!deviceFree(sim.device()));
    const qsizetype heard = sim.log().size();

    MessageBoxes boxes;
    if (viaMenu)
        QVERIFY(driver.trigger("mnuFileExit"));
    else
        QVERIFY(window->close());   // what the title bar's close box does
    QVERIFY(!window->isVisible());
    QVERIFY(boxes.seen.isEmpty());

    // The device is free again, and the module heard nothing of the closing.
    QTRY_VERIFY_WITH_TIMEOUT(deviceFree(sim.device()), 10000);
    window.reset();
    QVERIFY(boxes.seen.isEmpty());
    QCOMPARE(sim.log().size(), heard);
}

QTEST_MAIN(tst_Startup)
#include "tst_startup.moc"
