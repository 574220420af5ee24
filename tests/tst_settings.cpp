// The nine settings in the window: the edit handlers, reading all settings from kavo-sim and
// writing them back, through a real pseudo-terminal; driven from outside as a user does.
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <functional>
#include <string_view>

#include "support/kavosim.h"
#include "support/messageboxes.h"
#include "support/testenv.h"
#include "support/windowdriver.h"
#include "support/windowfixture.h"
#include "link/comports.h"
#include "settings/settingtable.h"

namespace {

const QStringList ReadOrder = {QStringLiteral("ST D"), QStringLiteral("ST T"), QStringLiteral("ST S"),
                               QStringLiteral("ST N"), QStringLiteral("ST H"), QStringLiteral("ST V"),
                               QStringLiteral("ST O"), QStringLiteral("ST B"), QStringLiteral("ST U")};

// The setting strings' labels, in the order the settings are read.
const QStringList SettingStrings = {QStringLiteral("outKAVOBPS"),       QStringLiteral("outWriteTimeout"),
                                    QStringLiteral("outInputStyle"),    QStringLiteral("outFileOffset"),
                                    QStringLiteral("outBusyIndicator"), QStringLiteral("outVolume"),
                                    QStringLiteral("outLoopCount"),     QStringLiteral("outBassBoost"),
                                    QStringLiteral("outUninterrupted")};

// What the module of the state file below holds, in the same order.
const QStringList ModuleStrings = {QStringLiteral("ST D 0"),     QStringLiteral("ST T 37"), QStringLiteral("ST S 2"),
                                   QStringLiteral("ST N 12345"), QStringLiteral("ST H 0"),  QStringLiteral("ST V 10 20"),
                                   QStringLiteral("ST O 3"),     QStringLiteral("ST B 37"), QStringLiteral("ST U 1")};

// The controls show the settings model once the event loop has passed its change on to
// them: what the user sees right after an edit.
void shown()
{
    QCoreApplication::processEvents();
}

// Every control and setting string of the nine settings, as text.
QStringList snapshot(const WindowDriver &window)
{
    QStringList s;
    for (const char *list : {"lstKAVOBPS", "lstInputStyle"})
        s << QStringLiteral("%1=%2").arg(QLatin1String(list)).arg(window.value(QLatin1String(list)));
    for (const char *bar : {"vscWriteTimeout", "vscFileOffset", "vscVolumeL", "vscVolumeR", "vscLoopCount", "vscBBFreq",
                            "vscBBBoost"})
        s << QStringLiteral("%1=%2").arg(QLatin1String(bar)).arg(window.value(QLatin1String(bar)));
    for (const char *box : {"txtWriteTimeout", "txtFileOffset", "txtVolumeL", "txtVolumeR", "txtLoopCount", "txtBBFreq",
                            "txtBBBoost"})
        s << QLatin1String(box) + QLatin1Char('=') + window.text(QLatin1String(box));
    for (const char *box : {"chkBusyIndicator", "chkVolumeLocked", "chkBassBoost", "chkUninterrupted"})
        s << QStringLiteral("%1=%2").arg(QLatin1String(box)).arg(window.checked(QLatin1String(box)));
    for (const QString &out : SettingStrings)
        s << out + QLatin1Char('=') + window.text(out);
    return s;
}

QStringList settingStrings(const WindowDriver &window)
{
    QStringList s;
    for (const QString &out : SettingStrings)
        s << window.text(out);
    return s;
}

// The command lines the simulator received from line `from` on.
QStringList commandsFrom(const KavoSim &sim, qsizetype from)
{
    return sim.commands().mid(from);
}

// The setting commands among them (queries and writes): what the connect check sends
// before them (probe, version, card) left out.
QStringList settingCommands(const KavoSim &sim, qsizetype from = 0)
{
    QStringList s;
    for (const QString &c : commandsFrom(sim, from))
        if (c.startsWith(QStringLiteral("ST ")))
            s << c;
    return s;
}

// The first letters of setting commands ("ST T 37" -> "T"), joined.
QString letters(const QStringList &commands)
{
    QString s;
    for (const QString &c : commands)
        s += c.mid(3, 1);
    return s;
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// The lines of a settings file that carry a setting.
QStringList fileLines(const QByteArray &content)
{
    QStringList s;
    for (const QByteArray &line : content.split('\n'))
        if (!line.trimmed().isEmpty() && !line.startsWith('#'))
            s << QString::fromLatin1(line.trimmed());
    return s;
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

// A click on a check box as the user gives it (the driver waits for nothing here: a check
// box starts no operation).
void clickBox(const WindowDriver &window, const QString &name)
{
    auto *box = window.find<QCheckBox>(name);
    QVERIFY2(box, qPrintable(name));
    box->click();
}

// One arrow of a spinner clicked: the upper arrow moves a vertical bar towards its minimum.
void arrow(const WindowDriver &window, const QString &name, bool up)
{
    auto *bar = window.find<QScrollBar>(name);
    QVERIFY2(bar, qPrintable(name));
    bar->triggerAction(up ? QAbstractSlider::SliderSingleStepSub : QAbstractSlider::SliderSingleStepAdd);
}

// Opens the simulator's port in the window as the user does: the port chosen, the rate
// given (no search), Open pressed. Open reads the card and the nine settings.
bool openPort(WindowDriver &window, const KavoSim &sim, bool wait = true)
{
    auto *automatic = window.find<QCheckBox>(QStringLiteral("chkAutoBitRate"));
    if (!automatic || !window.pick(QStringLiteral("lstPCCOM"), sim.comName()))
        return false;
    if (automatic->isChecked())
        automatic->click();
    if (!window.pick(QStringLiteral("lstPCBPS"), QStringLiteral("9600")))
        return false;
    auto *open = window.find<QPushButton>(QStringLiteral("cmdOpenCOM"));
    if (!wait) {
        QTest::mouseClick(open, Qt::LeftButton);
        return true;
    }
    return window.click(QStringLiteral("cmdOpenCOM")) && window.connected();
}

// Clicks a button and returns at once, while the operation it starts runs.
void clickNoWait(const WindowDriver &window, const QString &name)
{
    auto *button = window.find<QPushButton>(name);
    QVERIFY2(button, qPrintable(name));
    QTest::mouseClick(button, Qt::LeftButton);
}

} // namespace

class tst_Settings : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();

    void edits_data();
    void edits();
    void typedNumbers_data();
    void typedNumbers();
    void pageKeys_data();
    void pageKeys();

    void readOnConnect_data();
    void readOnConnect();
    void readBadReplies_data();
    void readBadReplies();
    void readStopsWhenPortIsLost();
    void sameStringsEverywhere();

    void writeEqualRates();
    void writeNewBitRate();
    void writeReportsRefusals_data();
    void writeReportsRefusals();
    void writeReopenFails();
    void writeBeforeCompleteRead_data();
    void writeBeforeCompleteRead();
    void editDuringWrite();
    void writeTypedNumbers();
    void numberBoxKeys();

private:
    void runEdits(const QString &actions, const QString &checks);
    // Starts the simulator with the distinctive settings below (and `options`), opens a
    // window and opens the simulator's port in it at 9600 bps: Open reads all settings.
    std::unique_ptr<frmSerialData> connectTo(KavoSim &sim, const QStringList &options = {});

    QTemporaryDir m_dir;
    QString m_stateFile;
};

void tst_Settings::initTestCase()
{
    TestEnv::isolate();
    QVERIFY(m_dir.isValid());
    m_stateFile = m_dir.filePath(QStringLiteral("state.txt"));
    QVERIFY(writeFile(m_stateFile, "D=0\nT=37\nS=2\nN=12345\nH=0\nV=10 20\nO=3\nB=37\nU=1\n"));
}

std::unique_ptr<frmSerialData> tst_Settings::connectTo(KavoSim &sim, const QStringList &options)
{
    if (!sim.start(QStringList{QStringLiteral("--state"), m_stateFile} + options))
        return nullptr;
    auto w = openWindow();
    if (!w || !QTest::qWaitForWindowActive(w.get()))
        return nullptr;
    WindowDriver window(w.get());
    if (!openPort(window, sim))
        return nullptr;
    return w;
}

// --- edits ------------------------------------------------------------------------------

void tst_Settings::edits_data()
{
    QTest::addColumn<QString>("actions");
    QTest::addColumn<QString>("checks");

    QTest::newRow("start: nothing composed")
        << "" << "outKAVOBPS=;outWriteTimeout=;outInputStyle=;outFileOffset=;outBusyIndicator=;outVolume=;"
                 "outLoopCount=;outBassBoost=;outUninterrupted=;txtLoopCount=;vscVolumeR.enabled=0";
    QTest::newRow("loop count upper arrow") << "up:vscLoopCount" << "txtLoopCount=1;outLoopCount=ST O 1";
    QTest::newRow("write time-out at the top") << "vscWriteTimeout=0" << "txtWriteTimeout=254;outWriteTimeout=ST T 254";
    QTest::newRow("file offset at the top") << "vscFileOffset=0" << "txtFileOffset=32767;outFileOffset=ST N 32767";
    QTest::newRow("volume upper arrow at 0") << "up:vscVolumeL" << "txtVolumeL=;outVolume=;vscVolumeL.value=0";
    QTest::newRow("volume lower arrow, Same as L")
        << "down:vscVolumeL" << "txtVolumeL=1;txtVolumeR=1;vscVolumeR.value=1;outVolume=ST V 1";
    QTest::newRow("volume lower arrow, unlocked")
        << "chkVolumeLocked=0;vscVolumeR=20;down:vscVolumeL" << "txtVolumeL=1;txtVolumeR=20;outVolume=ST V 1 20";
    QTest::newRow("right spinner, unlocked")
        << "chkVolumeLocked=0;vscVolumeL=10;vscVolumeR=20" << "vscVolumeR.enabled=1;outVolume=ST V 10 20";
    QTest::newRow("locking again follows the left")
        << "chkVolumeLocked=0;vscVolumeL=10;vscVolumeR=20;chkVolumeLocked=1"
        << "vscVolumeR.value=10;txtVolumeR=10;vscVolumeR.enabled=0;outVolume=ST V 10";
    QTest::newRow("unlocking does not recompose")
        << "vscVolumeL=10;chkVolumeLocked=0" << "vscVolumeR.enabled=1;outVolume=ST V 10";
    QTest::newRow("frequency step 3, boost 0")
        << "vscBBFreq=12" << "txtBBFreq=30;txtBBBoost=0;outBassBoost=ST B 3;chkBassBoost.checked=1";
    QTest::newRow("boost 15 at step 15")
        << "vscBBFreq=0;vscBBBoost=0" << "txtBBFreq=150;txtBBBoost=15;outBassBoost=ST B 255;chkBassBoost.checked=1";
    QTest::newRow("clearing Bass Boost keeps the spinners")
        << "vscBBFreq=10;vscBBBoost=13;click:chkBassBoost"
        << "outBassBoost=ST B 0;chkBassBoost.checked=0;txtBBFreq=50;txtBBBoost=2;vscBBFreq.value=10;vscBBBoost.value=13";
    QTest::newRow("a spinner after clearing recomposes")
        << "vscBBFreq=10;vscBBBoost=13;click:chkBassBoost;up:vscBBBoost"
        << "outBassBoost=ST B 53;chkBassBoost.checked=1;txtBBBoost=3";
    QTest::newRow("checking Bass Boost at 0 and 0 clears it again")
        << "click:chkBassBoost" << "outBassBoost=ST B 0;chkBassBoost.checked=0;txtBBFreq=0;txtBBBoost=0";
    QTest::newRow("frequency back to its lowest step")
        << "vscBBFreq=14;vscBBFreq=15" << "txtBBFreq=0;outBassBoost=ST B 0;chkBassBoost.checked=0";
    QTest::newRow("module bit rate 115200") << "lstKAVOBPS=4" << "outKAVOBPS=ST D 4;lstPCBPS.index=-1";
    QTest::newRow("input style") << "lstInputStyle=1" << "outInputStyle=ST S 1";
    QTest::newRow("busy indicator on") << "click:chkBusyIndicator" << "outBusyIndicator=ST H 1";
    QTest::newRow("busy indicator off again")
        << "click:chkBusyIndicator;click:chkBusyIndicator" << "outBusyIndicator=ST H 0";
    QTest::newRow("uninterrupted playback") << "chkUninterrupted=1" << "outUninterrupted=ST U 1";
}

void tst_Settings::edits()
{
    QFETCH(QString, actions);
    QFETCH(QString, checks);
    runEdits(actions, checks);
}

// Actions: "name=value" sets a scroll bar's position, a list's index or a check box;
// "up:name" / "down:name" press a spinner's arrow; "click:name" clicks a check box;
// "key:name=PageUp" (or PageDown) presses the key on a spinner; "type:name=text" clears a
// number box, types the text and presses Enter, "typeTab:name=text" leaves the box with
// Tab instead; "leave:name" goes into a box and leaves it with Tab, typing nothing;
// "clear:name" empties a box as the program does when it forgets a module's values.
// Checks: "name=text" for a box or label, "name.value", ".enabled", ".checked", ".index",
// ".readOnly"; "status=text" for the status line.
// Actions: "name=value" sets a scroll bar's position, a list's index or a check box;
// "up:name" / "down:name" click a spinner's arrow; "click:name" clicks a check box;
// "key:name=PageUp" (or PageDown) presses the key on a spinner; "type:name=text" clears a
// number box, types the text and presses Enter, "typeTab:name=text" leaves the box with
// Tab instead; "leave:name" goes into a box and leaves it with Tab, typing nothing;
// "clear:name" empties a box as the program does when it forgets a module's values.
// Checks: "name=text" for a box or label, "name.value", ".enabled", ".checked", ".index",
// ".readOnly"; "status=text" for the status line.
void tst_Settings::runEdits(const QString &actions, const QString &checks)
{
    // The handlers send nothing, so a window without a port will do.
    frmSerialData w;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    WindowDriver window(&w);

    for (const QString &action : actions.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString kind = action.contains(QLatin1Char(':')) ? action.section(QLatin1Char(':'), 0, 0) : QString();
        const QString rest = kind.isEmpty() ? action : action.section(QLatin1Char(':'), 1);
        const QString name = rest.section(QLatin1Char('='), 0, 0);
        const QString argument = rest.section(QLatin1Char('='), 1);
        QVERIFY2(window.widget(name), qPrintable(action));
        if (kind == QStringLiteral("up") || kind == QStringLiteral("down")) {
            arrow(window, name, kind == QStringLiteral("up"));
        } else if (kind == QStringLiteral("click")) {
            clickBox(window, name);
        } else if (kind == QStringLiteral("key")) {
            QVERIFY2(window.find<QScrollBar>(name), qPrintable(action));
            QVERIFY2(argument == QStringLiteral("PageUp") || argument == QStringLiteral("PageDown"), qPrintable(action));
            QVERIFY(window.key(name, argument == QStringLiteral("PageUp") ? Qt::Key_PageUp : Qt::Key_PageDown));
        } else if (kind == QStringLiteral("clear")) {
            auto *box = window.find<QLineEdit>(name);
            QVERIFY2(box, qPrintable(action));
            box->clear();
        } else if (kind == QStringLiteral("leave")) {
            auto *box = window.find<QLineEdit>(name);
            QVERIFY2(box, qPrintable(action));
            QVERIFY(window.key(name, Qt::Key_Tab));
            QVERIFY2(!box->hasFocus(), qPrintable(action));
        } else if (kind == QStringLiteral("type") || kind == QStringLiteral("typeTab")) {
            auto *box = window.find<QLineEdit>(name);
            QVERIFY2(box, qPrintable(action));
            QVERIFY(window.type(name, argument, kind == QStringLiteral("type") ? Qt::Key_Return : Qt::Key_Tab));
            if (kind == QStringLiteral("typeTab"))
                QVERIFY2(!box->hasFocus(), qPrintable(action));
        } else if (kind.isEmpty()) {
            QWidget *target = window.widget(name);
            const int value = argument.toInt();
            if (auto *bar = qobject_cast<QScrollBar *>(target))
                bar->setValue(value);
            else if (auto *list = qobject_cast<QComboBox *>(target))
                list->setCurrentIndex(value);
            else if (auto *box = qobject_cast<QCheckBox *>(target))
                box->setChecked(value != 0);
            else
                QFAIL(qPrintable(action));
        } else {
            QFAIL(qPrintable(action));
        }
        shown();
    }

    for (const QString &check : checks.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString key = check.section(QLatin1Char('='), 0, 0);
        const QString expected = check.section(QLatin1Char('='), 1);
        const QString name = key.section(QLatin1Char('.'), 0, 0);
        const QString property = key.section(QLatin1Char('.'), 1);
        QString actual;
        if (name == QStringLiteral("status")) {
            actual = window.status();
        } else {
            QWidget *target = window.widget(name);
            QVERIFY2(target, qPrintable(check));
            if (property == QStringLiteral("value") || property == QStringLiteral("index"))
                actual = QString::number(window.value(name));
            else if (property == QStringLiteral("enabled"))
                actual = QString::number(window.enabled(name));
            else if (property == QStringLiteral("checked"))
                actual = QString::number(window.checked(name));
            else if (property == QStringLiteral("readOnly"))
                actual = QString::number(qobject_cast<QLineEdit *>(target)->isReadOnly());
            else
                actual = window.text(name);
        }
        QVERIFY2(actual == expected, qPrintable(QStringLiteral("%1: got '%2'").arg(check, actual)));
    }
}

// --- typed numbers and page keys -----------------------------------------------------------

// A number typed into a spinner's box moves the spinner as an arrow click would, and its
// handler composes the setting string; anything else is refused on the status line with
// the range, and the box keeps what it showed.
void tst_Settings::typedNumbers_data()
{
    QTest::addColumn<QString>("actions");
    QTest::addColumn<QString>("checks");

    // In range.
    QTest::newRow("loop count, Enter")
        << "vscLoopCount=251;type:txtLoopCount=7" << "txtLoopCount=7;vscLoopCount.value=247;outLoopCount=ST O 7;status=";
    QTest::newRow("loop count, Tab")
        << "vscLoopCount=251;typeTab:txtLoopCount=0" << "txtLoopCount=0;vscLoopCount.value=254;outLoopCount=ST O 0;status=";
    QTest::newRow("loop count at the top") << "type:txtLoopCount=254" << "vscLoopCount.value=0;outLoopCount=ST O 254";
    QTest::newRow("where the spinner stands already")
        << "type:txtLoopCount=0" << "txtLoopCount=0;vscLoopCount.value=254;outLoopCount=ST O 0;status=";
    QTest::newRow("leading zeros and blanks")
        << "type:txtLoopCount= 007 " << "txtLoopCount=7;vscLoopCount.value=247;outLoopCount=ST O 7";
    QTest::newRow("write time-out") << "type:txtWriteTimeout=254" << "vscWriteTimeout.value=0;outWriteTimeout=ST T 254";
    QTest::newRow("file offset at the top")
        << "type:txtFileOffset=32767" << "txtFileOffset=32767;vscFileOffset.value=0;outFileOffset=ST N 32767";
    QTest::newRow("file offset")
        << "typeTab:txtFileOffset=12345" << "txtFileOffset=12345;vscFileOffset.value=20422;outFileOffset=ST N 12345";
    QTest::newRow("volume, Same as L")
        << "type:txtVolumeL=30" << "txtVolumeL=30;txtVolumeR=30;vscVolumeL.value=30;vscVolumeR.value=30;outVolume=ST V 30";
    QTest::newRow("right volume, unlocked")
        << "chkVolumeLocked=0;vscVolumeL=10;type:txtVolumeR=40"
        << "txtVolumeR.readOnly=0;txtVolumeR=40;vscVolumeR.value=40;txtVolumeL=10;outVolume=ST V 10 40";
    QTest::newRow("frequency") << "type:txtBBFreq=120"
                               << "txtBBFreq=120;vscBBFreq.value=3;txtBBBoost=0;outBassBoost=ST B 12;chkBassBoost.checked=1";
    QTest::newRow("boost at 50 Hz") << "vscBBFreq=10;type:txtBBBoost=15"
                                    << "txtBBBoost=15;vscBBBoost.value=0;txtBBFreq=50;outBassBoost=ST B 245";
    QTest::newRow("frequency 0 with no boost") << "vscBBFreq=10;typeTab:txtBBFreq=0"
                                               << "txtBBFreq=0;vscBBFreq.value=15;outBassBoost=ST B 0;chkBassBoost.checked=0";

    // Out of range: refused, the box and the setting string as they were.
    QTest::newRow("loop count 255")
        << "vscLoopCount=251;type:txtLoopCount=255"
        << "txtLoopCount=3;vscLoopCount.value=251;outLoopCount=ST O 3;status=Loop Count: 255 is out of range (0 to 254)";
    QTest::newRow("loop count below 0")
        << "vscLoopCount=251;typeTab:txtLoopCount=-1"
        << "txtLoopCount=3;outLoopCount=ST O 3;status=Loop Count: -1 is out of range (0 to 254)";
    QTest::newRow("file offset 32768")
        << "vscFileOffset=32667;type:txtFileOffset=32768"
        << "txtFileOffset=100;vscFileOffset.value=32667;outFileOffset=ST N 100;"
           "status=Input File Number Offset: 32768 is out of range (0 to 32767)";
    QTest::newRow("more digits than any number")
        << "vscWriteTimeout=234;type:txtWriteTimeout=99999999999999"
        << "txtWriteTimeout=20;outWriteTimeout=ST T 20;status=Write Time-out: 99999999999999 is out of range (0 to 254)";
    QTest::newRow("volume 255")
        << "vscVolumeL=16;type:txtVolumeL=255"
        << "txtVolumeL=16;vscVolumeL.value=16;outVolume=ST V 16;status=Volume Left: 255 is out of range (0 to 254)";
    QTest::newRow("frequency 160")
        << "vscBBFreq=10;type:txtBBFreq=160"
        << "txtBBFreq=50;vscBBFreq.value=10;outBassBoost=ST B 5;"
           "status=Bass Boost Frequency: 160 is out of range (0 to 150 Hz in steps of 10)";
    QTest::newRow("frequency not a multiple of 10")
        << "vscBBFreq=10;type:txtBBFreq=45"
        << "txtBBFreq=50;vscBBFreq.value=10;outBassBoost=ST B 5;"
           "status=Bass Boost Frequency: 45 is not a multiple of 10 (0 to 150 Hz in steps of 10)";
    QTest::newRow("boost 16")
        << "vscBBBoost=13;type:txtBBBoost=16"
        << "txtBBBoost=2;vscBBBoost.value=13;status=Bass Boost: 16 is out of range (0 to 15 dB)";

    // Not numbers.
    QTest::newRow("letters")
        << "vscLoopCount=251;type:txtLoopCount=abc"
        << "txtLoopCount=3;vscLoopCount.value=251;outLoopCount=ST O 3;status=Loop Count: 'abc' is not a number (0 to 254)";
    QTest::newRow("digits and a letter")
        << "vscLoopCount=251;typeTab:txtLoopCount=12a" << "txtLoopCount=3;status=Loop Count: '12a' is not a number (0 to 254)";
    QTest::newRow("a fraction")
        << "vscLoopCount=251;type:txtLoopCount=3.5" << "txtLoopCount=3;status=Loop Count: '3.5' is not a number (0 to 254)";
    QTest::newRow("a plus sign")
        << "vscLoopCount=251;type:txtLoopCount=+5" << "txtLoopCount=3;status=Loop Count: '+5' is not a number (0 to 254)";
    QTest::newRow("two numbers")
        << "vscLoopCount=251;type:txtLoopCount=1 2" << "txtLoopCount=3;status=Loop Count: '1 2' is not a number (0 to 254)";
    QTest::newRow("nothing")
        << "vscLoopCount=251;type:txtLoopCount=" << "txtLoopCount=3;status=Loop Count: '' is not a number (0 to 254)";
    QTest::newRow("markup")
        << "vscVolumeL=16;type:txtVolumeL=<b>1</b>"
        << "txtVolumeL=16;outVolume=ST V 16;status=Volume Left: '<b>1</b>' is not a number (0 to 254)";
    QTest::newRow("a box never filled stays empty")
        << "type:txtFileOffset=abc"
        << "txtFileOffset=;outFileOffset=;vscFileOffset.value=32767;"
           "status=Input File Number Offset: 'abc' is not a number (0 to 32767)";

    // Nothing typed: nothing checked, nothing refused.
    QTest::newRow("a box left untouched")
        << "vscLoopCount=251;leave:txtLoopCount" << "txtLoopCount=3;outLoopCount=ST O 3;status=";
    QTest::newRow("a box the program emptied, then left")
        << "vscLoopCount=251;clear:txtLoopCount;leave:txtLoopCount" << "txtLoopCount=;vscLoopCount.value=251;status=";

    // While "Same as L" is checked the right channel follows the left one: nothing to type.
    QTest::newRow("right volume, Same as L")
        << "vscVolumeL=16;type:txtVolumeR=40"
        << "txtVolumeR.readOnly=1;txtVolumeR=16;vscVolumeR.value=16;outVolume=ST V 16;status=";
    QTest::newRow("locking again makes the right box read-only")
        << "chkVolumeLocked=0;chkVolumeLocked=1" << "txtVolumeR.readOnly=1";
}

void tst_Settings::typedNumbers()
{
    QFETCH(QString, actions);
    QFETCH(QString, checks);
    runEdits(actions, checks);
}

// Page Up and Page Down move a spinner by its page step, as the arrows move it by one:
// Page Up as the upper arrow.
void tst_Settings::pageKeys_data()
{
    QTest::addColumn<QString>("actions");
    QTest::addColumn<QString>("checks");
    QTest::newRow("loop count, Page Up")
        << "vscLoopCount=251;key:vscLoopCount=PageUp" << "vscLoopCount.value=241;txtLoopCount=13;outLoopCount=ST O 13";
    QTest::newRow("loop count, Page Down")
        << "vscLoopCount=241;key:vscLoopCount=PageDown" << "vscLoopCount.value=251;txtLoopCount=3;outLoopCount=ST O 3";
    QTest::newRow("loop count, Page Down stops at 0")
        << "vscLoopCount=250;key:vscLoopCount=PageDown" << "vscLoopCount.value=254;txtLoopCount=0;outLoopCount=ST O 0";
    QTest::newRow("write time-out, Page Up")
        << "key:vscWriteTimeout=PageUp" << "vscWriteTimeout.value=244;txtWriteTimeout=10;outWriteTimeout=ST T 10";
    QTest::newRow("file offset, Page Up")
        << "key:vscFileOffset=PageUp" << "vscFileOffset.value=31767;txtFileOffset=1000;outFileOffset=ST N 1000";
    QTest::newRow("file offset, Page Up twice")
        << "key:vscFileOffset=PageUp;key:vscFileOffset=PageUp" << "txtFileOffset=2000;outFileOffset=ST N 2000";
    QTest::newRow("file offset, Page Up stops at 32767")
        << "vscFileOffset=500;key:vscFileOffset=PageUp" << "vscFileOffset.value=0;txtFileOffset=32767;outFileOffset=ST N 32767";
    QTest::newRow("file offset, Page Down")
        << "vscFileOffset=0;key:vscFileOffset=PageDown" << "vscFileOffset.value=1000;txtFileOffset=31767";
    QTest::newRow("volume, Page Down")
        << "key:vscVolumeL=PageDown" << "vscVolumeL.value=10;txtVolumeL=10;txtVolumeR=10;outVolume=ST V 10";
    QTest::newRow("volume, Page Up")
        << "vscVolumeL=25;key:vscVolumeL=PageUp" << "vscVolumeL.value=15;txtVolumeL=15;outVolume=ST V 15";
    QTest::newRow("right volume, unlocked")
        << "chkVolumeLocked=0;vscVolumeL=5;key:vscVolumeR=PageDown" << "vscVolumeR.value=10;outVolume=ST V 5 10";
    QTest::newRow("frequency, Page Up")
        << "key:vscBBFreq=PageUp" << "vscBBFreq.value=10;txtBBFreq=50;outBassBoost=ST B 5;chkBassBoost.checked=1";
    QTest::newRow("boost, Page Up") << "key:vscBBBoost=PageUp" << "vscBBBoost.value=10;txtBBBoost=5;outBassBoost=ST B 80";
}

void tst_Settings::pageKeys()
{
    QFETCH(QString, actions);
    QFETCH(QString, checks);
    runEdits(actions, checks);
}

// --- read -------------------------------------------------------------------------------

void tst_Settings::readOnConnect_data()
{
    // The module's volume is 10 left, 20 right: shown and kept as such, whatever "Same as
    // L" said before (locked, Write would send 10 for both and change the right channel).
    QTest::addColumn<bool>("locked");
    QTest::addColumn<QString>("right");
    QTest::addColumn<QString>("volume");
    QTest::newRow("Same as L") << true << "20" << "ST V 10 20";
    QTest::newRow("two channels") << false << "20" << "ST V 10 20";
}

void tst_Settings::readOnConnect()
{
    QFETCH(bool, locked);
    QFETCH(QString, right);
    QFETCH(QString, volume);

    KavoSim sim;
    QVERIFY(sim.start({QStringLiteral("--state"), m_stateFile}));
    MessageBoxes boxes;
    auto w = openWindow();
    QVERIFY(w);
    WindowDriver window(w.get());
    QVERIFY(window.pick(QStringLiteral("lstPCCOM"), sim.comName()));
    if (window.checked(QStringLiteral("chkVolumeLocked")) != locked)
        clickBox(window, QStringLiteral("chkVolumeLocked"));
    QCOMPARE(window.checked(QStringLiteral("chkVolumeLocked")), locked);
    QVERIFY(window.checked(QStringLiteral("chkAutoBitRate")));

    // Open reads all settings once the module is found.
    QVERIFY(window.click(QStringLiteral("cmdOpenCOM")));
    QVERIFY(window.connected());
    QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.texts().join(QLatin1Char('|'))));
    QCOMPARE(window.status(), QStringLiteral("All Settings Received"));

    QCOMPARE(window.value(QStringLiteral("lstKAVOBPS")), 0);
    QCOMPARE(window.text(QStringLiteral("outKAVOBPS")), QStringLiteral("ST D 0"));
    QCOMPARE(window.value(QStringLiteral("vscWriteTimeout")), 254 - 37);
    QCOMPARE(window.text(QStringLiteral("txtWriteTimeout")), QStringLiteral("37"));
    QCOMPARE(window.text(QStringLiteral("outWriteTimeout")), QStringLiteral("ST T 37"));
    QCOMPARE(window.value(QStringLiteral("lstInputStyle")), 2);
    QCOMPARE(window.text(QStringLiteral("outInputStyle")), QStringLiteral("ST S 2"));
    QCOMPARE(window.value(QStringLiteral("vscFileOffset")), 32767 - 12345);
    QCOMPARE(window.text(QStringLiteral("txtFileOffset")), QStringLiteral("12345"));
    QCOMPARE(window.text(QStringLiteral("outFileOffset")), QStringLiteral("ST N 12345"));
    QVERIFY(!window.checked(QStringLiteral("chkBusyIndicator")));
    QCOMPARE(window.text(QStringLiteral("outBusyIndicator")), QStringLiteral("ST H 0"));
    QCOMPARE(window.text(QStringLiteral("txtVolumeL")), QStringLiteral("10"));
    QCOMPARE(window.text(QStringLiteral("txtVolumeR")), right);
    QCOMPARE(window.value(QStringLiteral("vscVolumeR")), right.toInt());
    QCOMPARE(window.text(QStringLiteral("outVolume")), volume);
    QVERIFY(!window.checked(QStringLiteral("chkVolumeLocked")));
    QVERIFY(window.enabled(QStringLiteral("vscVolumeR")));
    QCOMPARE(window.value(QStringLiteral("vscLoopCount")), 254 - 3);
    QCOMPARE(window.text(QStringLiteral("txtLoopCount")), QStringLiteral("3"));
    QCOMPARE(window.text(QStringLiteral("outLoopCount")), QStringLiteral("ST O 3"));
    QCOMPARE(window.value(QStringLiteral("vscBBFreq")), 15 - 5);
    QCOMPARE(window.text(QStringLiteral("txtBBFreq")), QStringLiteral("50"));
    QCOMPARE(window.value(QStringLiteral("vscBBBoost")), 15 - 2);
    QCOMPARE(window.text(QStringLiteral("txtBBBoost")), QStringLiteral("2"));
    QVERIFY(window.checked(QStringLiteral("chkBassBoost")));
    QCOMPARE(window.text(QStringLiteral("outBassBoost")), QStringLiteral("ST B 37"));
    QVERIFY(window.checked(QStringLiteral("chkUninterrupted")));
    QCOMPARE(window.text(QStringLiteral("outUninterrupted")), QStringLiteral("ST U 1"));

    // The queries went out in the order of the status texts (each line is logged before
    // its answer goes out, so all of them are in the log once the read is over).
    QCOMPARE(settingCommands(sim), ReadOrder);

    // Reading again gives the same state.
    const QStringList first = snapshot(window);
    const qsizetype before = sim.commands().size();
    QVERIFY(window.click(QStringLiteral("cmdReadSettings")));
    QCOMPARE(window.status(), QStringLiteral("All Settings Received"));
    QCOMPARE(snapshot(window), first);
    QTRY_COMPARE_WITH_TIMEOUT(commandsFrom(sim, before), ReadOrder, 10000);
    QVERIFY(window.enabled(QStringLiteral("cmdReadSettings")));
    QVERIFY(boxes.seen.isEmpty());
}

