// The setting command set without widgets: the table, the commands, and the conversion
// of query replies into values.
#include <QTest>

#include "settings/settingtable.h"

using namespace SettingTable;

namespace {

// The setting string the controls end up composing after a read of this value
// (the window's handlers do the same through the codec).
QString composedAfterRead(char letter, const Reading &r, bool volumeLocked)
{
    switch (find(letter)->kind) {
    case Kind::Volume:
        return volumeString(r.value, volumeLocked ? std::nullopt : std::optional<int>(r.right));
    case Kind::BassBoost:
        return bassBoostString(r.value != 0, r.boost(), r.step());
    default:
        return setString(letter, r.value);
    }
}

} // namespace

class tst_SettingCodec : public QObject
{
    Q_OBJECT
private slots:
    void table();
    void commands_data();
    void commands();
    void replies_data();
    void replies();
    void roundingHalfEven_data();
    void roundingHalfEven();
    void failureTexts_data();
    void failureTexts();
};

void tst_SettingCodec::table()
{
    QByteArray letters;
    for (const Setting &s : all())
        letters += s.letter;
    QCOMPARE(letters, QByteArray("DTSNHVOBU"));

    QByteArray written(WriteOrder);
    QCOMPARE(written, QByteArray("TSNHVOBUD"));

    QCOMPARE(nameOf('D'), QStringLiteral("Bit Rate"));
    QCOMPARE(nameOf('T'), QStringLiteral("Write Time-out"));
    QCOMPARE(nameOf('S'), QStringLiteral("Input Style"));
    QCOMPARE(nameOf('N'), QStringLiteral("Input File Number Offset"));
    QCOMPARE(nameOf('H'), QStringLiteral("Hardware Busy Indicator"));
    QCOMPARE(nameOf('V'), QStringLiteral("Volume"));
    QCOMPARE(nameOf('O'), QStringLiteral("Loop Count"));
    QCOMPARE(nameOf('B'), QStringLiteral("Bass Boost"));
    QCOMPARE(nameOf('U'), QStringLiteral("Uninterrupted Playback"));
    QVERIFY(find('X') == nullptr);
}

void tst_SettingCodec::commands_data()
{
    QTest::addColumn<QString>("composed");
    QTest::addColumn<QString>("expected");

    QTest::newRow("query D") << QString::fromLatin1(query('D') + '\r') << QStringLiteral("ST D\r");
    QTest::newRow("query V") << QString::fromLatin1(query('V')) << QStringLiteral("ST V");
    QTest::newRow("loop count 3") << setString('O', 3) << QStringLiteral("ST O 3");
    QTest::newRow("bit rate 115200") << setString('D', 4) << QStringLiteral("ST D 4");
    QTest::newRow("offset 32767") << setString('N', 32767) << QStringLiteral("ST N 32767");
    QTest::newRow("volume locked") << volumeString(1, std::nullopt) << QStringLiteral("ST V 1");
    QTest::newRow("volume two channels") << volumeString(10, 20) << QStringLiteral("ST V 10 20");
    QTest::newRow("bass 15 dB at step 15") << bassBoostString(true, 15, 15) << QStringLiteral("ST B 255");
    QTest::newRow("bass 0 dB at step 3") << bassBoostString(true, 0, 3) << QStringLiteral("ST B 3");
    QTest::newRow("bass 2 dB at step 5") << bassBoostString(true, 2, 5) << QStringLiteral("ST B 37");
    QTest::newRow("bass switched off") << bassBoostString(false, 2, 5) << QStringLiteral("ST B 0");
}

void tst_SettingCodec::commands()
{
    QFETCH(QString, composed);
    QFETCH(QString, expected);
    QCOMPARE(composed, expected);
}

