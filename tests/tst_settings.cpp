// The nine settings in the window: the edit handlers, reading all settings from kavo-sim and
// writing them back, through a real pseudo-terminal.
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

#include "support/kavosim.h"
#include "support/messageboxes.h"
#include "support/testenv.h"
#include "support/windowdriver.h"
#include "support/windowfixture.h"
#include "link/comports.h"

namespace {

const QStringList ReadOrder = {QStringLiteral("ST D"), QStringLiteral("ST T"), QStringLiteral("ST S"),
                               QStringLiteral("ST N"), QStringLiteral("ST H"), QStringLiteral("ST V"),
                               QStringLiteral("ST O"), QStringLiteral("ST B"), QStringLiteral("ST U")};

// Every control and setting string of the nine settings, as text.
QStringList snapshot(frmSerialData *w)
{
    QStringList s;
    for (QComboBox *list : {w->lstKAVOBPS, w->lstInputStyle})
        s << QStringLiteral("%1=%2").arg(list->objectName()).arg(list->currentIndex());
    for (QScrollBar *bar : {w->vscWriteTimeout, w->vscFileOffset, w->vscVolumeL, w->vscVolumeR, w->vscLoopCount,
                            w->vscBBFreq, w->vscBBBoost})
        s << QStringLiteral("%1=%2").arg(bar->objectName()).arg(bar->value());
    for (QLineEdit *box : {w->txtWriteTimeout, w->txtFileOffset, w->txtVolumeL, w->txtVolumeR, w->txtLoopCount,
                           w->txtBBFreq, w->txtBBBoost})
        s << box->objectName() + QLatin1Char('=') + box->text();
    for (QCheckBox *box : {w->chkBusyIndicator, w->chkVolumeLocked, w->chkBassBoost, w->chkUninterrupted})
        s << QStringLiteral("%1=%2").arg(box->objectName()).arg(box->isChecked());
    for (QLabel *out : {w->outKAVOBPS, w->outWriteTimeout, w->outInputStyle, w->outFileOffset, w->outBusyIndicator,
                        w->outVolume, w->outLoopCount, w->outBassBoost, w->outUninterrupted})
        s << out->objectName() + QLatin1Char('=') + out->text();
    return s;
}

QList<QLabel *> settingStrings(frmSerialData *w)
{
    // In the order the settings are read.
    return {w->outKAVOBPS, w->outWriteTimeout, w->outInputStyle, w->outFileOffset, w->outBusyIndicator,
            w->outVolume, w->outLoopCount, w->outBassBoost, w->outUninterrupted};
}

QString status(frmSerialData *w)
{
    return w->StatusPanel[2]->text();
}

// The command lines the simulator received from line `from` on.
QStringList commandsFrom(const KavoSim &sim, int from)
{
    return sim.commands().mid(from);
}

bool readAll(frmSerialData *w)
{
    OperationGuard operation(w);
    return operation.acquired() && w->ReadAllSettings();
}

// Waits until a probe sent now shows in the log, so that whatever the tool sent before it
// is in the log too. Returns the log's size before the probe.
int settleLog(frmSerialData *w, const KavoSim &sim)
{
    const int before = sim.commands().size();
    {
        OperationGuard operation(w);
        w->session->link().ProbeDevice();
    }
    QElapsedTimer clock;
    clock.start();
    // The escape and the carriage return after it are logged as two lines.
    auto probeAt = [&] {
        const QStringList lines = sim.commands().mid(before);
        const int at = lines.indexOf(QStringLiteral("\\e"));
        return at >= 0 && at + 1 < lines.size() ? before + at : -1;
    };
    while (clock.elapsed() < 10000 && probeAt() < 0)
        QTest::qWait(10);
    return probeAt();
}

// Runs `action` once, as soon as `when` holds (checked every few milliseconds, which the
// waits of an operation let happen).
class OnCondition : public QObject
{
public:
    OnCondition(std::function<bool()> when, std::function<void()> action)
        : m_when(std::move(when)), m_action(std::move(action))
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (!m_done && m_when()) {
                m_done = true;
                m_action();
            }
        });
        m_timer.start(5);
    }
    bool done() const { return m_done; }