void tst_Settings::readBadReplies_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<int>("stopsAt");   // index in the read order; -1: the read completes
    QTest::addColumn<QString>("text");

    QTest::newRow("no answer") << "ST V=" << 5 << "Could not read Volume - 'V': no answer";
    QTest::newRow("prompt alone") << "ST D=>" << 0 << "Could not read Bit Rate - 'D': empty reply";
    QTest::newRow("error reply") << "ST V=E05>" << 5 << "Could not read Volume - 'V': reply 'E05'";
    QTest::newRow("garbage") << "ST N=1x\\x01>" << 3
                             << "Could not read Input File Number Offset - 'N': reply '1x\\x01'";
    QTest::newRow("out of range") << "ST T=255>" << 1
                                  << "Could not read Write Time-out - 'T': reply '255' is out of range (0 to 254)";
    QTest::newRow("bass boost over a byte") << "ST B=256>" << 7
                                            << "Could not read Bass Boost - 'B': reply '256' is out of range (0 to 255)";
    QTest::newRow("CR LF around a good value") << "ST O=\\r\\n3\\r\\n>" << -1 << "All Settings Received";
    QTest::newRow("reply in two chunks") << "ST V=10 \\|20>" << -1 << "All Settings Received";
}

// The read of Open, then a Read after a settings file filled every setting: each stops at
// the bad reply, keeps what it read before it and leaves the rest empty.
void tst_Settings::readBadReplies()
{
    QFETCH(QString, reply);
    QFETCH(int, stopsAt);
    QFETCH(QString, text);

    KavoSim sim;
    MessageBoxes boxes;
    auto w = connectTo(sim, {QStringLiteral("--reply"), reply});
    QVERIFY(w);
    WindowDriver window(w.get());
    const int end = stopsAt < 0 ? ReadOrder.size() : stopsAt;
    const QStringList expected = ModuleStrings.mid(0, end) + QStringList(ReadOrder.size() - end, QString());
    const QStringList asked = ReadOrder.mid(0, stopsAt < 0 ? ReadOrder.size() : stopsAt + 1);

    QCOMPARE(window.status(), text);
    QVERIFY(window.connected());
    QCOMPARE(settingStrings(window), expected);
    QCOMPARE(settingCommands(sim), asked);

    // Other values in every setting, then Read.
    const QString file = m_dir.filePath(QStringLiteral("other.kavo"));
    QVERIFY(writeFile(file, "ST D 2\nST T 20\nST S 1\nST N 0\nST H 1\nST V 16\nST O 1\nST B 0\nST U 0\n"));
    w->setFileDialogForTesting([file](bool) { return file; });
    QVERIFY(window.trigger(QStringLiteral("mnuFileOpenSettings")));
    shown();
    QCOMPARE(settingStrings(window),
             QStringList({"ST D 2", "ST T 20", "ST S 1", "ST N 0", "ST H 1", "ST V 16", "ST O 1", "ST B 0", "ST U 0"}));
    QVERIFY(window.click(QStringLiteral("cmdReadSettings")));
    shown();
    QCOMPARE(window.status(), text);
    QCOMPARE(settingStrings(window), expected);
    // Nothing after the bad setting was asked for, in either read.
    QTRY_COMPARE_WITH_TIMEOUT(settingCommands(sim), asked + asked, 10000);
    QVERIFY(boxes.seen.isEmpty());
}

