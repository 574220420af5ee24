// The traffic log: what the link records for a connect, a read, a write that moves the port
// to another rate and a short upload, against kavo-sim; its escapes and the summary of an
// upload's pieces; its bound under a device that never stops sending; and the logging
// category that shows it anywhere.
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "link/tracer.h"
#include "session/kavosession.h"
#include "settings/settingsfile.h"
#include "support/kavosim.h"
#include "support/testenv.h"

namespace {

// "<kind letter or event> <text>" for each entry: what a reader of the trace sees.
QStringList shown(const QList<TraceEntry> &entries)
{
    QStringList lines;
    for (const TraceEntry &e : entries)
        lines << e.direction() + QLatin1Char(' ') + e.text();
    return lines;
}

ConnectRequest automatic(const KavoSim &sim)
{
    ConnectRequest request;
    request.port = std::make_shared<PortChoice>(ComPorts::port(sim.com()));
    request.rates = SettingTable::bitRates();
    return request;
}

QStringList messages;
void capture(QtMsgType, const QMessageLogContext &context, const QString &message)
{
    if (QLatin1String(context.category) == QLatin1String("kavo.link"))
        messages << message;
}

} // namespace

class tst_Tracer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { TestEnv::isolate(); }
    void entryText_data();
    void entryText();
    void conversation();
    void boundedUnderBabble();
    void readersTakeWhatIsNew();
    void loggingCategory();
};

void tst_Tracer::entryText_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint64>("followed");
    QTest::addColumn<QString>("text");
    using K = TraceEntry::Kind;
    QTest::newRow("command") << int(K::Sent) << QByteArray("ST D\r") << qint64(0) << "ST D\\r";
    QTest::newRow("probe") << int(K::Sent) << QByteArray("\x1b\r") << qint64(0) << "\\e\\r";
    QTest::newRow("piece") << int(K::Sent) << QByteArray("FC W 1 512\r") << qint64(512) << "FC W 1 512 + 512 bytes";
    QTest::newRow("answer") << int(K::Received) << QByteArray("line 1\r\nline 2>") << qint64(0) << "line 1\\r\\nline 2>";
    QTest::newRow("every other byte") << int(K::Received) << QByteArray("\x00\x07\x7f\x80\xff\\", 6) << qint64(0)
                                      << "\\x00\\x07\\x7f\\x80\\xff\\\\";
    QTest::newRow("dropped") << int(K::Dropped) << QByteArray("JUNK") << qint64(0) << "JUNK (4 bytes dropped)";
    QTest::newRow("lost") << int(K::Lost) << QByteArray("Input/output error") << qint64(0) << "lost: Input/output error";
    QTest::newRow("hung up") << int(K::Lost) << QByteArray() << qint64(0) << "lost";
}

void tst_Tracer::entryText()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, followed);
    QFETCH(QString, text);
    TraceEntry entry;
    entry.kind = TraceEntry::Kind(kind);
    entry.bytes = bytes;
    entry.followed = followed;
    entry.port = QStringLiteral("COM3");
    entry.rate = 9600;
    entry.sinceOpenNs = 1234567;
    QCOMPARE(entry.text(), text);
    // A line: the time, the seconds since the port opened (to the microsecond, cut), the
    // port, the rate, the kind.
    static const QRegularExpression form(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\+0\\.001234 COM3 9600 [SRD*] "));
    QVERIFY2(form.match(entry.line()).hasMatch(), qPrintable(entry.line()));
}

// A whole conversation, entry by entry: the search (garbled at the wrong rate), the version,
// the card, a read, a write that moves the module to 19200 bps, a short upload.
void tst_Tracer::conversation()
{
    KavoSim sim;
    QVERIFY(sim.start({QStringLiteral("--rate"), QStringLiteral("19200")}));
    Tracer tracer;
    KavoSession session;
    session.setTracer(&tracer);
    SessionOperation operation(session);
    QVERIFY(session.connectModule(automatic(sim)).connected());
    QStringList connect = shown(tracer.entries());
    QCOMPARE(connect.mid(0, 4), (QStringList{QStringLiteral("* opened at 9600 bps"), QStringLiteral("S \\e\\r"),
                                             connect.value(2), QStringLiteral("* closed")}));
    QVERIFY2(connect.value(2).startsWith(QStringLiteral("R \\x")), qPrintable(connect.value(2)));   // garbled
    QCOMPARE(connect.value(4), QStringLiteral("* opened at 19200 bps"));
    QVERIFY(connect.contains(QStringLiteral("S V\\r")));
    QVERIFY(connect.contains(QStringLiteral("R Kavo v2.07KAV1 SN 00012345>")));
    for (const TraceEntry &e : tracer.entries().mid(4))
        QCOMPARE(e.rate, 19200);

    tracer.clear();
    QVERIFY(session.readSettings().complete());
    QStringList read = shown(tracer.entries());
    QCOMPARE(read.mid(0, 4), (QStringList{QStringLiteral("S ST D\\r"), QStringLiteral("R 1>"), QStringLiteral("S ST T\\r"),
                                          QStringLiteral("R 20>")}));

    tracer.clear();
    SettingsFile::Strings strings = SettingsFile::parse("ST D 0\nST T 20\nST S 1\nST N 0\nST H 1\nST V 16\nST O 1\nST B 0\nST U 0\n").strings;
    QCOMPARE(session.writeSettings([&](char letter) { return strings.value(letter); }).result, WriteOutcome::Result::Stored);
    const QStringList write = shown(tracer.entries());
    const qsizetype d = write.indexOf(QStringLiteral("S ST D 0\\r"));
    QVERIFY(d > 0);
    QCOMPARE(write.mid(d, 5), (QStringList{QStringLiteral("S ST D 0\\r"), QStringLiteral("R >"), QStringLiteral("* closed"),
                                           QStringLiteral("* opened at 9600 bps"), QStringLiteral("S \\e\\r")}));

    tracer.clear();
    QTemporaryDir dir;
    const QString local = dir.filePath(QStringLiteral("tone.mp3"));
    QFile file(local);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(600, '\x1b'));
    file.close();
    QVERIFY(session.upload(local, QStringLiteral("/TONE.MP3")).done());
    const QStringList upload = shown(tracer.entries());
    QCOMPARE(upload.mid(upload.indexOf(QStringLiteral("S FC O 1 W /TONE.MP3\\r")), 7),
             (QStringList{QStringLiteral("S FC O 1 W /TONE.MP3\\r"), QStringLiteral("R >"),
                          QStringLiteral("S FC W 1 512 + 512 bytes"), QStringLiteral("R >"),
                          QStringLiteral("S FC W 1 88 + 88 bytes"), QStringLiteral("R >"), QStringLiteral("S FC C 1\\r")}));
}

