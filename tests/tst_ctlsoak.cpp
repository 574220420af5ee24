// The parallel fault soak: one kavoctl write to many kavo-sim modules at once, each with a
// settings file of its own and faults drawn at random (random faults of every kind, a
// device that starts to send without end, answers that come late, hang-ups, modules pulled
// while the run goes on). What must hold after every run:
//  - the run ends, within a bound, with status 0 or 1, and one JSON object per port;
//  - every setting a module heard is one of its own file's (no port's commands reach
//    another module);
//  - every port kavoctl reports as ok ends holding exactly its own file's values.
//
// The random start value is printed first; KAVO_CTLSOAK_RANDOM=<n> draws the same modules
// and faults again (the traffic depends on timing, so a replay retraces a run closely
// rather than exactly). KAVO_CTLSOAK_SECONDS (60) bounds the soak; a run in progress when
// the time is up is finished first.
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>
#include <vector>

#include "settings/settingtable.h"
#include "support/kavosim.h"
#include "support/testenv.h"

namespace {

constexpr int Modules = 8;

quint64 envNumber(const char *name, quint64 fallback)
{
    bool ok = false;
    const quint64 n = qEnvironmentVariable(name).toULongLong(&ok);
    return ok ? n : fallback;
}

// A settings file whose values no other module of the run gets, where the ranges allow.
QMap<char, QString> settingsFor(int run, int module, QRandomGenerator &random)
{
    const int k = run * Modules + module;
    return {
        {'D', SettingTable::setString('D', int(random.bounded(5)))},
        {'T', SettingTable::setString('T', 10 + k % 240)},
        {'S', SettingTable::setString('S', k % 3)},
        {'N', SettingTable::setString('N', 1000 + k)},
        {'H', SettingTable::setString('H', k % 2)},
        {'V', SettingTable::volumeString(20 + k % 200, 21 + k % 200)},
        {'O', SettingTable::setString('O', 30 + k % 200)},
        {'B', SettingTable::setString('B', 17 + k % 230)},
        {'U', SettingTable::setString('U', (k / 2) % 2)},
    };
}

// What a module holds after its traffic: the last setting of each letter that it took (a
// random error reply takes nothing, and neither does a line heard at a wrong rate).
QMap<char, QString> heldAfter(const QList<TrafficLine> &log)
{
    static const QRegularExpression set(QStringLiteral("^ST ([A-Z]) \\d+( \\d+)?$"));
    QMap<char, QString> held;
    for (const TrafficLine &line : log) {
        const QRegularExpressionMatch m = set.match(line.command);
        if (!m.hasMatch() || line.note.contains(QStringLiteral("random:error")) || line.note.contains(QStringLiteral("mismatch"))
            || line.answer.startsWith(QLatin1Char('E')))
            continue;
        held.insert(m.captured(1).at(0).toLatin1(), line.command);
    }
    return held;
}

} // namespace

class tst_CtlSoak : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { TestEnv::isolate(); }
    void soak();
};