private:
    std::function<bool()> m_when;
    std::function<void()> m_action;
    QTimer m_timer;
    bool m_done = false;
};

// True once the status line shows `text` and the simulator has received `command`.
std::function<bool()> awaiting(frmSerialData *w, const KavoSim &sim, const QString &text, const QString &command)
{
    return [=, &sim] { return status(w) == text && sim.commands().contains(command); };
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
    // Starts the simulator with the distinctive settings below, opens a window, opens the
    // simulator's port at `rate` as the connect code would, reads all settings once.
    std::unique_ptr<frmSerialData> connectTo(KavoSim &sim, const QStringList &options = {}, bool read = true);

    QTemporaryDir m_dir;
    QString m_stateFile;
};

void tst_Settings::initTestCase()
{
    TestEnv::isolate();
    QVERIFY(m_dir.isValid());
    m_stateFile = m_dir.filePath(QStringLiteral("state.txt"));
    QFile file(m_stateFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("D=0\nT=37\nS=2\nN=12345\nH=0\nV=10 20\nO=3\nB=37\nU=1\n");
}

std::unique_ptr<frmSerialData> tst_Settings::connectTo(KavoSim &sim, const QStringList &options, bool read)
{
    if (!sim.start(QStringList{QStringLiteral("--state"), m_stateFile} + options))
        return nullptr;
    auto w = openWindow();
    if (!w || !selectEntry(w->lstPCCOM, sim.comName()) || !selectEntry(w->lstPCBPS, QStringLiteral("9600")))
        return nullptr;
    if (!w->OpenComPort(sim.com(), 9600))
        return nullptr;
    w->setConnectedState(true);
    if (read)
        readAll(w.get());
    return w;
}

// --- edits ------------------------------------------------------------------------------

// The actions and the checks are runEdits' (below).
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
void tst_Settings::runEdits(const QString &actions, const QString &checks)
{
    // The handlers send nothing, so a window without a port will do.
    frmSerialData w;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    auto widget = [&](const QString &name) { return w.findChild<QWidget *>(name); };

    for (const QString &action : actions.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString kind = action.contains(QLatin1Char(':')) ? action.section(QLatin1Char(':'), 0, 0) : QString();
        const QString rest = kind.isEmpty() ? action : action.section(QLatin1Char(':'), 1);
        const QString name = rest.section(QLatin1Char('='), 0, 0);
        const QString argument = rest.section(QLatin1Char('='), 1);
        if (kind == QStringLiteral("up") || kind == QStringLiteral("down")) {
            auto *bar = qobject_cast<QScrollBar *>(widget(name));
            QVERIFY2(bar, qPrintable(action));
            // The upper arrow moves a vertical bar towards its minimum.
            bar->triggerAction(kind == QStringLiteral("up") ? QAbstractSlider::SliderSingleStepSub
                                                            : QAbstractSlider::SliderSingleStepAdd);
        } else if (kind == QStringLiteral("click")) {
            auto *box = qobject_cast<QCheckBox *>(widget(name));
            QVERIFY2(box, qPrintable(action));
            box->click();
        } else if (kind == QStringLiteral("key")) {
            auto *bar = qobject_cast<QScrollBar *>(widget(name));
            QVERIFY2(bar, qPrintable(action));
            bar->setFocus(Qt::TabFocusReason);
            QVERIFY2(argument == QStringLiteral("PageUp") || argument == QStringLiteral("PageDown"), qPrintable(action));
            QTest::keyClick(bar, argument == QStringLiteral("PageUp") ? Qt::Key_PageUp : Qt::Key_PageDown);
        } else if (kind == QStringLiteral("leave") || kind == QStringLiteral("clear")) {
            auto *box = qobject_cast<QLineEdit *>(widget(name));
            QVERIFY2(box, qPrintable(action));
            if (kind == QStringLiteral("clear")) {
                box->clear();
            } else {
                box->setFocus(Qt::MouseFocusReason);
                QTRY_VERIFY(box->hasFocus());
                QTest::keyClick(box, Qt::Key_Tab);
                QVERIFY2(!box->hasFocus(), qPrintable(action));
            }
        } else if (kind == QStringLiteral("type") || kind == QStringLiteral("typeTab")) {
            auto *box = qobject_cast<QLineEdit *>(widget(name));
            QVERIFY2(box, qPrintable(action));
            box->setFocus(Qt::MouseFocusReason);
            QTRY_VERIFY(box->hasFocus());
            box->selectAll();
            QTest::keyClick(box, Qt::Key_Backspace);
            QTest::keyClicks(box, argument);
            if (kind == QStringLiteral("type")) {
                QTest::keyClick(box, Qt::Key_Return);
            } else {
                QTest::keyClick(box, Qt::Key_Tab);
                QVERIFY2(!box->hasFocus(), qPrintable(action));
            }
        } else if (kind.isEmpty()) {
            QWidget *target = widget(name);
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
    }

    for (const QString &check : checks.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString key = check.section(QLatin1Char('='), 0, 0);
        const QString expected = check.section(QLatin1Char('='), 1);
        const QString name = key.section(QLatin1Char('.'), 0, 0);
        const QString property = key.section(QLatin1Char('.'), 1);
        QString actual;
        if (name == QStringLiteral("status")) {
            actual = status(&w);
        } else {
            QWidget *target = widget(name);
            QVERIFY2(target, qPrintable(check));
            if (property == QStringLiteral("value"))
                actual = QString::number(qobject_cast<QScrollBar *>(target)->value());
            else if (property == QStringLiteral("enabled"))
                actual = QString::number(target->isEnabled());
            else if (property == QStringLiteral("checked"))
                actual = QString::number(qobject_cast<QCheckBox *>(target)->isChecked());
            else if (property == QStringLiteral("index"))
                actual = QString::number(qobject_cast<QComboBox *>(target)->currentIndex());
            else if (property == QStringLiteral("readOnly"))
                actual = QString::number(qobject_cast<QLineEdit *>(target)->isReadOnly());
            else if (auto *label = qobject_cast<QLabel *>(target))
                actual = label->text();
            else if (auto *box = qobject_cast<QLineEdit *>(target))
                actual = box->text();
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
    QVERIFY(selectEntry(w->lstPCCOM, sim.comName()));
    w->chkVolumeLocked->setChecked(locked);
    w->chkAutoBitRate->setChecked(true);

    // Open reads all settings once the module is found.
    QTest::mouseClick(w->cmdOpenCOM, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(w->connected(), 10000);
    QVERIFY2(boxes.seen.isEmpty(), qPrintable(boxes.texts().join(QLatin1Char('|'))));
    QCOMPARE(status(w.get()), QStringLiteral("All Settings Received"));

    QCOMPARE(w->lstKAVOBPS->currentIndex(), 0);
    QCOMPARE(w->outKAVOBPS->text(), QStringLiteral("ST D 0"));
    QCOMPARE(w->vscWriteTimeout->value(), 254 - 37);
    QCOMPARE(w->txtWriteTimeout->text(), QStringLiteral("37"));
    QCOMPARE(w->outWriteTimeout->text(), QStringLiteral("ST T 37"));
    QCOMPARE(w->lstInputStyle->currentIndex(), 2);
    QCOMPARE(w->outInputStyle->text(), QStringLiteral("ST S 2"));
    QCOMPARE(w->vscFileOffset->value(), 32767 - 12345);
    QCOMPARE(w->txtFileOffset->text(), QStringLiteral("12345"));
    QCOMPARE(w->outFileOffset->text(), QStringLiteral("ST N 12345"));
    QVERIFY(!w->chkBusyIndicator->isChecked());
    QCOMPARE(w->outBusyIndicator->text(), QStringLiteral("ST H 0"));
    QCOMPARE(w->txtVolumeL->text(), QStringLiteral("10"));
    QCOMPARE(w->txtVolumeR->text(), right);
    QCOMPARE(w->vscVolumeR->value(), right.toInt());
    QCOMPARE(w->outVolume->text(), volume);
    QVERIFY(!w->chkVolumeLocked->isChecked());
    QVERIFY(w->vscVolumeR->isEnabled());
    Q_UNUSED(locked);
    QCOMPARE(w->vscLoopCount->value(), 254 - 3);
    QCOMPARE(w->txtLoopCount->text(), QStringLiteral("3"));
    QCOMPARE(w->outLoopCount->text(), QStringLiteral("ST O 3"));
    QCOMPARE(w->vscBBFreq->value(), 15 - 5);
    QCOMPARE(w->txtBBFreq->text(), QStringLiteral("50"));
    QCOMPARE(w->vscBBBoost->value(), 15 - 2);
    QCOMPARE(w->txtBBBoost->text(), QStringLiteral("2"));
    QVERIFY(w->chkBassBoost->isChecked());
    QCOMPARE(w->outBassBoost->text(), QStringLiteral("ST B 37"));
    QVERIFY(w->chkUninterrupted->isChecked());
    QCOMPARE(w->outUninterrupted->text(), QStringLiteral("ST U 1"));

    // The queries went out in the order of the status texts.
    QStringList queries;
    for (const QString &c : sim.commands())
        if (c.startsWith(QStringLiteral("ST ")))
            queries << c;
    QCOMPARE(queries, ReadOrder);

    // Reading again gives the same state.
    const QStringList first = snapshot(w.get());
    const int before = sim.commands().size();
    QTest::mouseClick(w->cmdReadSettings, Qt::LeftButton);
    QCOMPARE(status(w.get()), QStringLiteral("All Settings Received"));
    QCOMPARE(snapshot(w.get()), first);
    QTRY_COMPARE_WITH_TIMEOUT(commandsFrom(sim, before), ReadOrder, 10000);
    QVERIFY(w->cmdReadSettings->isEnabled());
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

void tst_Settings::readBadReplies()
{
    QFETCH(QString, reply);
    QFETCH(int, stopsAt);
    QFETCH(QString, text);

    KavoSim sim;
    MessageBoxes boxes;
    auto w = connectTo(sim, {QStringLiteral("--reply"), reply}, false);
    QVERIFY(w);

    QCOMPARE(readAll(w.get()), stopsAt < 0);
    QCOMPARE(status(w.get()), text);
    QVERIFY(boxes.seen.isEmpty());

    // The settings before the bad one are read, nothing after it is asked for.
    const QList<QLabel *> strings = settingStrings(w.get());
    const int end = stopsAt < 0 ? ReadOrder.size() : stopsAt;
    for (int i = 0; i < strings.size(); ++i)
        QVERIFY2(strings[i]->text().isEmpty() == (i >= end), qPrintable(strings[i]->objectName()));
    const int last = settleLog(w.get(), sim);
    QCOMPARE(sim.commands().mid(0, last), ReadOrder.mid(0, stopsAt < 0 ? ReadOrder.size() : stopsAt + 1));
    if (stopsAt < 0) {
        QCOMPARE(w->outLoopCount->text(), QStringLiteral("ST O 3"));
        QCOMPARE(w->outVolume->text(), QStringLiteral("ST V 10 20"));
    }
}

void tst_Settings::readStopsWhenPortIsLost()
{
    KavoSim sim;
    MessageBoxes boxes;
    auto w = connectTo(sim, {QStringLiteral("--reply"), QStringLiteral("ST N=5\\|>"), QStringLiteral("--chunk-delay"),
                             QStringLiteral("3000")},
                       false);
    QVERIFY(w);

    OnCondition pull(awaiting(w.get(), sim, QStringLiteral("Getting Input File Number Offset - 'N'"),
                              QStringLiteral("ST N")),
                     [&] { sim.kill(); });
    QVERIFY(!readAll(w.get()));
    QVERIFY(pull.done());
    QVERIFY2(status(w.get()).startsWith(sim.comName()) && status(w.get()).contains(QStringLiteral(" was disconnected")),
             qPrintable(status(w.get())));
    QVERIFY(!w->connected());
    QVERIFY(w->outFileOffset->text().isEmpty());
    QVERIFY(w->outBusyIndicator->text().isEmpty());
    QCOMPARE(sim.commands(), ReadOrder.mid(0, 4));
    QVERIFY(boxes.seen.isEmpty());
}

// --- write ------------------------------------------------------------------------------

void tst_Settings::writeEqualRates()
{
    KavoSim sim;
    MessageBoxes boxes;
    auto w = connectTo(sim);
    QVERIFY(w);
    QCOMPARE(status(w.get()), QStringLiteral("All Settings Received"));

    // Edits send nothing.
    int before = sim.commands().size();
    w->vscLoopCount->triggerAction(QAbstractSlider::SliderSingleStepSub);
    // The two channels read differ: "Same as L" is off, and the right one moves alone.
    QVERIFY(!w->chkVolumeLocked->isChecked());
    w->vscVolumeR->setValue(30);
    w->chkBassBoost->click();
    QCOMPARE(settleLog(w.get(), sim), ReadOrder.size());

    before = sim.commands().size();
    QTest::mouseClick(w->cmdWriteSettings, Qt::LeftButton);
    QCOMPARE(status(w.get()), QStringLiteral("All Settings Stored"));
    const QStringList written = {QStringLiteral("ST T 37"), QStringLiteral("ST S 2"), QStringLiteral("ST N 12345"),
                                 QStringLiteral("ST H 0"), QStringLiteral("ST V 10 30"), QStringLiteral("ST O 4"),
                                 QStringLiteral("ST B 0"), QStringLiteral("ST U 1"), QStringLiteral("ST D 0")};
    QTRY_COMPARE_WITH_TIMEOUT(commandsFrom(sim, before), written, 10000);
    // Nothing but the nine lines: the port stayed open at its rate, no probe followed.
    const int end = settleLog(w.get(), sim);
    QCOMPARE(end, before + written.size());
    for (const TrafficLine &line : sim.log().mid(before, written.size())) {
        QCOMPARE(line.rate, 9600);
        QCOMPARE(line.answer, QStringLiteral(">"));
    }
    QCOMPARE(w->StatusPanel[1]->text(), QStringLiteral("9600,N,8,1"));
    QVERIFY(w->connected());

    // The module holds what was written.
    QVERIFY(readAll(w.get()));
    QCOMPARE(w->txtLoopCount->text(), QStringLiteral("4"));
    QCOMPARE(w->txtVolumeR->text(), QStringLiteral("30"));
    QCOMPARE(w->outBassBoost->text(), QStringLiteral("ST B 0"));
    QVERIFY(boxes.seen.isEmpty());
}

void tst_Settings::writeNewBitRate()
{
    KavoSim sim;
    MessageBoxes boxes;
    auto w = connectTo(sim);
    QVERIFY(w);

    QVERIFY(selectEntry(w->lstKAVOBPS, QStringLiteral("115200")));
    QCOMPARE(w->lstPCBPS->currentText(), QStringLiteral("9600"));
    const int before = sim.commands().size();
    QTest::mouseClick(w->cmdWriteSettings, Qt::LeftButton);
    QCOMPARE(status(w.get()), QStringLiteral("All Settings Stored"));
    QCOMPARE(w->lstPCBPS->currentText(), QStringLiteral("115200"));
    QCOMPARE(w->StatusPanel[0]->text(), sim.comName());
    QCOMPARE(w->StatusPanel[1]->text(), QStringLiteral("115200,N,8,1"));
    QVERIFY(w->connected());

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
    QTest::mouseClick(w->cmdReadSettings, Qt::LeftButton);
    QCOMPARE(status(w.get()), QStringLiteral("All Settings Received"));
    QCOMPARE(w->outKAVOBPS->text(), QStringLiteral("ST D 4"));
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
    QCOMPARE(status(w.get()), QStringLiteral("All Settings Received"));
    QVERIFY(selectEntry(w->lstKAVOBPS, moduleRate));

    const int before = sim.commands().size();
    QTest::mouseClick(w->cmdWriteSettings, Qt::LeftButton);
    QCOMPARE(status(w.get()), text);
    QCOMPARE(w->StatusPanel[1]->text(), pcRate + QStringLiteral(",N,8,1"));
    QCOMPARE(w->lstPCBPS->currentText(), pcRate);
    QVERIFY(w->connected());
    QVERIFY(boxes.seen.isEmpty());

    // The others were still sent, in order, the bit rate last.
    QTRY_VERIFY_WITH_TIMEOUT(sim.commands().size() >= before + 9, 10000);
    QStringList letters;
    for (const QString &c : commandsFrom(sim, before).mid(0, 9))
        letters << c.mid(3, 1);
    QCOMPARE(letters.join(QString()), QStringLiteral("TSNHVOBUD"));
}

void tst_Settings::writeReopenFails()
{
    KavoSim sim;
    MessageBoxes boxes;
    auto w = connectTo(sim);
    QVERIFY(w);

    // The open port keeps working, but the COM name no longer leads to a device.
    const QString link = ComPorts::portsFolder() + QStringLiteral("/") + sim.comName();
    QVERIFY(QFile::remove(link));
    QVERIFY(selectEntry(w->lstKAVOBPS, QStringLiteral("57600")));
    QTest::mouseClick(w->cmdWriteSettings, Qt::LeftButton);

    QCOMPARE(boxes.seen.size(), 1);
    QVERIFY2(boxes.seen[0].text.startsWith(QStringLiteral("Com%1 is not available.\r\n").arg(sim.com())),
             qPrintable(boxes.seen[0].text));
    QCOMPARE(status(w.get()), QStringLiteral("COM%1 could not be reopened at 57600 bps; not connected").arg(sim.com()));
    QVERIFY(!w->connected());
    QVERIFY(!w->session->portOpen());
    QVERIFY(w->cmdOpenCOM->isEnabled());
    QVERIFY(!w->cmdReadSettings->isEnabled());
    QVERIFY(!w->cmdWriteSettings->isEnabled());
    QVERIFY(w->lstPCCOM->isEnabled());
    QVERIFY(QFile::link(sim.device(), link));
}

void tst_Settings::writeBeforeCompleteRead_data()
{
    QTest::addColumn<QString>("reply");   // empty: no read at all
    QTest::addColumn<QString>("missing");
    QTest::newRow("never read") << ""
                                << "Write Time-out, Input Style, Input File Number Offset, Hardware Busy Indicator, "
                                   "Volume, Loop Count, Bass Boost, Uninterrupted Playback, Bit Rate";
    QTest::newRow("read stopped at V") << "ST V=E05>" << "Volume, Loop Count, Bass Boost, Uninterrupted Playback";
}

void tst_Settings::writeBeforeCompleteRead()
{
    QFETCH(QString, reply);
    QFETCH(QString, missing);

    KavoSim sim;
    MessageBoxes boxes;
    auto w = connectTo(sim, reply.isEmpty() ? QStringList() : QStringList{QStringLiteral("--reply"), reply},
                       !reply.isEmpty());
    QVERIFY(w);
    // An edit fills one more string; the rest is still missing.
    w->vscLoopCount->triggerAction(QAbstractSlider::SliderSingleStepSub);

    const int before = sim.commands().size();
    QTest::mouseClick(w->cmdWriteSettings, Qt::LeftButton);
    const QString loopCount = QStringLiteral("Loop Count, ");
    QCOMPARE(status(w.get()),
             QStringLiteral("Nothing written: no value for %1 (press Read, set them, or open a settings file)")
                 .arg(QString(missing).remove(loopCount)));
    QCOMPARE(settleLog(w.get(), sim), before);
    QVERIFY(boxes.seen.isEmpty());
}

void tst_Settings::editDuringWrite()
{
    KavoSim sim;
    MessageBoxes boxes;
    // The first row's answer takes a while, so edits come while it is awaited.
    auto w = connectTo(sim, {QStringLiteral("--reply"), QStringLiteral("ST T 37=\\|>"), QStringLiteral("--chunk-delay"),
                             QStringLiteral("500")});
    QVERIFY(w);

    bool buttonsOff = false;
    bool controlsOn = false;
    OnCondition edit(awaiting(w.get(), sim, QStringLiteral("Setting Write Time-out - 'T'"), QStringLiteral("ST T 37")),
                     [&] {
        buttonsOff = !w->cmdOpenCOM->isEnabled() && !w->cmdReadSettings->isEnabled()
                     && !w->cmdWriteSettings->isEnabled() && !w->cmdPlayTest->isEnabled();
        controlsOn = w->vscLoopCount->isEnabled() && w->vscWriteTimeout->isEnabled();
        // A second operation is refused while this one runs.
        w->cmdReadSettings_Click();
        // The row being sent was taken already; a later row takes the edit.
        w->vscWriteTimeout->triggerAction(QAbstractSlider::SliderSingleStepSub);
        w->vscLoopCount->triggerAction(QAbstractSlider::SliderSingleStepSub);
    });
    const int before = sim.commands().size();
    QTest::mouseClick(w->cmdWriteSettings, Qt::LeftButton);
    QVERIFY(edit.done());
    QVERIFY(buttonsOff);
    QVERIFY(controlsOn);
    QCOMPARE(status(w.get()), QStringLiteral("All Settings Stored"));
    QVERIFY(w->cmdReadSettings->isEnabled());
    QVERIFY(w->cmdWriteSettings->isEnabled());

    QTRY_VERIFY_WITH_TIMEOUT(sim.commands().size() >= before + 9, 10000);
    const QStringList sent = commandsFrom(sim, before).mid(0, 9);
    QCOMPARE(sent[0], QStringLiteral("ST T 37"));
    QCOMPARE(sent[5], QStringLiteral("ST O 4"));
    QCOMPARE(w->outWriteTimeout->text(), QStringLiteral("ST T 38"));
    QCOMPARE(settleLog(w.get(), sim), before + 9);
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
    QCOMPARE(status(w.get()), QStringLiteral("All Settings Received"));
    w->show();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));

    auto type = [](QLineEdit *box, const QString &text) {
        box->setFocus(Qt::MouseFocusReason);
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Backspace);
        QTest::keyClicks(box, text);
    };
    // Enter applies a number, so does leaving the box (with Tab, or by clicking Write).
    type(w->txtWriteTimeout, QStringLiteral("100"));
    QTest::keyClick(w->txtWriteTimeout, Qt::Key_Return);
    type(w->txtFileOffset, QStringLiteral("30000"));
    QTest::keyClick(w->txtFileOffset, Qt::Key_Tab);
    // A refused number leaves the value read, a good one then takes its place.
    type(w->txtLoopCount, QStringLiteral("300"));
    QTest::keyClick(w->txtLoopCount, Qt::Key_Return);
    QCOMPARE(status(w.get()), QStringLiteral("Loop Count: 300 is out of range (0 to 254)"));
    QCOMPARE(w->outLoopCount->text(), QStringLiteral("ST O 3"));
    type(w->txtLoopCount, QStringLiteral("9"));
    QTest::keyClick(w->txtLoopCount, Qt::Key_Return);
    // Each channel its own volume (the two read differ, so "Same as L" is off).
    QVERIFY(!w->chkVolumeLocked->isChecked());
    type(w->txtVolumeL, QStringLiteral("40"));
    QTest::keyClick(w->txtVolumeL, Qt::Key_Tab);
    type(w->txtVolumeR, QStringLiteral("50"));
    QTest::keyClick(w->txtVolumeR, Qt::Key_Return);
    type(w->txtBBFreq, QStringLiteral("120"));
    QTest::keyClick(w->txtBBFreq, Qt::Key_Return);
    type(w->txtBBBoost, QStringLiteral("15"));
    // Typing sends nothing.
    QCOMPARE(settleLog(w.get(), sim), ReadOrder.size());

    const int before = sim.commands().size();
    QTest::mouseClick(w->cmdWriteSettings, Qt::LeftButton);
    QCOMPARE(w->txtBBBoost->text(), QStringLiteral("15"));
    QCOMPARE(status(w.get()), QStringLiteral("All Settings Stored"));
    const QStringList written = {QStringLiteral("ST T 100"), QStringLiteral("ST S 2"), QStringLiteral("ST N 30000"),
                                 QStringLiteral("ST H 0"), QStringLiteral("ST V 40 50"), QStringLiteral("ST O 9"),
                                 QStringLiteral("ST B 252"), QStringLiteral("ST U 1"), QStringLiteral("ST D 0")};
    QTRY_COMPARE_WITH_TIMEOUT(commandsFrom(sim, before), written, 10000);
    for (const TrafficLine &line : sim.log().mid(before))
        QCOMPARE(line.answer, QStringLiteral(">"));

    // The module holds what was typed.
    QVERIFY(readAll(w.get()));
    QCOMPARE(w->txtWriteTimeout->text(), QStringLiteral("100"));
    QCOMPARE(w->txtFileOffset->text(), QStringLiteral("30000"));
    QCOMPARE(w->txtVolumeL->text(), QStringLiteral("40"));
    QCOMPARE(w->txtVolumeR->text(), QStringLiteral("50"));
    QCOMPARE(w->txtLoopCount->text(), QStringLiteral("9"));
    QCOMPARE(w->txtBBFreq->text(), QStringLiteral("120"));
    QCOMPARE(w->txtBBBoost->text(), QStringLiteral("15"));
    QCOMPARE(w->outBassBoost->text(), QStringLiteral("ST B 252"));
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
    QCOMPARE(window.text(QStringLiteral("outLoopCount")), QStringLiteral("ST O 4"));
    QCOMPARE(window.text(QStringLiteral("txtLoopCount")), QStringLiteral("4"));
    QCOMPARE(window.status(), QString());

    QVERIFY(window.key(QStringLiteral("txtBBFreq"), Qt::Key_Down));
    QCOMPARE(window.text(QStringLiteral("txtBBFreq")), QStringLiteral("40"));
    QCOMPARE(window.text(QStringLiteral("outBassBoost")), QStringLiteral("ST B 36"));
    QVERIFY(window.key(QStringLiteral("txtVolumeL"), Qt::Key_Up));
    QCOMPARE(window.text(QStringLiteral("outVolume")), QStringLiteral("ST V 11 20"));
    QVERIFY(window.type(QStringLiteral("txtWriteTimeout"), QStringLiteral("254")));
    QVERIFY(window.key(QStringLiteral("txtWriteTimeout"), Qt::Key_Up));
    QCOMPARE(window.text(QStringLiteral("outWriteTimeout")), QStringLiteral("ST T 254"));

    // A spinner moved by the user clears a refusal too.
    QVERIFY(window.type(QStringLiteral("txtFileOffset"), QStringLiteral("x")));
    QVERIFY(window.status().startsWith(QStringLiteral("Input File Number Offset: 'x' is not a number")));
    QVERIFY(window.key(QStringLiteral("vscFileOffset"), Qt::Key_Up));
    QCOMPARE(window.status(), QString());
    QVERIFY(boxes.seen.isEmpty());
}

QTEST_MAIN(tst_Settings)
#include "tst_settings.moc"