void tst_SettingCodec::replies_data()
{
    QTest::addColumn<char>("letter");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("right");
    QTest::addColumn<bool>("locked");
    QTest::addColumn<QString>("composed");

    auto good = [](const char *name, char letter, const QByteArray &reply, int value, int right, bool locked,
                   const char *composed) {
        QTest::newRow(name) << letter << reply << true << value << right << locked << QString::fromLatin1(composed);
    };
    auto bad = [](const char *name, char letter, const QByteArray &reply) {
        QTest::newRow(name) << letter << reply << false << 0 << 0 << false << QString();
    };

    good("D 0", 'D', "0", 0, 0, false, "ST D 0");
    good("D 4", 'D', "4", 4, 0, false, "ST D 4");
    good("T 0", 'T', "0", 0, 0, false, "ST T 0");
    good("T 254", 'T', "254", 254, 0, false, "ST T 254");
    good("S 2", 'S', "2", 2, 0, false, "ST S 2");
    good("N 32767", 'N', "32767", 32767, 0, false, "ST N 32767");
    good("H 1", 'H', "1", 1, 0, false, "ST H 1");
    good("H 0", 'H', "0", 0, 0, false, "ST H 0");
    good("H 2 is unchecked", 'H', "2", 0, 0, false, "ST H 0");
    good("H 1.0 is checked", 'H', "1.0", 1, 0, false, "ST H 1");
    good("U 2 is unchecked", 'U', "2", 0, 0, false, "ST U 0");
    good("U 1", 'U', "1", 1, 0, false, "ST U 1");
    good("V two values, unlocked", 'V', "10 20", 10, 20, false, "ST V 10 20");
    good("V two values, Same as L", 'V', "10 20", 10, 20, true, "ST V 10");
    good("V one value is both channels", 'V', "30", 30, 30, false, "ST V 30 30");
    good("V extra blanks", 'V', " 10  20 ", 10, 20, false, "ST V 10 20");
    good("V 0 254", 'V', "0 254", 0, 254, false, "ST V 0 254");
    good("O 3", 'O', "3", 3, 0, false, "ST O 3");
    good("B 37", 'B', "37", 37, 0, false, "ST B 37");
    good("B 0", 'B', "0", 0, 0, false, "ST B 0");
    good("B 255", 'B', "255", 255, 0, false, "ST B 255");
    good("B 3", 'B', "3", 3, 0, false, "ST B 3");
    good("CR LF around", 'T', "\r\n20\r\n", 20, 0, false, "ST T 20");
    good("blanks and tab around", 'O', " \t7 ", 7, 0, false, "ST O 7");
    good("CR LF after V", 'V', "16 16\r\n", 16, 16, false, "ST V 16 16");
    good("plus sign", 'T', "+20", 20, 0, false, "ST T 20");
    good("exponent", 'T', "1e2", 100, 0, false, "ST T 100");
    good("half to even down", 'T', "2.5", 2, 0, false, "ST T 2");
    good("half to even up", 'T', "3.5", 4, 0, false, "ST T 4");
    good("half to even, odd maximum", 'N', "0.5", 0, 0, false, "ST N 0");
    good("fraction rounds", 'O', "6.7", 7, 0, false, "ST O 7");
    good("list index rounds", 'D', "1.5", 2, 0, false, "ST D 2");
    good("minus zero", 'S', "-0.4", 0, 0, false, "ST S 0");
    good("V halves", 'V', "0.5 1.5", 0, 2, false, "ST V 0 2");

    bad("empty", 'D', "");
    bad("line end only", 'T', "\r\n");
    bad("error reply", 'V', "E05");
    bad("garbage", 'N', "abc");
    bad("number then garbage", 'T', "20abc");
    bad("hex", 'O', "0x10");
    bad("two numbers", 'T', "1 2");
    bad("D 5", 'D', "5");
    bad("D -1", 'D', "-1");
    bad("T 255", 'T', "255");
    bad("S 3", 'S', "3");
    bad("N 32768", 'N', "32768");
    bad("N huge", 'N', "1e999");
    bad("O 254.6 rounds to 255", 'O', "254.6");
    bad("V right out of range", 'V', "10 255");
    bad("V left negative", 'V', "-1 10");
    bad("V right garbage", 'V', "10 x");
    bad("V three values", 'V', "1 2 3");
    bad("B 256", 'B', "256");
    bad("B negative", 'B', "-1");
    bad("H garbage", 'H', "yes");
    bad("U empty", 'U', "");
    bad("prompt inside", 'T', "2>0");
}