void tst_Settings::readStopsWhenPortIsLost()
{
    KavoSim sim;
    QVERIFY(sim.start({QStringLiteral("--state"), m_stateFile, QStringLiteral("--reply"), QStringLiteral("ST N=5\\|>"),
                       QStringLiteral("--chunk-delay"), QStringLiteral("3000")}));
    MessageBoxes boxes;
    auto w = openWindow();
    QVERIFY(w);
    WindowDriver window(w.get());

    // The module is pulled while the read of Open waits for the rest of an answer.
    QVERIFY(openPort(window, sim, false));
    QTRY_VERIFY_WITH_TIMEOUT(window.status() == QStringLiteral("Getting Input File Number Offset - 'N'")
                                 && sim.commands().contains(QStringLiteral("ST N")),
                             10000);
    QVERIFY(window.busy());
    sim.kill();
    QVERIFY(window.waitIdle());

    // A hung-up line is a lost port, not a silent module.
    QVERIFY2(window.status().startsWith(sim.comName()) && window.status().contains(QStringLiteral(" was disconnected")),
             qPrintable(window.status()));
    QVERIFY(!window.connected());
    QVERIFY(window.text(QStringLiteral("StatusPanel1")).isEmpty());
    QCOMPARE(settingStrings(window), ModuleStrings.mid(0, 3) + QStringList(6, QString()));
    QCOMPARE(settingCommands(sim), ReadOrder.mid(0, 4));
    QVERIFY(boxes.seen.isEmpty());
}

