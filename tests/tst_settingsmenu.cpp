// File > Open Settings... and Save Settings...: a file fills the controls as the user would
// and nothing is sent until Write; a saved file holds the nine setting strings; a bad file
// is refused whole; and files travel between the window and kavoctl both ways.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include "support/kavosim.h"
#include "support/messageboxes.h"
#include "support/testenv.h"
#include "support/windowdriver.h"
#include "support/windowfixture.h"

namespace {

const QByteArray Written = "ST D 0\nST T 30\nST S 2\nST N 100\nST H 0\nST V 10 20\nST O 3\nST B 37\nST U 1\n";

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

int kavoctl(const QStringList &arguments, QByteArray *out = nullptr)
{
    QProcess process;
    process.start(QStringLiteral(KAVOCTL_PATH), arguments);
    if (!process.waitForFinished(60000))
        return -1;
    if (out)
        *out = process.readAllStandardOutput();
    return process.exitCode();
}

// The nine setting strings in the order they are read.
QStringList strings(const WindowDriver &window)
{
    QStringList s;
    for (const char *out : {"outKAVOBPS", "outWriteTimeout", "outInputStyle", "outFileOffset", "outBusyIndicator",
                            "outVolume", "outLoopCount", "outBassBoost", "outUninterrupted"})
        s << window.text(QLatin1String(out));
    return s;
}

// The controls show the settings model once the event loop has passed its change on to
// them: what the user sees right after a menu item was chosen.
void shown()
{
    QCoreApplication::processEvents();
}

// No message box of the program is up.
bool noBoxShown()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (qobject_cast<QMessageBox *>(w) && w->isVisible())
            return false;
    return true;
}

QStringList lines(const QByteArray &content)
{
    QStringList s;
    for (const QByteArray &line : content.split('\n'))
        if (!line.isEmpty() && !line.startsWith('#'))
            s << QString::fromLatin1(line);
    return s;
}

} // namespace

class tst_SettingsMenu : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void openFillsTheControls_data();
    void openFillsTheControls();
    void openedSettingsAreWritten();
    void badFileRefused();
    void saveNeedsAllNine();
    void windowToKavoctl();
    void kavoctlToWindow();
    void openedBeforeConnecting();
    void exitAsksAboutEdits_data();
    void exitAsksAboutEdits();
    void openAsksAboutEdits();

private:
    void newWindow();
    bool connectWindow();

    QTemporaryDir m_dir;
    std::unique_ptr<KavoSim> m_sim;
    std::unique_ptr<frmSerialData> m_window;
    std::unique_ptr<WindowDriver> m_driver;
    std::unique_ptr<MessageBoxes> m_boxes;
    QString m_nextFile;
};

void tst_SettingsMenu::initTestCase()
{
    TestEnv::isolate();
}

void tst_SettingsMenu::init()
{
    m_sim = std::make_unique<KavoSim>();
    QVERIFY(m_sim->start());
    newWindow();
    QVERIFY(m_window);
    m_boxes = std::make_unique<MessageBoxes>();
}

void tst_SettingsMenu::cleanup()
{
    m_driver.reset();
    m_window.reset();
    m_boxes.reset();
    m_sim.reset();
}

void tst_SettingsMenu::newWindow()
{
    m_driver.reset();
    m_window = openWindow();
    if (!m_window)
        return;
    m_window->setFileDialogForTesting([this](bool) { return m_nextFile; });
    m_driver = std::make_unique<WindowDriver>(m_window.get());
}

bool tst_SettingsMenu::connectWindow()
{
    return m_driver->pick("lstPCCOM", m_sim->comName()) && m_driver->click("cmdOpenCOM") && m_driver->connected();
}

void tst_SettingsMenu::openFillsTheControls_data()
{
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArray>("to");
    QTest::addColumn<bool>("locked");
    QTest::addColumn<bool>("bassBoost");

    QTest::newRow("two volumes") << QByteArray() << QByteArray() << false << true;
    QTest::newRow("one volume") << QByteArray("ST V 10 20") << QByteArray("ST V 7") << true << true;
    QTest::newRow("bass boost off") << QByteArray("ST B 37") << QByteArray("ST B 0") << false << false;
}