void tst_CtlSoak::soak()
{
    const quint64 start = envNumber("KAVO_CTLSOAK_RANDOM", QRandomGenerator::global()->generate());
    const qint64 capMs = qint64(envNumber("KAVO_CTLSOAK_SECONDS", 60)) * 1000;
    qInfo("parallel soak: random start value %llu (replay with KAVO_CTLSOAK_RANDOM=%llu)", start, start);
    QRandomGenerator random(quint32(start ^ (start >> 32)));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());

    QElapsedTimer clock;
    clock.start();
    int runs = 0, portsOk = 0, portsFailed = 0, pulled = 0, checked = 0;
    QMap<QString, int> faults;
    while (clock.elapsed() < capMs) {
        ++runs;
        std::vector<std::unique_ptr<KavoSim>> sims;
        std::vector<QMap<char, QString>> files;
        QStringList ports;
        QList<int> toPull;
        for (int m = 0; m < Modules; ++m) {
            QStringList options{QStringLiteral("--rate"),
                                QString::number(SettingTable::bitRates().at(int(random.bounded(5))))};
            QString fault;
            switch (random.bounded(10)) {
            case 0: case 1: case 2:
                fault = QStringLiteral("random");
                options << QStringLiteral("--random") << QString::number(random.generate())
                        << QStringLiteral("--faults") << QString::number(3 + random.bounded(15));
                break;
            case 3:
                fault = QStringLiteral("babble");
                options << QStringLiteral("--babble-after") << QString::number(2 + random.bounded(20));
                break;
            case 4:
                fault = QStringLiteral("late");
                options << QStringLiteral("--delay")
                        << QStringLiteral("ST %1=%2").arg(QLatin1Char("TSNHVOBUD"[random.bounded(9)])).arg(300 + random.bounded(600));
                break;
            case 5:
                fault = QStringLiteral("hangup");
                options << QStringLiteral("--hangup-after") << QString::number(10 + random.bounded(300));
                break;
            case 6:
                fault = QStringLiteral("pulled");
                toPull << m;
                break;
            default:
                fault = QStringLiteral("none");
                break;
            }
            ++faults[fault];
            auto sim = std::make_unique<KavoSim>();
            QVERIFY2(sim->start(options), qPrintable(options.join(QLatin1Char(' '))));
            files.push_back(settingsFor(runs, m, random));
            QFile file(dir.filePath(QStringLiteral("run%1-%2.kavo").arg(runs).arg(sim->comName())));
            QVERIFY(file.open(QIODevice::WriteOnly));
            for (const QString &line : std::as_const(files.back()))
                file.write(line.toLatin1() + '\n');
            ports << sim->comName();
            sims.push_back(std::move(sim));
        }

        QProcess process;
        process.start(QStringLiteral(KAVOCTL_PATH),
                      {QStringLiteral("write"), QStringLiteral("--json"), QStringLiteral("--port"), ports.join(QLatin1Char(',')),
                       dir.filePath(QStringLiteral("run%1-{port}.kavo").arg(runs))});
        QVERIFY(process.waitForStarted());
        // Modules pulled at random moments while the run goes on.
        for (const int m : std::as_const(toPull)) {
            QTest::qWait(int(random.bounded(1500)));   // a random moment, not a wait for the program
            sims[m]->kill();
            ++pulled;
        }
        // Every wait ends within seconds: five rates, a few waits each, nine settings and
        // their read back; a run that takes minutes hangs somewhere.
        const bool ended = process.state() == QProcess::NotRunning || process.waitForFinished(120000);
        if (!ended)
            process.kill();
        QVERIFY2(ended, qPrintable(QStringLiteral("run %1 did not end within 120 s").arg(runs)));
        QVERIFY2(process.exitStatus() == QProcess::NormalExit && (process.exitCode() == 0 || process.exitCode() == 1),
                 qPrintable(QStringLiteral("run %1 ended with %2: %3")
                                .arg(runs)
                                .arg(process.exitCode())
                                .arg(QString::fromLocal8Bit(process.readAllStandardError()))));

        QMap<QString, QJsonObject> objects;
        for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
            if (line.isEmpty())
                continue;
            const QJsonObject object = QJsonDocument::fromJson(line).object();
            objects.insert(object.value(QStringLiteral("port")).toString(), object);
        }
        QCOMPARE(objects.keys(), [&] {
            QStringList sorted = ports;
            sorted.sort();
            return sorted;
        }());

        for (int m = 0; m < Modules; ++m) {
            const KavoSim &sim = *sims[m];
            const QList<TrafficLine> log = sim.log();
            QStringList own;
            for (const QString &line : std::as_const(files[m]))
                own << line;
            // Only its own file's settings reached this module (a module that hangs up in the
            // middle of a line logs the part it got; a wrong rate garbles what it gets).
            static const QRegularExpression set(QStringLiteral("^ST [A-Z] \\d"));
            for (const TrafficLine &line : log)
                if (set.match(line.command).hasMatch() && !line.note.contains(QStringLiteral("mismatch"))
                    && !line.note.contains(QStringLiteral("hangup")))
                    QVERIFY2(own.contains(line.command),
                             qPrintable(QStringLiteral("run %1: %2 heard '%3', which is not in its file")
                                            .arg(runs)
                                            .arg(sim.comName(), line.command)));
            const QJsonObject object = objects.value(sim.comName());
            if (!object.value(QStringLiteral("ok")).toBool()) {
                ++portsFailed;
                continue;
            }
            ++portsOk;
            // Reported ok: it holds exactly its file.
            const QMap<char, QString> held = heldAfter(log);
            for (auto it = files[m].cbegin(); it != files[m].cend(); ++it) {
                ++checked;
                QVERIFY2(held.value(it.key()) == it.value(),
                         qPrintable(QStringLiteral("run %1: %2 reported ok, but holds '%3' where its file says '%4'")
                                        .arg(runs)
                                        .arg(sim.comName(), held.value(it.key()), it.value())));
            }
        }
    }
    QStringList kinds;
    for (auto it = faults.cbegin(); it != faults.cend(); ++it)
        kinds << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
    qInfo("parallel soak: random start value %llu; %d runs of %d modules in %.1f s (%s); %d ports ok, %d failed, "
          "%d pulled; %d settings checked against their files",
          start, runs, Modules, clock.elapsed() / 1000.0, qPrintable(kinds.join(QStringLiteral(", "))), portsOk,
          portsFailed, pulled, checked);
}

QTEST_GUILESS_MAIN(tst_CtlSoak)
#include "tst_ctlsoak.moc"