// One reading, three views: the window's setting strings, a settings file saved from the
// window and what kavoctl reads from the same module carry the same nine strings.
void tst_Settings::sameStringsEverywhere()
{
    const QString state = m_dir.filePath(QStringLiteral("state-30-40.txt"));
    QVERIFY(writeFile(state, "D=0\nT=5\nS=1\nN=77\nH=1\nV=30 40\nO=0\nB=37\nU=0\n"));
    KavoSim sim;
    QVERIFY(sim.start({QStringLiteral("--state"), state}));
    MessageBoxes boxes;
    auto w = openWindow();
    QVERIFY(w);
    WindowDriver window(w.get());
    QVERIFY(openPort(window, sim));
    QCOMPARE(window.status(), QStringLiteral("All Settings Received"));
    const QStringList inWindow = settingStrings(window);
    QVERIFY2(inWindow.contains(QStringLiteral("ST V 30 40")) && inWindow.contains(QStringLiteral("ST B 37")),
             qPrintable(inWindow.join(QLatin1Char('|'))));

    const QString saved = m_dir.filePath(QStringLiteral("saved.kavo"));
    w->setFileDialogForTesting([saved](bool forSaving) { return forSaving ? saved : QString(); });
    QVERIFY(window.trigger(QStringLiteral("mnuFileSaveSettings")));
    QFile file(saved);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList inFile = fileLines(file.readAll());

    // The window lets the port go; kavoctl reads the same module.
    QVERIFY(window.click(QStringLiteral("cmdOpenCOM")));
    QVERIFY(!window.connected());
    QProcess kavoctl;
    kavoctl.start(QStringLiteral(KAVOCTL_PATH), {QStringLiteral("read"), QStringLiteral("--port"), sim.comName()});
    QVERIFY(kavoctl.waitForFinished(60000));
    QVERIFY2(kavoctl.exitCode() == 0, kavoctl.readAllStandardError().constData());
    const QStringList fromKavoctl = fileLines(kavoctl.readAllStandardOutput());

    QCOMPARE(sorted(inFile), sorted(inWindow));
    QCOMPARE(sorted(fromKavoctl), sorted(inWindow));
    QVERIFY(boxes.seen.isEmpty());
}