void tst_SettingsMenu::openFillsTheControls()
{
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QFETCH(bool, locked);
    QFETCH(bool, bassBoost);

    QByteArray content = Written;
    if (!from.isEmpty())
        content.replace(from, to);
    m_nextFile = m_dir.filePath("open.kavo");
    QVERIFY(writeFile(m_nextFile, content));
    WindowDriver &window = *m_driver;
    QVERIFY(window.trigger("mnuFileOpenSettings"));
    shown();

    QCOMPARE(strings(window), lines(content));
    QCOMPARE(window.checked("chkVolumeLocked"), locked);
    QCOMPARE(window.enabled("vscVolumeR"), !locked);
    QCOMPARE(window.checked("chkBassBoost"), bassBoost);
    QCOMPARE(window.value("lstInputStyle"), 2);
    QCOMPARE(window.text("txtFileOffset"), QString("100"));
    QCOMPARE(window.text("txtLoopCount"), QString("3"));
    QCOMPARE(window.text("txtVolumeL"), locked ? QString("7") : QString("10"));
    QCOMPARE(window.text("txtVolumeR"), locked ? QString("7") : QString("20"));
    if (bassBoost) {
        QCOMPARE(window.text("txtBBBoost"), QString("2"));
        QCOMPARE(window.text("txtBBFreq"), QString("50"));
    }
    QVERIFY(m_boxes->seen.isEmpty());
    QVERIFY(window.action("mnuFileSaveSettings")->isEnabled());
}

// Opening sends nothing; Write sends what the file said.
void tst_SettingsMenu::openedSettingsAreWritten()
{
    QVERIFY(connectWindow());
    const qsizetype before = m_sim->commands().size();
    m_nextFile = m_dir.filePath("write.kavo");
    QVERIFY(writeFile(m_nextFile, Written));
    QVERIFY(m_driver->trigger("mnuFileOpenSettings"));
    QCOMPARE(m_driver->status(), QString("Settings opened from write.kavo; press Write to store them in the Kavo"));
    QVERIFY(m_driver->click("cmdWriteSettings"));
    QCOMPARE(m_driver->status(), QString("All Settings Stored"));
    // Nothing between the opening and the nine lines of Write.
    QTRY_COMPARE_WITH_TIMEOUT(m_sim->commands().mid(before),
                              QStringList({"ST T 30", "ST S 2", "ST N 100", "ST H 0", "ST V 10 20", "ST O 3", "ST B 37",
                                           "ST U 1", "ST D 0"}),
                              10000);
}

void tst_SettingsMenu::badFileRefused()
{
    QVERIFY(connectWindow());
    const QStringList before = strings(*m_driver);
    QByteArray content = Written;
    content.replace("ST N 100", "ST N 40000");
    m_nextFile = m_dir.filePath("bad.kavo");
    QVERIFY(writeFile(m_nextFile, content));
    QVERIFY(m_driver->trigger("mnuFileOpenSettings"));
    // The box is shown without holding anything up: answered from its own timer.
    QTRY_COMPARE_WITH_TIMEOUT(m_boxes->texts(),
                              QStringList{"The settings were not opened:\r\n" + m_nextFile
                                          + ": line 4: 'ST N 40000': Input File Number Offset 40000 is out of range "
                                            "(0 to 32767)"},
                              10000);
    QTRY_VERIFY_WITH_TIMEOUT(noBoxShown(), 10000);
    shown();
    QCOMPARE(strings(*m_driver), before);
}

void tst_SettingsMenu::saveNeedsAllNine()
{
    // A fresh window has no setting strings: nothing to save, and no dialog comes.
    m_nextFile = m_dir.filePath("never.kavo");
    QVERIFY(!m_driver->action("mnuFileSaveSettings")->isEnabled());
    QVERIFY(m_driver->trigger("mnuFileSaveSettings"));
    QVERIFY(!QFile::exists(m_nextFile));
    QVERIFY(connectWindow());
    QVERIFY(m_driver->action("mnuFileSaveSettings")->isEnabled());
    QVERIFY(m_driver->trigger("mnuFileSaveSettings"));
    QVERIFY(QFile::exists(m_nextFile));
    QCOMPARE(m_driver->status(), QString("Settings saved to never.kavo"));
}

