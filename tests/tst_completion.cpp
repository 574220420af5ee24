// kavoctl's bash completion, run by bash as the shell runs it: the commands and each
// command's options, the COM port a simulator publishes (also after a comma), the bit
// rates, and settings files for write.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "support/kavosim.h"
#include "support/testenv.h"

class tst_Completion : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void offers_data();
    void offers();

private:
    // What the completion offers for the last word of `words` (kavoctl first), in `folder`.
    QStringList complete(const QStringList &words, const QString &folder);

    KavoSim m_sim;
    QTemporaryDir m_files;
};

void tst_Completion::initTestCase()
{
    TestEnv::isolate();
    QVERIFY(m_sim.start());
    QVERIFY(m_files.isValid());
    for (const QString &name : {QStringLiteral("bench.kavo"), QStringLiteral("notes.txt")}) {
        QFile file(m_files.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(QDir(m_files.path()).mkdir(QStringLiteral("saved")));
}

QStringList tst_Completion::complete(const QStringList &words, const QString &folder)
{
    // The words go in as arguments, so nothing in them is taken for shell syntax.
    const QString script = QStringLiteral(
        "source \"$0\"\n"
        "COMP_WORDS=(\"$@\")\n"
        "COMP_CWORD=$(($# - 1))\n"
        "_kavoctl\n"
        "printf '%s\\n' \"${COMPREPLY[@]}\"\n");
    QProcess bash;
    bash.setWorkingDirectory(folder);
    bash.start(QStringLiteral("bash"), QStringList{QStringLiteral("-c"), script,
                                                   QStringLiteral(KAVO_SOURCE_DIR "/cli/kavoctl.bash-completion")}
                                           + words);
    if (!bash.waitForFinished(30000))
        return {QStringLiteral("(bash did not end)")};
    QStringList offered = QString::fromLocal8Bit(bash.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (bash.exitCode() != 0)
        offered << QStringLiteral("(bash: %1)").arg(QString::fromLocal8Bit(bash.readAllStandardError()));
    return offered;
}

void tst_Completion::offers_data()
{
    QTest::addColumn<QStringList>("words");      // after kavoctl; the last is being completed
    QTest::addColumn<QStringList>("offered");    // all of these are offered
    QTest::addColumn<QStringList>("notOffered");

    const QString port = QStringLiteral("{port}");
    QTest::newRow("commands") << QStringList{""}
                              << QStringList{"ports", "info", "read", "write", "play", "upload"} << QStringList{"--port"};
    QTest::newRow("a command's start") << QStringList{"up"} << QStringList{"upload"} << QStringList{"play"};
    QTest::newRow("read's options") << QStringList{"read", "--"}
                                    << QStringList{"--port", "--rate", "--output", "--json", "--verbose", "--help"}
                                    << QStringList{"--upload", "--as"};
    QTest::newRow("play's options") << QStringList{"play", "--port", "COM1", "--"} << QStringList{"--upload"}
                                    << QStringList{"--output"};
    QTest::newRow("the published port") << QStringList{"info", "--port", ""} << QStringList{port} << QStringList{};
    QTest::newRow("the published port after a comma")
        << QStringList{"info", "-p", "COM16,"} << QStringList{"COM16," + port} << QStringList{port};
    QTest::newRow("the published port as --port=") << QStringList{"info", "--port", "=", ""} << QStringList{port}
                                                   << QStringList{};
    QTest::newRow("bit rates") << QStringList{"write", "--rate", ""}
                               << QStringList{"9600", "19200", "38400", "57600", "115200", "auto"} << QStringList{};
    QTest::newRow("settings files for write") << QStringList{"write", "--port", "COM1", ""}
                                              << QStringList{"bench.kavo", "saved"} << QStringList{"notes.txt"};
    QTest::newRow("any file for upload") << QStringList{"upload", "--port", "COM1", ""}
                                         << QStringList{"bench.kavo", "notes.txt"} << QStringList{};
}

void tst_Completion::offers()
{
    QFETCH(QStringList, words);
    QFETCH(QStringList, offered);
    QFETCH(QStringList, notOffered);

    words.prepend(QStringLiteral(KAVOCTL_PATH));
    const QStringList got = complete(words, m_files.path());
    for (QString expected : std::as_const(offered)) {
        expected.replace(QStringLiteral("{port}"), m_sim.comName());
        QVERIFY2(got.contains(expected), qPrintable(QStringLiteral("%1 not offered; offered: %2").arg(expected, got.join(QLatin1Char(' ')))));
    }
    for (QString unexpected : std::as_const(notOffered)) {
        unexpected.replace(QStringLiteral("{port}"), m_sim.comName());
        QVERIFY2(!got.contains(unexpected), qPrintable(QStringLiteral("%1 offered: %2").arg(unexpected, got.join(QLatin1Char(' ')))));
    }
}

QTEST_GUILESS_MAIN(tst_Completion)
#include "tst_completion.moc"