// A device that never stops sending fills the ring, and no more.
void tst_Tracer::boundedUnderBabble()
{
    KavoSim sim;
    QVERIFY(sim.start({QStringLiteral("--babble")}));
    Tracer tracer(50);
    KavoSession session;
    session.setTracer(&tracer);
    SessionOperation operation(session);
    QVERIFY(session.openPort(ComPorts::port(sim.com()), 9600).open);
    for (int i = 0; i < 3; ++i)
        session.readCardInfo();
    QVERIFY2(tracer.recorded() > 100, qPrintable(QString::number(tracer.recorded())));
    QCOMPARE(tracer.entries().size(), 50);
}

// A reader takes what is new since it last looked, is told how many it missed when more came
// than the ring keeps, and sees nothing of what was cleared; what the ring keeps is a copy of
// its own, short or long.
void tst_Tracer::readersTakeWhatIsNew()
{
    Tracer tracer(4);
    int fillingUp = 0;
    tracer.setFillingUp([&] { ++fillingUp; });
    QByteArray source = "ST V 10\r";
    const QByteArray longBytes(300, 'x');
    for (int i = 0; i < 10; ++i) {
        TraceEntry entry;
        entry.kind = TraceEntry::Kind::Sent;
        entry.followed = i;
        entry.bytes = i == 9 ? longBytes : QByteArray::fromRawData(source.constData(), source.size());
        tracer.record(entry);
    }
    source.fill('?');   // the recorded view's source changes afterwards
    QCOMPARE(fillingUp, 1);

    quint64 recorded = 0, lost = 0;
    QList<TraceEntry> fresh = tracer.since(0, &recorded, &lost);
    QCOMPARE(recorded, quint64(10));
    QCOMPARE(lost, quint64(6));
    QCOMPARE(fresh.size(), 4);
    QCOMPARE(fresh.first().followed, qint64(6));
    QCOMPARE(fresh.first().bytes, QByteArray("ST V 10\r"));
    QCOMPARE(fresh.last().bytes, longBytes);

    fresh = tracer.since(8, &recorded, &lost);
    QCOMPARE(fresh.size(), 2);
    QCOMPARE(lost, quint64(0));

    tracer.clear();
    TraceEntry after;
    after.kind = TraceEntry::Kind::Closed;
    tracer.record(after);
    fresh = tracer.since(3, &recorded, &lost);
    QCOMPARE(fresh.size(), 1);
    QCOMPARE(fresh.first().kind, TraceEntry::Kind::Closed);
    QCOMPARE(lost, quint64(0));
    QCOMPARE(tracer.entries().size(), 1);
}

// QT_LOGGING_RULES="kavo.link.debug=true" shows every entry, with no tracer at all.
void tst_Tracer::loggingCategory()
{
    KavoSim sim;
    QVERIFY(sim.start());
    QLoggingCategory::setFilterRules(QStringLiteral("kavo.link.debug=true"));
    const QtMessageHandler previous = qInstallMessageHandler(capture);
    {
        KavoSession session;
        SessionOperation operation(session);
        QVERIFY(session.openPort(ComPorts::port(sim.com()), 9600).open);
        session.readVersion();
    }
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QStringLiteral("kavo.link.debug=false"));
    QVERIFY2(messages.filter(QStringLiteral(" S V\\r")).size() == 1, qPrintable(messages.join(QLatin1Char('\n'))));
    QVERIFY(!messages.filter(QStringLiteral("* opened at 9600 bps")).isEmpty());
}

QTEST_GUILESS_MAIN(tst_Tracer)
#include "tst_tracer.moc"
