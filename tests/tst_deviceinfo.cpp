// The version and card-information replies: cut apart on their own, and shown by the
// window while it connects to kavo-sim.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "device/replies.h"
#include "support/kavosim.h"
#include "support/messageboxes.h"
#include "support/testenv.h"
#include "support/windowdriver.h"
#include "support/windowfixture.h"

class tst_DeviceInfo : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void identityCode_data();
    void identityCode();
    void cardInfo_data();
    void cardInfo();

    void versionShown_data();
    void versionShown();
    void cardInfoShown_data();
    void cardInfoShown();
};

void tst_DeviceInfo::initTestCase()
{
    TestEnv::isolate();
}

void tst_DeviceInfo::identityCode_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("code");
    QTest::newRow("long") << QStringLiteral("Kavo v2.07KAV1 SN 00012345") << QStringLiteral("KAV1");
    QTest::newRow("14 characters") << QStringLiteral("Kavo v2.07KAV1") << QStringLiteral("KAV1");
    QTest::newRow("12 characters") << QStringLiteral("Kavo v2.07KA") << QStringLiteral("KA");
    QTest::newRow("11 characters") << QStringLiteral("Kavo v2.07K") << QStringLiteral("K");
    QTest::newRow("10 characters") << QStringLiteral("Kavo v2.07") << QString();
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("nothing trimmed") << QStringLiteral("0123456789 av1 ") << QStringLiteral(" av1");
}

void tst_DeviceInfo::identityCode()
{
    QFETCH(QString, reply);
    QFETCH(QString, code);
    QCOMPARE(Replies::identityCode(reply), code);
}

void tst_DeviceInfo::cardInfo_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("capacity");
    QTest::addColumn<QString>("freeSpace");
    QTest::newRow("two fields") << QStringLiteral("1998848 1997312") << QString() << QStringLiteral("1998848")
                                << QStringLiteral("1997312");
    QTest::newRow("several spaces") << QStringLiteral("100  200 300") << QString() << QStringLiteral("100")
                                    << QStringLiteral(" 200 300");
    QTest::newRow("no space") << QStringLiteral("12345") << QString() << QString() << QStringLiteral("12345");
    QTest::newRow("leading space") << QStringLiteral(" 42") << QString() << QString() << QStringLiteral("42");
    QTest::newRow("trailing space") << QStringLiteral("42 ") << QString() << QStringLiteral("42") << QString();
    QTest::newRow("error") << QStringLiteral("E08") << QStringLiteral("E08") << QString() << QString();
    QTest::newRow("long error") << QStringLiteral("EF9 card 1 2") << QStringLiteral("EF9") << QString() << QString();
    QTest::newRow("lower-case e") << QStringLiteral("e08 x") << QString() << QStringLiteral("e08")
                                  << QStringLiteral("x");
}

void tst_DeviceInfo::cardInfo()
{
    QFETCH(QString, reply);
    QFETCH(QString, status);
    QFETCH(QString, capacity);
    QFETCH(QString, freeSpace);
    const Replies::CardInfo info = Replies::cardInfo(reply);
    QCOMPARE(info.status, status);
    QCOMPARE(info.capacity, capacity);
    QCOMPARE(info.freeSpace, freeSpace);
}

void tst_DeviceInfo::versionShown_data()
{
    QTest::addColumn<QString>("reply");      // what the module sends for "V", prompt included
    QTest::addColumn<QString>("shown");      // lblVersion afterwards
    QTest::addColumn<QString>("mismatch");   // the code in the mismatch message; null: connects
    QTest::newRow("14 characters") << QStringLiteral("Kavo v2.07KAV1>") << QStringLiteral("Kavo v2.07KAV1") << QString();
    QTest::newRow("12 characters") << QStringLiteral("Kavo v2.07KA>") << QStringLiteral("Kavo v2.07KA")
                                   << QStringLiteral("KA");
    QTest::newRow("10 characters") << QStringLiteral("Kavo v2.07>") << QStringLiteral("Kavo v2.07") << QStringLiteral("");
    QTest::newRow("lower case") << QStringLiteral("Kavo v2.07kav1 SN 1>") << QStringLiteral("Kavo v2.07kav1 SN 1")
                                << QStringLiteral("kav1");
    QTest::newRow("line end kept") << QStringLiteral("Kavo v2.07KAV1 SN 7\\r\\n>")
                                   << QStringLiteral("Kavo v2.07KAV1 SN 7\r\n") << QString();
    QTest::newRow("time-out") << QString() << QString() << QStringLiteral("");
}

