// Settings files: what a file may hold, every way it is refused (with its line number),
// and a saved file read back the same.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "settings/settingsfile.h"
#include "settings/settingtable.h"

namespace {

const QByteArray Nine = "ST D 2\nST T 20\nST S 1\nST N 32767\nST H 0\nST V 10 20\nST O 254\nST B 37\nST U 1\n";

} // namespace

class tst_SettingsFile : public QObject
{
    Q_OBJECT

private slots:
    void accepted_data();
    void accepted();
    void refused_data();
    void refused();
    void saveAndLoad();
    void loadProblems();
};

void tst_SettingsFile::accepted_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("volume");

    QTest::newRow("plain") << Nine << "ST V 10 20";
    QTest::newRow("any order, comments, blank lines, CR LF")
        << QByteArray("# bench 3\r\n\r\nST U 1\r\nST B 37\r\n  ST O 254  \r\nST V 10 20\r\n# end\r\nST H 0\r\n"
                      "ST N 32767\r\nST S 1\r\nST T 20\r\nST D 2\r\n")
        << "ST V 10 20";
    QByteArray single = Nine;
    single.replace("ST V 10 20", "ST V 7");
    QTest::newRow("one volume for both channels") << single << "ST V 7";
}

void tst_SettingsFile::accepted()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, volume);

    const SettingsFile::Parsed parsed = SettingsFile::parse(content);
    QVERIFY2(parsed.ok(), qPrintable(parsed.error));
    QCOMPARE(parsed.strings.size(), 9);
    QCOMPARE(parsed.strings.value('D'), QString("ST D 2"));
    QCOMPARE(parsed.strings.value('N'), QString("ST N 32767"));
    QCOMPARE(parsed.strings.value('B'), QString("ST B 37"));
    QCOMPARE(parsed.strings.value('V'), volume);
}

void tst_SettingsFile::refused_data()
{
    QTest::addColumn<QByteArray>("from");   // replaced in the plain file ...
    QTest::addColumn<QByteArray>("to");     // ... by this
    QTest::addColumn<QString>("error");

    QTest::newRow("out of range") << QByteArray("ST T 20") << QByteArray("ST T 255")
                                  << "line 2: 'ST T 255': Write Time-out 255 is out of range (0 to 254)";
    QTest::newRow("list index out of range") << QByteArray("ST D 2") << QByteArray("ST D 5")
                                             << "line 1: 'ST D 5': Bit Rate 5 is out of range (0 to 4)";
    QTest::newRow("flag") << QByteArray("ST H 0") << QByteArray("ST H 2")
                          << "line 5: 'ST H 2': Hardware Busy Indicator 2 is out of range (0 to 1)";
    QTest::newRow("leading zero") << QByteArray("ST O 254") << QByteArray("ST O 0254")
                                  << "line 7: 'ST O 0254': '0254' is not a plain decimal number";
    QTest::newRow("sign") << QByteArray("ST N 32767") << QByteArray("ST N -1")
                          << "line 4: 'ST N -1': '-1' is not a plain decimal number";
    QTest::newRow("two blanks") << QByteArray("ST S 1") << QByteArray("ST S  1")
                                << "line 3: 'ST S  1': values are separated by one blank";
    QTest::newRow("extra value") << QByteArray("ST U 1") << QByteArray("ST U 1 1")
                                 << "line 9: 'ST U 1 1': Uninterrupted Playback takes one value";
    QTest::newRow("three volumes") << QByteArray("ST V 10 20") << QByteArray("ST V 10 20 30")
                                   << "line 6: 'ST V 10 20 30': Volume takes one or two values";
    QTest::newRow("no value") << QByteArray("ST B 37") << QByteArray("ST B")
                              << "line 8: 'ST B': not a setting string (\"ST\", a setting letter and its value)";
    QTest::newRow("not a setting") << QByteArray("ST B 37") << QByteArray("ST X 1")
                                   << "line 8: 'ST X 1': 'X' is not a setting letter (D, T, S, N, H, V, O, B or U)";
    QTest::newRow("lower case") << QByteArray("ST B 37") << QByteArray("st b 37")
                                << "line 8: 'st b 37': not a setting string (\"ST\", a setting letter and its value)";
    QTest::newRow("twice") << QByteArray("ST U 1") << QByteArray("ST U 1\nST T 3")
                           << "line 10: Write Time-out is set again (first on line 2)";
    QTest::newRow("missing") << QByteArray("ST B 37\n") << QByteArray()
                             << "no value for Bass Boost ('B')";
    QTest::newRow("control bytes") << QByteArray("ST B 37") << QByteArray("ST B 3\x1b" "7")
                                   << "line 8: holds characters that no setting string has";
}

void tst_SettingsFile::refused()
{
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QFETCH(QString, error);

    QByteArray content = Nine;
    QVERIFY(content.contains(from));
    content.replace(from, to);
    const SettingsFile::Parsed parsed = SettingsFile::parse(content);
    QCOMPARE(parsed.error, error);
    QVERIFY(parsed.strings.isEmpty() || !parsed.ok());
}

void tst_SettingsFile::saveAndLoad()
{
    const SettingsFile::Parsed parsed = SettingsFile::parse(Nine);
    QVERIFY(parsed.ok());
    QTemporaryDir dir;
    const QString path = dir.filePath("bench.kavo");
    QString error;
    QVERIFY2(SettingsFile::save(path, parsed.strings, &error), qPrintable(error));
    // The nine strings in the order they are read, under a heading.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), "# Kavo settings\n" + Nine);
    const SettingsFile::Parsed again = SettingsFile::load(path);
    QVERIFY2(again.ok(), qPrintable(again.error));
    QCOMPARE(again.strings, parsed.strings);

    // A file that cannot be written leaves no trace and says why.
    QVERIFY(!SettingsFile::save(dir.filePath("no/such/folder/x.kavo"), parsed.strings, &error));
    QVERIFY(!error.isEmpty());
}

void tst_SettingsFile::loadProblems()
{
    QTemporaryDir dir;
    const QString missing = dir.filePath("missing.kavo");
    QCOMPARE(SettingsFile::load(missing).error, missing + ": no such file");
    QCOMPARE(SettingsFile::load(dir.path()).error, dir.path() + ": a folder, not a settings file");
    const QString bad = dir.filePath("bad.kavo");
    QFile file(bad);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("ST D 9\n");
    file.close();
    QCOMPARE(SettingsFile::load(bad).error, bad + ": line 1: 'ST D 9': Bit Rate 9 is out of range (0 to 4)");
}

QTEST_GUILESS_MAIN(tst_SettingsFile)
#include "tst_settingsfile.moc"