void tst_SettingCodec::replies()
{
    QFETCH(char, letter);
    QFETCH(QByteArray, reply);
    QFETCH(bool, ok);

    const Reading r = readReply(letter, reply);
    QCOMPARE(r.ok, ok);
    if (!ok) {
        QVERIFY(!r.problem.isEmpty());
        return;
    }
    QFETCH(int, value);
    QFETCH(bool, locked);
    QFETCH(QString, composed);
    QCOMPARE(r.value, value);
    if (letter == 'V') {
        QFETCH(int, right);
        QCOMPARE(r.right, right);
    }
    if (letter == 'B') {
        QCOMPARE(r.boost(), value / 16);
        QCOMPARE(r.step(), value % 16);
    }
    QCOMPARE(composedAfterRead(letter, r, locked), composed);
}

void tst_SettingCodec::roundingHalfEven_data()
{
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("rounded");
    QTest::newRow("0.5") << 0.5 << 0.0;
    QTest::newRow("1.5") << 1.5 << 2.0;
    QTest::newRow("2.5") << 2.5 << 2.0;
    QTest::newRow("3.5") << 3.5 << 4.0;
    QTest::newRow("-2.5") << -2.5 << -2.0;
    QTest::newRow("2.4") << 2.4 << 2.0;
    QTest::newRow("2.6") << 2.6 << 3.0;
    QTest::newRow("32766.5") << 32766.5 << 32766.0;
}

void tst_SettingCodec::roundingHalfEven()
{
    QFETCH(double, x);
    QFETCH(double, rounded);
    QCOMPARE(roundHalfEven(x), rounded);
}

void tst_SettingCodec::failureTexts_data()
{
    QTest::addColumn<char>("letter");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("timedOut");
    QTest::addColumn<QString>("text");

    QTest::newRow("error reply") << 'V' << QByteArray("E05") << false
                                 << QStringLiteral("Could not read Volume - 'V': reply 'E05'");
    QTest::newRow("time-out") << 'D' << QByteArray() << true
                              << QStringLiteral("Could not read Bit Rate - 'D': no answer");
    QTest::newRow("prompt alone") << 'U' << QByteArray() << false
                                  << QStringLiteral("Could not read Uninterrupted Playback - 'U': empty reply");
    QTest::newRow("out of range") << 'B' << QByteArray("256") << false
                                  << QStringLiteral("Could not read Bass Boost - 'B': reply '256' is out of range (0 to 255)");
    QTest::newRow("control bytes shown escaped")
        << 'O' << QByteArray("\x1b<b>\r\n\xff") << false
        << QStringLiteral("Could not read Loop Count - 'O': reply '\\e<b>\\r\\n\\xff'");
    QTest::newRow("long reply cut") << 'N' << QByteArray(60, 'x') << false
                                    << QStringLiteral("Could not read Input File Number Offset - 'N': reply '")
                                           + QString(40, QLatin1Char('x')) + QStringLiteral("...'");
}

void tst_SettingCodec::failureTexts()
{
    QFETCH(char, letter);
    QFETCH(QByteArray, reply);
    QFETCH(bool, timedOut);
    QFETCH(QString, text);
    QCOMPARE(readFailure(letter, reply, readReply(letter, reply), timedOut), text);
}

QTEST_GUILESS_MAIN(tst_SettingCodec)
#include "tst_settingcodec.moc"