// Read in the window, saved, written by kavoctl to another module: that one holds them.
void tst_SettingsMenu::windowToKavoctl()
{
    KavoSim other;
    QVERIFY(other.start());
    const QString state = m_dir.filePath("state");
    QVERIFY(writeFile(state, "T=44\nV=5 6\nB=18\nN=321\n"));
    m_sim = std::make_unique<KavoSim>();
    QVERIFY(m_sim->start({"--state", state}));
    newWindow();
    QVERIFY(m_window);
    WindowDriver &window = *m_driver;
    QVERIFY(connectWindow());
    // The window shows one volume for both channels while "Same as L" is checked.
    if (window.checked("chkVolumeLocked"))
        window.find<QCheckBox>("chkVolumeLocked")->click();
    window.find<QScrollBar>("vscVolumeR")->setValue(6);
    shown();
    m_nextFile = m_dir.filePath("from-window.kavo");
    QVERIFY(window.trigger("mnuFileSaveSettings"));
    QVERIFY(QFile::exists(m_nextFile));

    QCOMPARE(kavoctl({"write", "--port", other.comName(), m_nextFile}), 0);
    QByteArray out;
    QCOMPARE(kavoctl({"read", "--port", other.comName()}, &out), 0);
    QCOMPARE(lines(out), strings(window));
    QVERIFY(lines(out).contains("ST V 5 6"));
}

