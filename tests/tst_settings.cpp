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

private:
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

// Actions: "name=value" sets a scroll bar's position, a list's index or a check box;
// "up:name" / "down:name" press a spinner's arrow; "click:name" clicks a check box.
// Checks: "name=text" for a box or label, "name.value", ".enabled", ".checked", ".index".
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

    // The handlers send nothing, so a window without a port will do.
    frmSerialData w;
    w.show();
    auto widget = [&](const QString &name) { return w.findChild<QWidget *>(name); };

    for (const QString &action : actions.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        if (action.startsWith(QStringLiteral("up:")) || action.startsWith(QStringLiteral("down:"))) {
            auto *bar = qobject_cast<QScrollBar *>(widget(action.section(QLatin1Char(':'), 1)));
            QVERIFY2(bar, qPrintable(action));
            // The upper arrow moves a vertical bar towards its minimum.
            bar->triggerAction(action.startsWith(QStringLiteral("up:")) ? QAbstractSlider::SliderSingleStepSub
                                                                         : QAbstractSlider::SliderSingleStepAdd);
        } else if (action.startsWith(QStringLiteral("click:"))) {
            auto *box = qobject_cast<QCheckBox *>(widget(action.mid(6)));
            QVERIFY2(box, qPrintable(action));
            box->click();
        } else {
            QWidget *target = widget(action.section(QLatin1Char('='), 0, 0));
            const int value = action.section(QLatin1Char('='), 1).toInt();
            if (auto *bar = qobject_cast<QScrollBar *>(target))
                bar->setValue(value);
            else if (auto *list = qobject_cast<QComboBox *>(target))
                list->setCurrentIndex(value);
            else if (auto *box = qobject_cast<QCheckBox *>(target))
                box->setChecked(value != 0);
            else
                QFAIL(qPrintable(action));
        }
    }

    for (const QString &check : checks.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString key = check.section(QLatin1Char('='), 0, 0);
        const QString expected = check.section(QLatin1Char('='), 1);
        const QString name = key.section(QLatin1Char('.'), 0, 0);
        const QString property = key.section(QLatin1Char('.'), 1);
        QWidget *target = widget(name);
        QVERIFY2(target, qPrintable(check));
        QString actual;
        if (property == QStringLiteral("value"))
            actual = QString::number(qobject_cast<QScrollBar *>(target)->value());
        else if (property == QStringLiteral("enabled"))
            actual = QString::number(target->isEnabled());
        else if (property == QStringLiteral("checked"))
            actual = QString::number(qobject_cast<QCheckBox *>(target)->isChecked());
        else if (property == QStringLiteral("index"))
            actual = QString::number(qobject_cast<QComboBox *>(target)->currentIndex());
        else if (auto *label = qobject_cast<QLabel *>(target))
            actual = label->text();
        else if (auto *box = qobject_cast<QLineEdit *>(target))
            actual = box->text();
        QVERIFY2(actual == expected, qPrintable(QStringLiteral("%1: got '%2'").arg(check, actual)));
    }
}

// --- read -------------------------------------------------------------------------------

void tst_Settings::readOnConnect_data()
{
    QTest::addColumn<bool>("locked");
    QTest::addColumn<QString>("right");
    QTest::addColumn<QString>("volume");
    QTest::newRow("Same as L") << true << "10" << "ST V 10";
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
    QCOMPARE(w->chkVolumeLocked->isChecked(), locked);
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
        QCOMPARE(w->outVolume->text(), QStringLiteral("ST V 10"));
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
    QVERIFY2(status(w.get()).contains(QStringLiteral("was lost")), qPrintable(status(w.get())));
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
    w->chkVolumeLocked->click();
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
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("moduleRate");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("pcRate");   // the PC port's rate afterwards

    QTest::newRow("error reply") << "ST O 3=E05>" << "9600" << "Not stored: Loop Count - 'O' (reply 'E05')"
                                 << "9600,N,8,1";
    QTest::newRow("other reply") << "ST T 37=ok\\r\\n>" << "9600"
                                 << "Not stored: Write Time-out - 'T' (reply 'ok\\r\\n')" << "9600,N,8,1";
    QTest::newRow("no answer") << "ST U 1=" << "9600" << "Not stored: Uninterrupted Playback - 'U' (no answer)"
                               << "9600,N,8,1";
    QTest::newRow("bit rate refused") << "ST D 4=E05>" << "115200"
                                      << "Not stored: Bit Rate - 'D' (reply 'E05'); PC COM bit rate left at 9600 bps"
                                      << "9600,N,8,1";
    QTest::newRow("no answer at the new rate") << "ST D 4=>" << "115200" << "the Kavo does not answer at 115200 bps"
                                               << "115200,N,8,1";
}

void tst_Settings::writeReportsRefusals()
{
    QFETCH(QString, reply);
    QFETCH(QString, moduleRate);
    QFETCH(QString, text);
    QFETCH(QString, pcRate);

    KavoSim sim;
    MessageBoxes boxes;
    auto w = connectTo(sim, {QStringLiteral("--reply"), reply});
    QVERIFY(w);
    QCOMPARE(status(w.get()), QStringLiteral("All Settings Received"));
    QVERIFY(selectEntry(w->lstKAVOBPS, moduleRate));

    const int before = sim.commands().size();
    QTest::mouseClick(w->cmdWriteSettings, Qt::LeftButton);
    QCOMPARE(status(w.get()), text);
    QCOMPARE(w->StatusPanel[1]->text(), pcRate);
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
             QStringLiteral("Nothing written: the settings must be read first (no value for %1)")
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

QTEST_MAIN(tst_Settings)
#include "tst_settings.moc"