// --- write ------------------------------------------------------------------------------

void tst_Settings::writeEqualRates()
{
    KavoSim sim;
    MessageBoxes boxes;
    auto w = connectTo(sim);
    QVERIFY(w);
    WindowDriver window(w.get());
    QCOMPARE(window.status(), QStringLiteral("All Settings Received"));

    const qsizetype before = sim.commands().size();
    arrow(window, QStringLiteral("vscLoopCount"), true);
    // The two channels read differ: "Same as L" is off, and the right one moves alone.
    QVERIFY(!window.checked(QStringLiteral("chkVolumeLocked")));
    window.find<QScrollBar>(QStringLiteral("vscVolumeR"))->setValue(30);
    clickBox(window, QStringLiteral("chkBassBoost"));
    shown();

    QVERIFY(window.click(QStringLiteral("cmdWriteSettings")));
    QCOMPARE(window.status(), QStringLiteral("All Settings Stored"));
    const QStringList written = {QStringLiteral("ST T 37"), QStringLiteral("ST S 2"), QStringLiteral("ST N 12345"),
                                 QStringLiteral("ST H 0"), QStringLiteral("ST V 10 30"), QStringLiteral("ST O 4"),
                                 QStringLiteral("ST B 0"), QStringLiteral("ST U 1"), QStringLiteral("ST D 0")};
    QCOMPARE(window.text(QStringLiteral("StatusPanel2")), QStringLiteral("9600,N,8,1"));
    QVERIFY(window.connected());

    // The module holds what was written.
    QVERIFY(window.click(QStringLiteral("cmdReadSettings")));
    QCOMPARE(window.status(), QStringLiteral("All Settings Received"));
    QCOMPARE(window.text(QStringLiteral("txtLoopCount")), QStringLiteral("4"));
    QCOMPARE(window.text(QStringLiteral("txtVolumeR")), QStringLiteral("30"));
    QCOMPARE(window.text(QStringLiteral("outBassBoost")), QStringLiteral("ST B 0"));

    // The edits sent nothing; then the nine lines and nothing else (the port stayed open at
    // its rate, no probe followed), all answered at 9600 bps; then the read.
    QTRY_COMPARE_WITH_TIMEOUT(commandsFrom(sim, before), written + ReadOrder, 10000);
    for (const TrafficLine &line : sim.log().mid(before, written.size())) {
        QCOMPARE(line.rate, 9600);
        QCOMPARE(line.answer, QStringLiteral(">"));
    }
    QVERIFY(boxes.seen.isEmpty());
}

