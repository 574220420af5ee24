// The Traffic window: what the window and the module said to each other, line by line, as
// it happens; saved to a file and cleared by the user.
#include <QCheckBox>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "app/trafficwindow.h"
#include "support/kavosim.h"
#include "support/messageboxes.h"
#include "support/testenv.h"
#include "support/windowdriver.h"
#include "support/windowfixture.h"

class tst_Traffic : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void showsWhatWasSaid();
    void followsAnOperation();
    void moduleBytesShownEscaped();
    void lostPortShown();
    void saveAndClear();

private:
    // Opens the simulator's port at 9600 bps, as the user does.
    bool openPort();
    // The Traffic window, shown as the user shows it (File > Traffic...).
    TrafficWindow *showTraffic();
    QString traffic() const;

    std::unique_ptr<KavoSim> m_sim;
    std::unique_ptr<frmSerialData> m_window;
    std::unique_ptr<WindowDriver> m_driver;
};

void tst_Traffic::initTestCase()
{
    TestEnv::isolate();
}

void tst_Traffic::init()
{
    m_sim = std::make_unique<KavoSim>();
}

void tst_Traffic::cleanup()
{
    m_driver.reset();
    m_window.reset();
    m_sim.reset();
}

bool tst_Traffic::openPort()
{
    m_window = openWindow();
    if (!m_window)
        return false;
    m_driver = std::make_unique<WindowDriver>(m_window.get());
    auto *automatic = m_driver->find<QCheckBox>(QStringLiteral("chkAutoBitRate"));
    if (!automatic || !m_driver->pick(QStringLiteral("lstPCCOM"), m_sim->comName()))
        return false;
    if (automatic->isChecked())
        automatic->click();
    return m_driver->pick(QStringLiteral("lstPCBPS"), QStringLiteral("9600"))
           && m_driver->click(QStringLiteral("cmdOpenCOM")) && m_driver->connected();
}

TrafficWindow *tst_Traffic::showTraffic()
{
    if (!m_driver->trigger(QStringLiteral("mnuFileTraffic")))
        return nullptr;
    auto *traffic = m_window->findChild<TrafficWindow *>(QStringLiteral("frmTraffic"));
    return traffic && traffic->isVisible() ? traffic : nullptr;
}

QString tst_Traffic::traffic() const
{
    auto *view = m_window->findChild<QPlainTextEdit *>(QStringLiteral("txtTraffic"));
    return view ? view->toPlainText() : QString();
}

// Shown after the fact, the window holds the whole conversation of Open: the port opened,
// every command the module heard, in its order, and the module's answers.
void tst_Traffic::showsWhatWasSaid()
{
    QVERIFY(m_sim->start());
    QVERIFY(openPort());
    QVERIFY(showTraffic());
    const QStringList lines = traffic().split(QLatin1Char('\n'));
    const QString port = QStringLiteral(" %1 9600 ").arg(m_sim->comName());
    QVERIFY2(lines.first().endsWith(port + QStringLiteral("* opened at 9600 bps")), qPrintable(lines.first()));
    QStringList sent;
    for (const QString &line : lines) {
        QVERIFY2(line.contains(port), qPrintable(line));
        if (const qsizetype at = line.indexOf(port + QStringLiteral("S ")); at >= 0)
            sent << line.mid(at + port.size() + 2).chopped(2);   // less the "\r" shown
    }
    // The simulator logs the probe's escape and the carriage return after it apart.
    QStringList heard = m_sim->commands();
    heard.removeAll(QString());
    QCOMPARE(sent, heard);
    QVERIFY(traffic().contains(port + QStringLiteral("R Kavo v2.07KAV1 SN 00012345>")));
}

// While it is shown, the window follows an operation as it runs, the user's own edits and
// clicks in the main window untouched.
void tst_Traffic::followsAnOperation()
{
    QVERIFY(m_sim->start());
    QVERIFY(openPort());
    QVERIFY(showTraffic());
    QVERIFY(m_driver->click(QStringLiteral("cmdReadSettings")));
    QTRY_VERIFY_WITH_TIMEOUT(traffic().count(QStringLiteral(" S ST U\\r")) == 2, 10000);
    QCOMPARE(m_driver->status(), QStringLiteral("All Settings Received"));
}

// What the module sends reaches the view as text: control bytes escaped, markup as it came.
void tst_Traffic::moduleBytesShownEscaped()
{
    const QString hostile = QStringLiteral("\x1b[2J<b>bold</b>\x07");
    QVERIFY(m_sim->start({QStringLiteral("--reply"), QStringLiteral("ST B=") + hostile + QStringLiteral(">")}));
    MessageBoxes boxes;
    QVERIFY(openPort());
    QVERIFY(showTraffic());
    QVERIFY2(traffic().contains(QStringLiteral(" R \\e[2J<b>bold</b>\\x07>")), qPrintable(traffic()));
    QVERIFY(!traffic().contains(QChar(0x1b)));
    QVERIFY(!traffic().contains(QChar(0x07)));
    auto *view = m_window->findChild<QPlainTextEdit *>(QStringLiteral("txtTraffic"));
    QVERIFY(view->toPlainText().contains(QStringLiteral("<b>bold</b>")));
}

// A module pulled while the window is shown: the line ends with the port lost.
void tst_Traffic::lostPortShown()
{
    QVERIFY(m_sim->start());
    QVERIFY(openPort());
    QVERIFY(showTraffic());
    m_sim->kill();
    QTRY_VERIFY_WITH_TIMEOUT(!m_driver->connected(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(traffic().endsWith(QStringLiteral(" * lost")), 10000);
}

// Save writes what the window shows; a folder is refused with a box that says so; Clear
// empties the window, and what comes after shows alone.
void tst_Traffic::saveAndClear()
{
    QVERIFY(m_sim->start());
    QVERIFY(openPort());
    TrafficWindow *window = showTraffic();
    QVERIFY(window);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.log"));
    window->setFileDialogForTesting([&] { return path; });
    QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("cmdSaveTraffic")), Qt::LeftButton);
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(saved.readAll()), traffic() + QLatin1Char('\n'));

    MessageBoxes boxes;
    boxes.answer(QMessageBox::Ok);
    window->setFileDialogForTesting([&] { return dir.path(); });
    QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("cmdSaveTraffic")), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(boxes.seen.size(), 1, 10000);
    QVERIFY2(boxes.seen.first().text.startsWith(QStringLiteral("The traffic was not saved:\r\n")),
             qPrintable(boxes.seen.first().text));
    QCOMPARE(boxes.seen.first().format, Qt::PlainText);

    QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("cmdClearTraffic")), Qt::LeftButton);
    QVERIFY(traffic().isEmpty());
    QVERIFY(m_driver->click(QStringLiteral("cmdReadSettings")));
    QTRY_VERIFY_WITH_TIMEOUT(traffic().contains(QStringLiteral(" S ST U\\r")), 10000);
    QVERIFY(!traffic().contains(QStringLiteral("opened")));
    // Shown again later, it holds what the tracer kept since the clearing, no more.
    window->hide();
    QVERIFY(showTraffic());
    QVERIFY(!traffic().contains(QStringLiteral("opened")));
    QVERIFY(traffic().contains(QStringLiteral(" S ST U\\r")));
}

QTEST_MAIN(tst_Traffic)
#include "tst_traffic.moc"
