// The manual pages agree with the programs: every option a page names is one its program's
// --help shows, and every option --help shows is in the page (kavoctl: also every command,
// and the options of each command's own --help). A program that gains or loses an option
// fails here, naming the option and where it is missing, until its page follows.
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

namespace {

struct Help {
    QString text;      // what the program printed, for the message
    QString error;     // why it could not be had
};

Help runHelp(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    Help help;
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        help.error = QStringLiteral("%1 %2 did not end with status 0: %3")
                         .arg(program, arguments.join(QLatin1Char(' ')),
                              QString::fromLocal8Bit(process.readAllStandardError()));
    help.text = QString::fromLocal8Bit(process.readAllStandardOutput());
    return help;
}

// The options a --help text shows: the ones a line starts with ("  -p, --port <COMn>  ...").
QSet<QString> helpOptions(const QString &text)
{
    static const QRegularExpression line(
        QStringLiteral("^\\s+(-{1,2}[A-Za-z0-9][\\w-]*)(?:,\\s+(-{1,2}[A-Za-z0-9][\\w-]*))?"),
        QRegularExpression::MultilineOption);
    QSet<QString> options;
    for (auto it = line.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        for (int i = 1; i <= 2; ++i)
            if (!m.captured(i).isEmpty())
                options << m.captured(i);
    }
    return options;
}

// What `entry` captures in the part of `text` after `heading` and before `end`, with roff's
// \- read as -.
QStringList entriesUnder(const QString &text, const QString &heading, const QString &end,
                         const QRegularExpression &entry)
{
    QStringList found;
    const qsizetype start = text.indexOf(heading);
    if (start < 0)
        return found;
    const qsizetype from = start + heading.size();
    const qsizetype stop = text.indexOf(end, from);
    for (auto it = entry.globalMatch(text.mid(from, stop < 0 ? -1 : stop - from)); it.hasNext();)
        found << it.next().captured(1).replace(QStringLiteral("\\-"), QStringLiteral("-"));
    return found;
}

// The commands a --help text lists under "Commands:" ("  ports    Lists ..."), up to the
// blank line that ends them.
QStringList helpCommands(const QString &text)
{
    static const QRegularExpression entry(QStringLiteral("^  ([a-z][\\w-]*)\\s"), QRegularExpression::MultilineOption);
    return entriesUnder(text, QStringLiteral("\nCommands:\n"), QStringLiteral("\n\n"), entry);
}

// The options a page names: \-\-long\-name and \-x, wherever they stand.
QSet<QString> pageOptions(const QString &roff)
{
    static const QRegularExpression option(
        QStringLiteral("(?<![\\w\\\\-])\\\\-(\\\\-(?:[A-Za-z0-9]|\\\\-)+|[A-Za-z](?![\\w\\\\]))"));
    QSet<QString> options;
    for (auto it = option.globalMatch(roff); it.hasNext();)
        options << QLatin1Char('-') + it.next().captured(1).replace(QStringLiteral("\\-"), QStringLiteral("-"));
    return options;
}

// The commands a page lists in its COMMANDS section (".TP" then ".B name").
QStringList pageCommands(const QString &roff)
{
    static const QRegularExpression entry(QStringLiteral("^\\.TP\\n\\.B ([a-z][\\w\\\\-]*)$"),
                                          QRegularExpression::MultilineOption);
    return entriesUnder(roff, QStringLiteral("\n.SH COMMANDS\n"), QStringLiteral("\n.SH "), entry);
}

QStringList sorted(QSet<QString> set)
{
    QStringList list = set.values();
    list.sort();
    return list;
}

} // namespace

class tst_ManPages : public QObject
{
    Q_OBJECT

private slots:
    void pageAgreesWithHelp_data();
    void pageAgreesWithHelp();
};

void tst_ManPages::pageAgreesWithHelp_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("page");

    QTest::newRow("kavoconfig") << QStringLiteral(KAVOCONFIG_PATH) << QStringLiteral(KAVO_SOURCE_DIR "/app/kavoconfig.1");
    QTest::newRow("kavoctl") << QStringLiteral(KAVOCTL_PATH) << QStringLiteral(KAVO_SOURCE_DIR "/cli/kavoctl.1");
    QTest::newRow("kavo-sim") << QStringLiteral(KAVO_SIM_PATH) << QStringLiteral(KAVO_SOURCE_DIR "/sim/kavo-sim.1");
}

void tst_ManPages::pageAgreesWithHelp()
{
    QFETCH(QString, program);
    QFETCH(QString, page);
    const QString name = QString::fromLatin1(QTest::currentDataTag());

    QFile file(page);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(page));
    const QString roff = QString::fromUtf8(file.readAll());

    // The program's help, and that of each of its commands.
    const Help main = runHelp(program, {QStringLiteral("--help")});
    QVERIFY2(main.error.isEmpty(), qPrintable(main.error));
    QMap<QString, QSet<QString>> shownBy;   // option -> the help texts that show it
    auto note = [&](const QString &where, const QString &text) {
        for (const QString &option : helpOptions(text))
            shownBy[option] << where;
    };
    note(name + QStringLiteral(" --help"), main.text);
    const QStringList commands = helpCommands(main.text);
    for (const QString &command : commands) {
        const Help help = runHelp(program, {command, QStringLiteral("--help")});
        QVERIFY2(help.error.isEmpty(), qPrintable(help.error));
        note(QStringLiteral("%1 %2 --help").arg(name, command), help.text);
    }
    QVERIFY2(!shownBy.isEmpty(), qPrintable(QStringLiteral("%1 --help shows no option:\n%2").arg(name, main.text)));

    QStringList problems;
    const QSet<QString> named = pageOptions(roff);
    for (const QString &option : sorted(named))
        if (!shownBy.contains(option))
            problems << QStringLiteral("%1 names %2, which no --help of %3 shows").arg(page, option, name);
    for (const QString &option : sorted(QSet<QString>(shownBy.keyBegin(), shownBy.keyEnd())))
        if (!named.contains(option))
            problems << QStringLiteral("%1 shows %2, which %3 does not name")
                            .arg(sorted(shownBy.value(option)).join(QStringLiteral(" and ")), option, page);

    const QStringList listed = pageCommands(roff);
    for (const QString &command : commands)
        if (!listed.contains(command))
            problems << QStringLiteral("%1 --help lists the command %2, which the COMMANDS of %3 do not")
                            .arg(name, command, page);
    for (const QString &command : listed)
        if (!commands.contains(command))
            problems << QStringLiteral("%1 lists the command %2, which %3 --help does not").arg(page, command, name);

    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
}

QTEST_GUILESS_MAIN(tst_ManPages)
#include "tst_manpages.moc"