void tst_Settings::writeNewBitRate()
{
    KavoSim sim;
    MessageBoxes boxes;
    auto w = connectTo(sim);
    QVERIFY(w);
    WindowDriver window(w.get());

    QVERIFY(window.pick(QStringLiteral("lstKAVOBPS"), QStringLiteral("115200")));
    QCOMPARE(window.text(QStringLiteral("lstPCBPS")), QStringLiteral("9600"));
    const qsizetype before = sim.commands().size();
    QVERIFY(window.click(QStringLiteral("cmdWriteSettings")));
    QCOMPARE(window.status(), QStringLiteral("All Settings Stored"));
    QCOMPARE(window.text(QStringLiteral("lstPCBPS")), QStringLiteral("115200"));
    QCOMPARE(window.text(QStringLiteral("StatusPanel1")), sim.comName());
    QCOMPARE(window.text(QStringLiteral("StatusPanel2")), QStringLiteral("115200,N,8,1"));
    QVERIFY(window.connected());

    // Nine lines at the old rate, the bit rate last, then the probe at the new rate.
    QTRY_VERIFY_WITH_TIMEOUT(sim.log().size() >= before + 11, 10000);
    const QList<TrafficLine> log = sim.log().mid(before);
    for (int i = 0; i < 9; ++i)
        QCOMPARE(log[i].rate, 9600);
    QCOMPARE(log[8].command, QStringLiteral("ST D 4"));
    QCOMPARE(log[8].answer, QStringLiteral(">"));
    QCOMPARE(log[9].command, QStringLiteral("\\e"));
    QCOMPARE(log[9].rate, 115200);
    QVERIFY(!log[9].answer.isEmpty());

    // The connection works at the new rate.
    QVERIFY(window.click(QStringLiteral("cmdReadSettings")));
    QCOMPARE(window.status(), QStringLiteral("All Settings Received"));
    QCOMPARE(window.text(QStringLiteral("outKAVOBPS")), QStringLiteral("ST D 4"));
    QTRY_COMPARE_WITH_TIMEOUT(sim.log().last().command, QStringLiteral("ST U"), 10000);
    QCOMPARE(sim.log().last().rate, 115200);
    QVERIFY(boxes.seen.isEmpty());
}

void tst_Settings::writeReportsRefusals_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("moduleRate");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("pcRate");   // the PC port's rate afterwards

    const auto reply = [](const char *text) { return QStringList{"--reply", text}; };
    QTest::newRow("error reply") << reply("ST O 3=E05>") << "9600" << "Not stored: Loop Count - 'O' (reply 'E05')"
                                 << "9600";
    QTest::newRow("other reply") << reply("ST T 37=ok\\r\\n>") << "9600"
                                 << "Not stored: Write Time-out - 'T' (reply 'ok\\r\\n')" << "9600";
    QTest::newRow("no answer") << reply("ST U 1=") << "9600" << "Not stored: Uninterrupted Playback - 'U' (no answer)"
                               << "9600";
    QTest::newRow("bit rate refused") << reply("ST D 4=E05>") << "115200"
                                      << "Not stored: Bit Rate - 'D' (reply 'E05'); PC COM bit rate left at 9600 bps"
                                      << "9600";
    // The module took the line but stays at its rate: found there again.
    QTest::newRow("no answer at the new rate")
        << reply("ST D 4=>") << "115200" << "the Kavo answers at 9600 bps, not at 115200 bps: PC COM bit rate left at "
                                            "9600 bps"
        << "9600";
    // Answered after the wait for it gave up: the module moved all the same, and so does
    // the PC port.
    QTest::newRow("bit rate answered late") << QStringList{"--delay", "ST D 4=1300"} << "115200" << "All Settings Stored"
                                            << "115200";
}