// Read by kavoctl into a file, opened in the window: the same nine strings.
void tst_SettingsMenu::kavoctlToWindow()
{
    KavoSim module;
    const QString state = m_dir.filePath("state2");
    QVERIFY(writeFile(state, "S=0\nO=200\nU=1\nH=0\n"));
    QVERIFY(module.start({"--state", state}));
    m_nextFile = m_dir.filePath("from-kavoctl.kavo");
    QCOMPARE(kavoctl({"read", "--port", module.comName(), "-o", m_nextFile}), 0);
    QVERIFY(m_driver->trigger("mnuFileOpenSettings"));
    shown();
    QFile file(m_nextFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(strings(*m_driver), lines(file.readAll()));
    QVERIFY(strings(*m_driver).contains("ST O 200"));
}

// A file opened before connecting is meant for the module Open finds: Open reads its version
// and card but keeps the file's settings, and Write stores them.
void tst_SettingsMenu::openedBeforeConnecting()
{
    WindowDriver &window = *m_driver;
    m_nextFile = m_dir.filePath("before.kavo");
    QVERIFY(writeFile(m_nextFile, Written));
    QVERIFY(window.trigger("mnuFileOpenSettings"));
    QCOMPARE(window.status(), QString("Settings opened from before.kavo; Open keeps them for the Kavo it finds, then "
                                      "press Write to store them"));
    QVERIFY(window.pick("lstPCCOM", m_sim->comName()));
    QVERIFY(window.click("cmdOpenCOM"));
    QVERIFY(window.connected());
    QCOMPARE(window.text("lblVersion"), QString("Kavo v2.07KAV1 SN 00012345"));
    QCOMPARE(window.status(), QString("The settings from before.kavo are kept: press Write to store them in the Kavo, "
                                      "or Read to load the Kavo's own"));
    QCOMPARE(strings(window), lines(Written));
    for (const QString &command : m_sim->commands())
        QVERIFY2(!command.startsWith("ST "), qPrintable(command));

    QVERIFY(window.click("cmdWriteSettings"));
    QCOMPARE(window.status(), QString("All Settings Stored"));
    QTRY_COMPARE_WITH_TIMEOUT(m_sim->commands().filter(QRegularExpression("^ST [A-Z] ")),
                              QStringList({"ST T 30", "ST S 2", "ST N 100", "ST H 0", "ST V 10 20", "ST O 3", "ST B 37",
                                           "ST U 1", "ST D 0"}),
                              10000);
    // Written: the next Open reads the module, which holds the file's settings now.
    QVERIFY(window.click("cmdOpenCOM"));
    QVERIFY(window.click("cmdOpenCOM"));
    QCOMPARE(window.status(), QString("All Settings Received"));
    QCOMPARE(strings(window), lines(Written));
    QVERIFY(m_boxes->seen.isEmpty());
}

// Exit with settings changed and neither written nor saved asks first: Write, Save
// Settings..., Discard or Cancel. Nothing changed since the read: no question.
void tst_SettingsMenu::exitAsksAboutEdits_data()
{
    QTest::addColumn<bool>("edit");
    QTest::addColumn<int>("answer");   // QMessageBox::StandardButton
    QTest::addColumn<bool>("closes");

    QTest::newRow("nothing changed") << false << int(QMessageBox::Ok) << true;
    QTest::newRow("Cancel") << true << int(QMessageBox::Cancel) << false;
    QTest::newRow("Discard") << true << int(QMessageBox::Discard) << true;
    QTest::newRow("Save Settings...") << true << int(QMessageBox::Save) << true;
    QTest::newRow("Write") << true << int(QMessageBox::Apply) << true;
}

void tst_SettingsMenu::exitAsksAboutEdits()
{
    QFETCH(bool, edit);
    QFETCH(int, answer);
    QFETCH(bool, closes);

    QVERIFY(connectWindow());
    WindowDriver &window = *m_driver;
    if (edit)
        QVERIFY(window.type("txtLoopCount", "9"));
    const qsizetype before = m_sim->commands().size();
    m_nextFile = m_dir.filePath(QString("exit-%1.kavo").arg(answer));
    m_boxes->answer(QMessageBox::StandardButton(answer));
    QVERIFY(window.trigger("mnuFileExit"));
    // The question is shown without holding anything up: wait until the window has gone,
    // or the box has been answered and what the answer started is over.
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->isVisible() || (m_boxes->seen.size() == 1 && noBoxShown() && !window.busy()),
                             10000);
    shown();

    QCOMPARE(m_boxes->seen.size(), edit ? 1 : 0);
    if (edit) {
        const MessageBoxes::Seen &box = m_boxes->seen.first();
        QVERIFY2(box.text.startsWith("The settings in the window were changed and have not been written to the Kavo or "
                                     "saved. Exit closes the program"),
                 qPrintable(box.text));
        QCOMPARE(box.buttons, QMessageBox::Apply | QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
        QCOMPARE(box.title, QString("KavoConfig"));
    }
    QCOMPARE(m_window->isVisible(), !closes);
    QCOMPARE(window.text("outLoopCount"), edit ? QString("ST O 9") : QString("ST O 1"));
    QCOMPARE(QFile::exists(m_nextFile), answer == QMessageBox::Save);
    if (answer == QMessageBox::Save) {
        QFile file(m_nextFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(lines(file.readAll()).contains("ST O 9"));
    }
    const bool written = answer == QMessageBox::Apply;
    QTRY_COMPARE_WITH_TIMEOUT(m_sim->commands().mid(before).contains("ST O 9"), written, 10000);
}

// Open clears what the window holds of an earlier connection: edits not written or saved
// are asked about first, and Cancel leaves everything as it was.
void tst_SettingsMenu::openAsksAboutEdits()
{
    QVERIFY(connectWindow());
    WindowDriver &window = *m_driver;
    QVERIFY(window.type("txtLoopCount", "9"));
    QVERIFY(window.click("cmdOpenCOM"));   // Close keeps them
    QCOMPARE(window.text("outLoopCount"), QString("ST O 9"));

    const qsizetype before = m_sim->commands().size();
    m_boxes->answer(QMessageBox::Cancel);
    QVERIFY(window.click("cmdOpenCOM"));
    QCOMPARE(m_boxes->seen.size(), 1);
    QCOMPARE(m_boxes->seen.first().buttons, QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
    QVERIFY(!window.connected());
    QCOMPARE(window.text("outLoopCount"), QString("ST O 9"));
    QCOMPARE(m_sim->commands().size(), before);

    m_boxes->answer(QMessageBox::Discard);
    QVERIFY(window.click("cmdOpenCOM"));
    QVERIFY(window.connected());
    QCOMPARE(window.text("outLoopCount"), QString("ST O 1"));
}

QTEST_MAIN(tst_SettingsMenu)
#include "tst_settingsmenu.moc"