// Chosen-rate mode: one message on a mismatch, the reply on show either way.
void tst_DeviceInfo::versionShown()
{
    QFETCH(QString, reply);
    QFETCH(QString, shown);
    QFETCH(QString, mismatch);
    KavoSim sim;
    QVERIFY(sim.start({QStringLiteral("--reply"), QStringLiteral("V=") + reply}));
    const std::unique_ptr<frmSerialData> w = openWindow();
    QVERIFY(w);
    WindowDriver window(w.get());
    QVERIFY(window.pick(QStringLiteral("lstPCCOM"), sim.comName()));
    window.find<QCheckBox>(QStringLiteral("chkAutoBitRate"))->setChecked(false);
    QVERIFY(window.pick(QStringLiteral("lstPCBPS"), QStringLiteral("9600")));
    MessageBoxes boxes;

    QVERIFY(window.click(QStringLiteral("cmdOpenCOM")));

    QCOMPARE(window.text(QStringLiteral("lblVersion")), shown);
    if (mismatch.isNull()) {
        QVERIFY(boxes.seen.isEmpty());
        QVERIFY(window.connected());
    } else {
        QCOMPARE(boxes.texts(), QStringList{sim.comName() + QStringLiteral(" is not connected to a Kavo (SN reported: ")
                                            + mismatch + QStringLiteral(" <> KAV1)")});
        QVERIFY(!window.connected());
        // The port is closed: the status line shows none.
        QVERIFY(window.text(QStringLiteral("StatusPanel1")).isEmpty());
    }
}

void tst_DeviceInfo::cardInfoShown_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("capacity");
    QTest::addColumn<QString>("freeSpace");
    QTest::addColumn<bool>("fallBack");   // "FC F" was asked

    const QString q = QStringLiteral("--reply");
    QTest::newRow("as the module answers") << QStringList() << QString() << QStringLiteral("1998848")
                                           << QStringLiteral("1998848") << false;
    QTest::newRow("two fields") << QStringList{q, QStringLiteral("FC Q=1024 512>")} << QString() << QStringLiteral("1024")
                                << QStringLiteral("512") << false;
    QTest::newRow("several spaces") << QStringList{q, QStringLiteral("FC Q=1024 512 KiB free>")} << QString()
                                    << QStringLiteral("1024") << QStringLiteral("512 KiB free") << false;
    QTest::newRow("no space") << QStringList{q, QStringLiteral("FC Q=1024>")} << QString() << QString()
                              << QStringLiteral("1024") << false;
    QTest::newRow("error reply") << QStringList{q, QStringLiteral("FC Q=E08 no card in slot>")} << QStringLiteral("E08")
                                 << QString() << QString() << false;
    QTest::newRow("no card") << QStringList{QStringLiteral("--no-card")} << QStringLiteral("E08") << QString() << QString()
                             << false;
    QTest::newRow("empty reply") << QStringList{q, QStringLiteral("FC Q=>")} << QStringLiteral("FAT32") << QString()
                                 << QString() << true;
    QTest::newRow("empty reply, error on FC F")
        << QStringList{q, QStringLiteral("FC Q=>"), q, QStringLiteral("FC F=E08>")} << QStringLiteral("E08") << QString()
        << QString() << true;
    QTest::newRow("time-out") << QStringList{q, QStringLiteral("FC Q=")} << QStringLiteral("FAT32") << QString()
                              << QString() << true;
}

// Automatic detection at 9600 bps, then the card information in the three labels.
void tst_DeviceInfo::cardInfoShown()
{
    QFETCH(QStringList, options);
    QFETCH(QString, status);
    QFETCH(QString, capacity);
    QFETCH(QString, freeSpace);
    QFETCH(bool, fallBack);
    KavoSim sim;
    QVERIFY(sim.start(options));
    const std::unique_ptr<frmSerialData> w = openWindow();
    QVERIFY(w);
    WindowDriver window(w.get());
    QVERIFY(window.pick(QStringLiteral("lstPCCOM"), sim.comName()));
    // Left over from an earlier connection: cleared before the new reply is shown.
    for (const char *box : {"lblStatus", "lblCapacity", "lblFreeSpace"})
        window.find<QLabel>(QLatin1String(box))->setText(QStringLiteral("old"));
    MessageBoxes boxes;

    QVERIFY(window.click(QStringLiteral("cmdOpenCOM")));

    QCOMPARE(boxes.texts(), QStringList());
    QVERIFY(window.connected());
    QCOMPARE(window.text(QStringLiteral("lblStatus")), status);
    QCOMPARE(window.text(QStringLiteral("lblCapacity")), capacity);
    QCOMPARE(window.text(QStringLiteral("lblFreeSpace")), freeSpace);
    const QStringList commands = sim.commands();
    const qsizetype q = commands.indexOf(QStringLiteral("FC Q"));
    QVERIFY(q > 0);
    QCOMPARE(commands.value(q - 1), QStringLiteral("V"));
    QCOMPARE(commands.value(q + 1) == QStringLiteral("FC F"), fallBack);
    QCOMPARE(commands.count(QStringLiteral("FC F")), fallBack ? 1 : 0);
}

QTEST_MAIN(tst_DeviceInfo)
#include "tst_deviceinfo.moc"