void tst_Settings::writeReportsRefusals()
{
    QFETCH(QStringList, options);
    QFETCH(QString, moduleRate);
    QFETCH(QString, text);
    QFETCH(QString, pcRate);

    KavoSim sim;
    MessageBoxes boxes;
    auto w = connectTo(sim, options);
    QVERIFY(w);
    WindowDriver window(w.get());
    QCOMPARE(window.status(), QStringLiteral("All Settings Received"));
    QVERIFY(window.pick(QStringLiteral("lstKAVOBPS"), moduleRate));

    const qsizetype before = sim.commands().size();
    QVERIFY(window.click(QStringLiteral("cmdWriteSettings")));
    QCOMPARE(window.status(), text);
    QCOMPARE(window.text(QStringLiteral("StatusPanel2")), pcRate + QStringLiteral(",N,8,1"));
    QCOMPARE(window.text(QStringLiteral("lstPCBPS")), pcRate);
    QVERIFY(window.connected());
    QVERIFY(boxes.seen.isEmpty());

    // The others were still sent, in order, the bit rate last.
    QTRY_VERIFY_WITH_TIMEOUT(sim.commands().size() >= before + 9, 10000);
    QCOMPARE(letters(commandsFrom(sim, before).mid(0, 9)), QStringLiteral("TSNHVOBUD"));
}

void tst_Settings::writeReopenFails()
{
    KavoSim sim;
    MessageBoxes boxes;
    auto w = connectTo(sim);
    QVERIFY(w);
    WindowDriver window(w.get());

    // The open port keeps working, but the COM name no longer leads to a device.
    const QString link = ComPorts::portsFolder() + QStringLiteral("/") + sim.comName();
    QVERIFY(QFile::remove(link));
    QVERIFY(window.pick(QStringLiteral("lstKAVOBPS"), QStringLiteral("57600")));
    QVERIFY(window.click(QStringLiteral("cmdWriteSettings")));

    QCOMPARE(boxes.seen.size(), 1);
    QVERIFY2(boxes.seen[0].text.startsWith(QStringLiteral("Com%1 is not available.\r\n").arg(sim.com())),
             qPrintable(boxes.seen[0].text));
    QCOMPARE(window.status(), QStringLiteral("COM%1 could not be reopened at 57600 bps; not connected").arg(sim.com()));
    QVERIFY(!window.connected());
    // No port is open: the status line names none.
    QVERIFY(window.text(QStringLiteral("StatusPanel1")).isEmpty());
    QVERIFY(window.enabled(QStringLiteral("cmdOpenCOM")));
    QVERIFY(!window.enabled(QStringLiteral("cmdReadSettings")));
    QVERIFY(!window.enabled(QStringLiteral("cmdWriteSettings")));
    QVERIFY(!window.enabled(QStringLiteral("cmdPlayTest")));
    QVERIFY(window.enabled(QStringLiteral("lstPCCOM")));
    QVERIFY(QFile::link(sim.device(), link));
}

void tst_Settings::writeBeforeCompleteRead_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("missing");
    QTest::newRow("nothing read") << "ST D=E05>"
                                  << "Write Time-out, Input Style, Input File Number Offset, Hardware Busy Indicator, "
                                     "Volume, Loop Count, Bass Boost, Uninterrupted Playback, Bit Rate";
    QTest::newRow("read stopped at V") << "ST V=E05>" << "Volume, Loop Count, Bass Boost, Uninterrupted Playback";
}

// Write needs all nine settings: it names the missing ones and sends nothing; once each
// is set by hand, Write sends them.
void tst_Settings::writeBeforeCompleteRead()
{
    QFETCH(QString, reply);
    QFETCH(QString, missing);

    KavoSim sim;
    MessageBoxes boxes;
    auto w = connectTo(sim, {QStringLiteral("--reply"), reply});
    QVERIFY(w);
    WindowDriver window(w.get());
    // An edit fills one more string; the rest is still missing.
    arrow(window, QStringLiteral("vscLoopCount"), true);

    const qsizetype before = sim.commands().size();
    QVERIFY(window.click(QStringLiteral("cmdWriteSettings")));
    const QString loopCount = QStringLiteral("Loop Count, ");
    QCOMPARE(window.status(),
             QStringLiteral("Nothing written: no value for %1 (press Read, set them, or open a settings file)")
                 .arg(QString(missing).remove(loopCount)));

    // Each missing setting set by hand, as a user would.
    const QMap<QString, std::function<bool()>> byHand = {
        {QStringLiteral("Bit Rate"), [&] { return window.pick(QStringLiteral("lstKAVOBPS"), QStringLiteral("9600")); }},
        {QStringLiteral("Write Time-out"), [&] { return window.key(QStringLiteral("vscWriteTimeout"), Qt::Key_Up); }},
        {QStringLiteral("Input Style"),
         [&] { return window.pick(QStringLiteral("lstInputStyle"), QStringLiteral("8 Switch Input")); }},
        {QStringLiteral("Input File Number Offset"), [&] { return window.key(QStringLiteral("vscFileOffset"), Qt::Key_Up); }},
        {QStringLiteral("Hardware Busy Indicator"), [&] {
             clickBox(window, QStringLiteral("chkBusyIndicator"));
             return true;
         }},
        {QStringLiteral("Volume"), [&] { return window.key(QStringLiteral("vscVolumeL"), Qt::Key_Down); }},
        {QStringLiteral("Bass Boost"), [&] { return window.key(QStringLiteral("vscBBBoost"), Qt::Key_Up); }},
        {QStringLiteral("Uninterrupted Playback"), [&] {
             clickBox(window, QStringLiteral("chkUninterrupted"));
             return true;
         }},
    };
    for (const QString &name : QString(missing).remove(loopCount).split(QStringLiteral(", "))) {
        QVERIFY2(byHand.contains(name), qPrintable(name));
        QVERIFY2(byHand[name](), qPrintable(name));
    }
    shown();
    QStringList shownStrings;
    for (const char letter : std::string_view(SettingTable::WriteOrder))
        shownStrings << window.text(SettingStrings[ReadOrder.indexOf(QStringLiteral("ST ") + QLatin1Char(letter))]);
    QVERIFY2(!shownStrings.contains(QString()), qPrintable(shownStrings.join(QLatin1Char('|'))));

    QVERIFY(window.click(QStringLiteral("cmdWriteSettings")));
    QCOMPARE(window.status(), QStringLiteral("All Settings Stored"));
    // The refused Write sent nothing; this one the strings shown.
    QTRY_COMPARE_WITH_TIMEOUT(commandsFrom(sim, before), shownStrings, 10000);
    QVERIFY(boxes.seen.isEmpty());
}

// An edit made while Write runs reaches the rows not sent yet; the row being sent has been
// taken already. Meanwhile the buttons that start operations are off and the setting
// controls usable.
void tst_Settings::editDuringWrite()
{
    KavoSim sim;
    MessageBoxes boxes;
    // The first row's answer takes a while, so edits come while it is awaited.
    auto w = connectTo(sim, {QStringLiteral("--reply"), QStringLiteral("ST T 37=\\|>"), QStringLiteral("--chunk-delay"),
                             QStringLiteral("650")});
    QVERIFY(w);
    WindowDriver window(w.get());

    const qsizetype before = sim.commands().size();
    clickNoWait(window, QStringLiteral("cmdWriteSettings"));
    QTRY_VERIFY_WITH_TIMEOUT(window.status() == QStringLiteral("Setting Write Time-out - 'T'")
                                 && sim.commands().contains(QStringLiteral("ST T 37")),
                             10000);
    QVERIFY(window.busy());
    for (const char *button : {"cmdOpenCOM", "cmdReadSettings", "cmdWriteSettings", "cmdPlayTest"})
        QVERIFY2(!window.enabled(QLatin1String(button)), button);
    QVERIFY(window.enabled(QStringLiteral("vscLoopCount")));
    QVERIFY(window.enabled(QStringLiteral("vscWriteTimeout")));
    // A click on Read does nothing while the write runs.
    clickNoWait(window, QStringLiteral("cmdReadSettings"));
    // The row being sent was taken already; a later row takes the edit (the key waits
    // until the write is over).
    arrow(window, QStringLiteral("vscWriteTimeout"), true);
    QVERIFY(window.busy());
    QVERIFY(window.key(QStringLiteral("vscLoopCount"), Qt::Key_Up));
    shown();

    QCOMPARE(window.status(), QStringLiteral("All Settings Stored"));
    QVERIFY(window.enabled(QStringLiteral("cmdReadSettings")));
    QVERIFY(window.enabled(QStringLiteral("cmdWriteSettings")));
    QCOMPARE(window.text(QStringLiteral("outWriteTimeout")), QStringLiteral("ST T 38"));
    QCOMPARE(window.text(QStringLiteral("outLoopCount")), QStringLiteral("ST O 4"));
    const QStringList written = {QStringLiteral("ST T 37"), QStringLiteral("ST S 2"), QStringLiteral("ST N 12345"),
                                 QStringLiteral("ST H 0"),  QStringLiteral("ST V 10 20"), QStringLiteral("ST O 4"),
                                 QStringLiteral("ST B 37"), QStringLiteral("ST U 1"), QStringLiteral("ST D 0")};

    // The module holds what was sent; the click on Read during the write sent nothing.
    QVERIFY(window.click(QStringLiteral("cmdReadSettings")));
    QCOMPARE(window.text(QStringLiteral("outWriteTimeout")), QStringLiteral("ST T 37"));
    QCOMPARE(window.text(QStringLiteral("outLoopCount")), QStringLiteral("ST O 4"));
    QTRY_COMPARE_WITH_TIMEOUT(commandsFrom(sim, before), written + ReadOrder, 10000);
    QVERIFY(boxes.seen.isEmpty());
}

// Numbers typed into the boxes go to the module on Write, as spinner moves do: the nine
// command lines in the traffic log carry them, and reading again shows them.
void tst_Settings::writeTypedNumbers()
{
    KavoSim sim;
    MessageBoxes boxes;
    auto w = connectTo(sim);
    QVERIFY(w);
    WindowDriver window(w.get());
    QCOMPARE(window.status(), QStringLiteral("All Settings Received"));
    const qsizetype before = sim.commands().size();

    // Enter applies a number, so does leaving the box (with Tab, or by clicking Write).
    QVERIFY(window.type(QStringLiteral("txtWriteTimeout"), QStringLiteral("100")));
    QVERIFY(window.type(QStringLiteral("txtFileOffset"), QStringLiteral("30000"), Qt::Key_Tab));
    // A refused number leaves the value read, a good one then takes its place.
    QVERIFY(window.type(QStringLiteral("txtLoopCount"), QStringLiteral("300")));
    QCOMPARE(window.status(), QStringLiteral("Loop Count: 300 is out of range (0 to 254)"));
    QCOMPARE(window.text(QStringLiteral("outLoopCount")), QStringLiteral("ST O 3"));
    QVERIFY(window.type(QStringLiteral("txtLoopCount"), QStringLiteral("9")));
    // Each channel its own volume (the two read differ, so "Same as L" is off).
    QVERIFY(!window.checked(QStringLiteral("chkVolumeLocked")));
    QVERIFY(window.type(QStringLiteral("txtVolumeL"), QStringLiteral("40"), Qt::Key_Tab));
    QVERIFY(window.type(QStringLiteral("txtVolumeR"), QStringLiteral("50")));
    QVERIFY(window.type(QStringLiteral("txtBBFreq"), QStringLiteral("120")));
    // Typed, and left by the click on Write.
    auto *boost = window.find<QLineEdit>(QStringLiteral("txtBBBoost"));
    boost->setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(boost->hasFocus());
    boost->selectAll();
    QTest::keyClick(boost, Qt::Key_Backspace);
    QTest::keyClicks(boost, QStringLiteral("15"));

    QVERIFY(window.click(QStringLiteral("cmdWriteSettings")));
    QCOMPARE(window.text(QStringLiteral("txtBBBoost")), QStringLiteral("15"));
    QCOMPARE(window.status(), QStringLiteral("All Settings Stored"));
    const QStringList written = {QStringLiteral("ST T 100"), QStringLiteral("ST S 2"), QStringLiteral("ST N 30000"),
                                 QStringLiteral("ST H 0"), QStringLiteral("ST V 40 50"), QStringLiteral("ST O 9"),
                                 QStringLiteral("ST B 252"), QStringLiteral("ST U 1"), QStringLiteral("ST D 0")};

    // The module holds what was typed.
    QVERIFY(window.click(QStringLiteral("cmdReadSettings")));
    QCOMPARE(window.text(QStringLiteral("txtWriteTimeout")), QStringLiteral("100"));
    QCOMPARE(window.text(QStringLiteral("txtFileOffset")), QStringLiteral("30000"));
    QCOMPARE(window.text(QStringLiteral("txtVolumeL")), QStringLiteral("40"));
    QCOMPARE(window.text(QStringLiteral("txtVolumeR")), QStringLiteral("50"));
    QCOMPARE(window.text(QStringLiteral("txtLoopCount")), QStringLiteral("9"));
    QCOMPARE(window.text(QStringLiteral("txtBBFreq")), QStringLiteral("120"));
    QCOMPARE(window.text(QStringLiteral("txtBBBoost")), QStringLiteral("15"));
    QCOMPARE(window.text(QStringLiteral("outBassBoost")), QStringLiteral("ST B 252"));

    // Typing sent nothing; Write the nine lines, each taken; then the read.
    QTRY_COMPARE_WITH_TIMEOUT(commandsFrom(sim, before), written + ReadOrder, 10000);
    for (const TrafficLine &line : sim.log().mid(before, written.size()))
        QCOMPARE(line.answer, QStringLiteral(">"));
    QVERIFY(boxes.seen.isEmpty());
}

// Up and Down in a number box step its number as the spinner would, within the range; a
// valid edit takes a refused number's text off the status line.
void tst_Settings::numberBoxKeys()
{
    KavoSim sim;
    MessageBoxes boxes;
    auto w = connectTo(sim);
    QVERIFY(w);
    WindowDriver window(w.get());
    QVERIFY(window.type(QStringLiteral("txtLoopCount"), QStringLiteral("300")));
    QCOMPARE(window.status(), QStringLiteral("Loop Count: 300 is out of range (0 to 254)"));
    QVERIFY(window.key(QStringLiteral("txtLoopCount"), Qt::Key_Up));
    shown();
    QCOMPARE(window.text(QStringLiteral("outLoopCount")), QStringLiteral("ST O 4"));
    QCOMPARE(window.text(QStringLiteral("txtLoopCount")), QStringLiteral("4"));
    QCOMPARE(window.status(), QString());

    QVERIFY(window.key(QStringLiteral("txtBBFreq"), Qt::Key_Down));
    shown();
    QCOMPARE(window.text(QStringLiteral("txtBBFreq")), QStringLiteral("40"));
    QCOMPARE(window.text(QStringLiteral("outBassBoost")), QStringLiteral("ST B 36"));
    QVERIFY(window.key(QStringLiteral("txtVolumeL"), Qt::Key_Up));
    shown();
    QCOMPARE(window.text(QStringLiteral("outVolume")), QStringLiteral("ST V 11 20"));
    QVERIFY(window.type(QStringLiteral("txtWriteTimeout"), QStringLiteral("254")));
    QVERIFY(window.key(QStringLiteral("txtWriteTimeout"), Qt::Key_Up));
    shown();
    QCOMPARE(window.text(QStringLiteral("outWriteTimeout")), QStringLiteral("ST T 254"));
    QCOMPARE(window.text(QStringLiteral("txtWriteTimeout")), QStringLiteral("254"));

    // A spinner moved by the user clears a refusal too.
    QVERIFY(window.type(QStringLiteral("txtFileOffset"), QStringLiteral("x")));
    QVERIFY(window.status().startsWith(QStringLiteral("Input File Number Offset: 'x' is not a number")));
    QVERIFY(window.key(QStringLiteral("vscFileOffset"), Qt::Key_Up));
    shown();
    QCOMPARE(window.status(), QString());
    QCOMPARE(window.text(QStringLiteral("outFileOffset")), QStringLiteral("ST N 12346"));
    QVERIFY(boxes.seen.isEmpty());
}

QTEST_MAIN(tst_Settings)
#include "tst_settings.moc"
