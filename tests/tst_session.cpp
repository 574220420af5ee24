// The module session without a window, over kavo-sim: connecting at each rate and by
// detection, the identity check, reading and writing with refused and unanswered settings,
// uploads of every shape and their failures, and ending an operation early.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSemaphore>
#include <QSignalSpy>
#include <QThread>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "session/kavosession.h"
#include "settings/settingsfile.h"
#include "support/kavosim.h"
#include "support/testenv.h"

namespace {

const QStringList Rates = {QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("38400"),
                           QStringLiteral("57600"), QStringLiteral("115200")};

ConnectRequest request(const QString &port, int chosen = -1)
{
    ConnectRequest r;
    r.port = std::make_shared<PortChoice>(ComPorts::port(port.mid(3).toInt()));
    r.rates = SettingTable::bitRates();
    r.automatic = chosen < 0;
    r.chosen = chosen;
    return r;
}

// The defaults of kavo-sim at 9600 bps, as setting strings.
SettingsFile::Strings defaults()
{
    return {{'D', "ST D 0"}, {'T', "ST T 20"}, {'S', "ST S 1"}, {'N', "ST N 0"}, {'H', "ST H 1"},
            {'V', "ST V 16"}, {'O', "ST O 1"}, {'B', "ST B 0"}, {'U', "ST U 0"}};
}

QByteArray pattern(int length)
{
    QByteArray bytes(length, '\0');
    for (int i = 0; i < length; ++i)
        bytes[i] = char((i * 7 + i / 256) & 0xff);   // '>' and CR among them
    return bytes;
}

QStringList commandsAfter(const KavoSim &sim, qsizetype from)
{
    return sim.commands().mid(from);
}

} // namespace

class tst_Session : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void connectModule_data();
    void connectModule();
    void readSettings_data();
    void readSettings();
    void writeSettings_data();
    void writeSettings();
    void writeFollowsTheModule_data();
    void writeFollowsTheModule();
    void writeNeedsEveryString();
    void upload_data();
    void upload();
    void uploadFails_data();
    void uploadFails();
    void interruptedUpload();
    void playTest_data();
    void playTest();
    void endlessDevice_data();
    void endlessDevice();
    void shutdownEndsTheWait();
    void interruptEndsADetection();
    void twoSessionsAtOnce();
    void oneOperationAtATime();

private:
    // A simulator with these options and a session connected to it at its rate.
    bool connected(const QStringList &options, int rateIndex = 0);

    std::unique_ptr<KavoSim> m_sim;
    std::unique_ptr<KavoSession> m_session;
};

void tst_Session::initTestCase()
{
    TestEnv::isolate();
}

void tst_Session::cleanup()
{
    if (m_session && m_session->busy())
        m_session->endOperation();
    m_session.reset();
    m_sim.reset();
}

bool tst_Session::connected(const QStringList &options, int rateIndex)
{
    m_sim = std::make_unique<KavoSim>();
    if (!m_sim->start(QStringList{"--rate", Rates[rateIndex]} + options))
        return false;
    m_session = std::make_unique<KavoSession>();
    if (!m_session->beginOperation())
        return false;
    return m_session->connectModule(request(m_sim->comName(), rateIndex)).connected();
}

void tst_Session::connectModule_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("chosen");           // -1: automatic detection
    QTest::addColumn<int>("result");           // ConnectOutcome::Result
    QTest::addColumn<int>("rateIndex");
    QTest::addColumn<int>("searches");         // "Searching for Kavo at ..." texts
    QTest::addColumn<QStringList>("messages"); // %1: the port's name

    using R = ConnectOutcome::Result;
    const QString none = "%1 is not connected to a Kavo or there was a time-out trying to connect to the Kavo";
    const QString other = "%1 is not connected to a Kavo (SN reported: KAV2 <> KAV1)";
    for (int i = 0; i < Rates.size(); ++i)
        QTest::addRow("detected at %s", qPrintable(Rates[i]))
            << QStringList{"--rate", Rates[i]} << -1 << int(R::Connected) << i << i + 1 << QStringList();
    // Wrong rates answered with garbled bytes and wrong rates kept silent lead to the same.
    QTest::newRow("detected, wrong rates silent")
        << QStringList{"--rate", "57600", "--mismatch-silent"} << -1 << int(R::Connected) << 3 << 4 << QStringList();
    QTest::newRow("chosen rate") << QStringList{"--rate", "57600"} << 3 << int(R::Connected) << 3 << 1 << QStringList();
    QTest::newRow("chosen rate, module elsewhere")
        << QStringList{"--rate", "57600"} << 0 << int(R::NotFound) << -1 << 1 << QStringList{none};
    QTest::newRow("nothing answers") << QStringList{"--silent"} << -1 << int(R::NotFound) << -1 << 5 << QStringList{none};
    // Detection moves on from a device that keeps sending as from silence.
    QTest::newRow("a device that keeps sending") << QStringList{"--babble"} << -1 << int(R::NotFound) << -1 << 5
                                                 << QStringList{none};
    // At the one rate chosen, such a device is told for what it is, not as a time-out.
    QTest::newRow("a device that keeps sending, chosen rate")
        << QStringList{"--babble"} << 0 << int(R::NotFound) << -1 << 1
        << QStringList{"The device on %1 keeps sending without a prompt; it may not be a Kavo."};
    QTest::newRow("another identity, detected")
        << QStringList{"--identity", "KAV2"} << -1 << int(R::WrongIdentity) << 0 << 1 << QStringList{other, none};
    QTest::newRow("another identity, chosen rate")
        << QStringList{"--identity", "KAV2"} << 0 << int(R::WrongIdentity) << 0 << 1 << QStringList{other};
}

void tst_Session::connectModule()
{
    QFETCH(QStringList, options);
    QFETCH(int, chosen);
    QFETCH(int, result);
    QFETCH(int, rateIndex);
    QFETCH(int, searches);
    QFETCH(QStringList, messages);

    m_sim = std::make_unique<KavoSim>();
    QVERIFY(m_sim->start(options));
    KavoSession session;
    QSignalSpy statuses(&session, &KavoSession::status);
    QSignalSpy selected(&session, &KavoSession::bitRateChanged);
    QSignalSpy versions(&session, &KavoSession::versionRead);
    SessionOperation operation(session);
    QVERIFY(operation.acquired());

    const ConnectOutcome outcome = session.connectModule(request(m_sim->comName(), chosen));
    QCOMPARE(int(outcome.result), result);
    QCOMPARE(outcome.rate, rateIndex >= 0 ? Rates[rateIndex].toInt() : 0);
    for (QString &m : messages)
        m = m.arg(m_sim->comName());
    QCOMPARE(outcome.messages, messages);
    QCOMPARE(session.portOpen(), outcome.connected());

    QStringList searched;
    for (const QList<QVariant> &s : statuses)
        if (s.value(0).toString().startsWith("Searching for Kavo at "))
            searched << s.value(0).toString();
    QCOMPARE(searched.size(), searches);
    if (chosen < 0) {
        for (int i = 0; i < searches; ++i)
            QCOMPARE(searched[i], "Searching for Kavo at " + Rates[i] + " bps");
        QCOMPARE(selected.size(), rateIndex >= 0 ? 1 : 0);
        if (rateIndex >= 0)
            QCOMPARE(selected.first().value(0).toInt(), Rates[rateIndex].toInt());
    }
    if (outcome.connected()) {
        QCOMPARE(outcome.version, QString("Kavo v2.07KAV1 SN 00012345"));
        QCOMPARE(session.bitRate(), Rates[rateIndex].toInt());
        QCOMPARE(versions.last().value(0).toString(), outcome.version);
    }
    if (result == int(ConnectOutcome::Result::WrongIdentity))
        QCOMPARE(outcome.identity, QString("KAV2"));
}

void tst_Session::readSettings_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("stopsAt");   // empty: a complete read
    QTest::addColumn<QString>("failure");

    QTest::newRow("complete") << QStringList() << QString() << QString();
    QTest::newRow("refused") << QStringList{"--reply", "ST V=E05>"} << "V" << "Could not read Volume - 'V': reply 'E05'";
    QTest::newRow("unanswered") << QStringList{"--reply", "ST O="} << "O" << "Could not read Loop Count - 'O': no answer";
    QTest::newRow("out of range") << QStringList{"--reply", "ST B=256>"} << "B"
                                  << "Could not read Bass Boost - 'B': reply '256' is out of range (0 to 255)";
}

void tst_Session::readSettings()
{
    QFETCH(QStringList, options);
    QFETCH(QString, stopsAt);
    QFETCH(QString, failure);

    QVERIFY(connected(options));
    QSignalSpy arrived(m_session.get(), &KavoSession::settingRead);
    QSignalSpy statuses(m_session.get(), &KavoSession::status);
    const ReadOutcome outcome = m_session->readSettings();

    QString order;
    for (const QList<QVariant> &a : arrived)
        order += QChar(a.value(0).value<char>());
    const QString all = "DTSNHVOBU";
    const QString expected = stopsAt.isEmpty() ? all : all.left(all.indexOf(stopsAt));
    QCOMPARE(order, expected);
    QCOMPARE(outcome.readings.size(), expected.size());
    QCOMPARE(outcome.complete(), stopsAt.isEmpty());
    QVERIFY(!outcome.aborted());
    QCOMPARE(outcome.failure, failure);
    QCOMPARE(statuses.last().value(0).toString(), stopsAt.isEmpty() ? QString("All Settings Received") : failure);
    if (stopsAt.isEmpty()) {
        for (const char letter : all.toLatin1())
            QCOMPARE(SettingTable::storedFrom(letter, outcome.readings.value(letter)).settingString(),
                     defaults().value(letter));
    }
}

void tst_Session::writeSettings_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("notStored");

    QTest::newRow("all taken") << QStringList() << QStringList();
    QTest::newRow("one refused") << QStringList{"--reply", "ST V 30=E05>"} << QStringList{"Volume - 'V' (reply 'E05')"};
    QTest::newRow("one unanswered") << QStringList{"--reply", "ST O 3="} << QStringList{"Loop Count - 'O' (no answer)"};
}

void tst_Session::writeSettings()
{
    QFETCH(QStringList, options);
    QFETCH(QStringList, notStored);

    QVERIFY(connected(options));
    const qsizetype before = m_sim->commands().size();
    SettingsFile::Strings strings = defaults();
    strings['V'] = "ST V 30";
    strings['O'] = "ST O 3";
    QStringList asked;
    const WriteOutcome outcome = m_session->writeSettings([&](char letter) {
        asked << QString(QLatin1Char(letter));
        return strings.value(letter);
    });
    // Bit rate last, each line as it stood.
    QCOMPARE(commandsAfter(*m_sim, before),
             QStringList({"ST T 20", "ST S 1", "ST N 0", "ST H 1", "ST V 30", "ST O 3", "ST B 0", "ST U 0", "ST D 0"}));
    QCOMPARE(asked.mid(asked.size() - 9).join(""), QString("TSNHVOBUD"));
    QCOMPARE(outcome.notStored, notStored);
    QCOMPARE(outcome.result, notStored.isEmpty() ? WriteOutcome::Result::Stored : WriteOutcome::Result::NotStored);
    QVERIFY(!outcome.portClosed);
    QCOMPARE(outcome.rate, 0);   // the port stayed where it was
}

// After "ST D 4" the PC port follows the module, wherever the module went: it goes to the
// new rate unless the module refused, and back to the old one when nothing answers there.
void tst_Session::writeFollowsTheModule_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("rate");              // the PC port's afterwards
    QTest::addColumn<QStringList>("problems");

    QTest::newRow("taken") << QStringList() << 115200 << QStringList();
    // The module moves once its answer has gone out, 1.3 s after the command: later than
    // the wait for it, but the port follows all the same.
    QTest::newRow("answered late") << QStringList{"--delay", "ST D 4=1300"} << 115200 << QStringList();
    QTest::newRow("refused") << QStringList{"--reply", "ST D 4=E05>"} << 9600
                             << QStringList{"Not stored: Bit Rate - 'D' (reply 'E05')", "PC COM bit rate left at 9600 bps"};
    // A prompt, but the module stays where it was: found there again.
    QTest::newRow("taken, but not moved") << QStringList{"--reply", "ST D 4=>"} << 9600
                                          << QStringList{"the Kavo answers at 9600 bps, not at 115200 bps: PC COM bit "
                                                         "rate left at 9600 bps"};
}

void tst_Session::writeFollowsTheModule()
{
    QFETCH(QStringList, options);
    QFETCH(int, rate);
    QFETCH(QStringList, problems);

    QVERIFY(connected(options));
    QSignalSpy selected(m_session.get(), &KavoSession::bitRateChanged);
    SettingsFile::Strings strings = defaults();
    strings['D'] = "ST D 4";
    const WriteOutcome outcome = m_session->writeSettings([&](char letter) { return strings.value(letter); });
    QCOMPARE(outcome.problems, problems);
    QCOMPARE(outcome.result, problems.isEmpty() ? WriteOutcome::Result::Stored : WriteOutcome::Result::NotStored);
    QVERIFY(!outcome.portClosed);
    QCOMPARE(m_session->bitRate(), rate);
    // The rate list follows whenever the port moved (and came back).
    QCOMPARE(selected.size(), outcome.rate != 0 ? 1 : 0);
    if (outcome.rate != 0) {
        QCOMPARE(outcome.rate, rate);
        QCOMPARE(selected.first().value(0).toInt(), rate);
    }
    // The module answers where the port stayed.
    const ReadOutcome back = m_session->readSettings();
    QVERIFY2(back.complete(), qPrintable(back.failure));
    QCOMPARE(back.readings.value('D').value, SettingTable::bitRateIndex(rate));
}

// A missing setting string sends nothing at all.
void tst_Session::writeNeedsEveryString()
{
    QVERIFY(connected({}));
    const qsizetype before = m_sim->commands().size();
    SettingsFile::Strings strings = defaults();
    strings.remove('B');
    const WriteOutcome outcome = m_session->writeSettings([&](char letter) { return strings.value(letter); });
    QCOMPARE(outcome.result, WriteOutcome::Result::NotRead);
    QCOMPARE(outcome.problems,
             QStringList{"Nothing written: no value for Bass Boost (press Read, set them, or open a settings file)"});
    QCOMPARE(m_sim->commands().size(), before);
}

void tst_Session::upload_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<QStringList>("writes");

    QTest::newRow("1 byte") << 1 << QStringList{"FC W 1 1"};
    QTest::newRow("512") << 512 << QStringList{"FC W 1 512"};
    QTest::newRow("513") << 513 << QStringList{"FC W 1 512", "FC W 1 1"};
    QTest::newRow("1300") << 1300 << QStringList{"FC W 1 512", "FC W 1 512", "FC W 1 276"};
}

void tst_Session::upload()
{
    QFETCH(int, length);
    QFETCH(QStringList, writes);

    QVERIFY(connected({}));
    QTemporaryDir dir;
    const QString local = dir.filePath("tone.mp3");
    const QByteArray content = pattern(length);
    {
        QFile f(local);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    QSignalSpy started(m_session.get(), &KavoSession::uploadStarted);
    QSignalSpy steps(m_session.get(), &KavoSession::uploadProgress);
    QSignalSpy ended(m_session.get(), &KavoSession::uploadEnded);
    const qsizetype before = m_sim->commands().size();

    const UploadOutcome outcome = m_session->upload(local, "/TONE.MP3");
    QVERIFY2(outcome.done(), qPrintable(outcome.messages.join("; ")));
    QCOMPARE(outcome.sent, qint64(length));
    // The close is awaited, then the free space read again.
    const QStringList expected = QStringList{"FC O 1 W /TONE.MP3"} + writes + QStringList{"FC C 1", "FC Q"};
    QCOMPARE(commandsAfter(*m_sim, before), expected);
    // Progress counts whole pieces the module took, rising, the first piece told at once
    // and the whole length at the end (pieces between may be left out).
    QList<qint64> values;
    for (const QList<QVariant> &s : steps)
        values << s.value(0).toLongLong();
    QVERIFY(!values.isEmpty());
    QCOMPARE(values.last(), qint64(length));
    if (length > 512)
        QCOMPARE(values.first(), qint64(512));
    for (qsizetype i = 1; i < values.size(); ++i)
        QVERIFY(values[i] > values[i - 1]);
    for (qsizetype i = 0; i + 1 < values.size(); ++i)
        QCOMPARE(values[i] % 512, 0);
    QCOMPARE(started.size(), 1);
    QCOMPARE(started.first().value(0).toLongLong(), qint64(length));
    QCOMPARE(ended.size(), 1);
    QFile card(m_sim->cardDir() + "/TONE.MP3");
    QTRY_VERIFY_WITH_TIMEOUT(card.size() == length, 10000);
    QVERIFY(card.open(QIODevice::ReadOnly));
    QCOMPARE(card.readAll(), content);
}

void tst_Session::uploadFails_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("local");   // "file", "none" or "folder"
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QString>("message");

    using R = UploadOutcome::Result;
    const QString open = "FC O 1 W /TONE.MP3";
    QTest::newRow("no local file") << QStringList() << "none" << int(R::LocalFileProblem) << QStringList()
                                   << "Could not find '%1'";
    QTest::newRow("local folder") << QStringList() << "folder" << int(R::LocalFileProblem) << QStringList()
                                  << "Could not find '%1'\r\nIt is a folder, not a file that can be sent.";
    QTest::newRow("card refuses") << QStringList{"--reply", open + "=E05>"} << "file" << int(R::CardRefused)
                                  << QStringList{open} << "Could not open file on Kavo";
    QTest::newRow("second piece refused")
        << QStringList{"--write-error", "2"} << "file" << int(R::WriteFailed)
        << QStringList{open, "FC W 1 512", "FC W 1 512", "FC C 1"}
        << "Error during write.\r\nThe Kavo answered: EF9\r\nThe file /TONE.MP3 on the card is incomplete.";
    QTest::newRow("last piece unanswered")
        << QStringList{"--write-silent", "3"} << "file" << int(R::WriteFailed)
        << QStringList{open, "FC W 1 512", "FC W 1 512", "FC W 1 276", "FC C 1"}
        << "Error during write (2)\r\nThe Kavo did not answer.\r\nThe file /TONE.MP3 on the card is incomplete.";
    // Only an error reply refuses the close (an answer of another kind is not one).
    QTest::newRow("close refused")
        << QStringList{"--reply", "FC C 1=E05>"} << "file" << int(R::WriteFailed)
        << QStringList{open, "FC W 1 512", "FC W 1 512", "FC W 1 276", "FC C 1"}
        << "The file /TONE.MP3 on the card could not be closed: the Kavo answered 'E05'.\r\n"
           "The file /TONE.MP3 on the card is incomplete.";
}

void tst_Session::uploadFails()
{
    QFETCH(QStringList, options);
    QFETCH(QString, local);
    QFETCH(int, result);
    QFETCH(QStringList, sent);
    QFETCH(QString, message);

    QVERIFY(connected(options));
    QTemporaryDir dir;
    const QString path = dir.filePath("tone.mp3");
    if (local == "file") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(pattern(1300));
    } else if (local == "folder") {
        QVERIFY(QDir().mkdir(path));
    }
    QSignalSpy statuses(m_session.get(), &KavoSession::status);
    const qsizetype before = m_sim->commands().size();
    const UploadOutcome outcome = m_session->upload(path, "/TONE.MP3");
    QCOMPARE(int(outcome.result), result);
    QCOMPARE(outcome.messages, QStringList{message.contains("%1") ? message.arg(path) : message});
    QCOMPARE(commandsAfter(*m_sim, before), sent);
    // The status line ends with what became of the upload, not with "Uploading ...".
    QVERIFY(!statuses.isEmpty());
    const QString last = statuses.last().value(0).toString();
    QVERIFY2(!last.startsWith("Uploading"), qPrintable(last));
}

// Ctrl+C in kavoctl, from another thread: the upload ends at once, and the card file is
// still closed.
void tst_Session::interruptedUpload()
{
    QVERIFY(connected({"--pace"}));
    QTemporaryDir dir;
    const QString local = dir.filePath("long.mp3");
    {
        QFile f(local);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(pattern(64 * 1024));   // some 70 s at 9600 bps
    }
    // Once the first piece has been taken, another thread interrupts.
    QSemaphore firstPiece;
    connect(m_session.get(), &KavoSession::uploadProgress, m_session.get(), [&] { firstPiece.release(); },
            Qt::DirectConnection);
    QElapsedTimer clock;
    std::unique_ptr<QThread> user(QThread::create([&] {
        firstPiece.acquire();
        clock.start();
        m_session->interrupt();
    }));
    user->start();
    const UploadOutcome outcome = m_session->upload(local, "/LONG.MP3");
    const qint64 took = clock.elapsed();
    user->wait();
    QCOMPARE(outcome.result, UploadOutcome::Result::Aborted);
    // The piece on its way is answered within 1 s at 9600 bps, then the card file closed.
    QVERIFY2(took < 3000, qPrintable(QString::number(took)));
    QVERIFY(m_session->interrupted());
    QVERIFY(m_session->portOpen());
    QCOMPARE(m_sim->commands().last(), QString("FC C 1"));
    // The session takes the next operation.
    m_session->endOperation();
    QVERIFY(m_session->beginOperation());
    QVERIFY(!m_session->aborted());
}

// The play test: a card file of another size than the local one is offered for upload (an
// upload that stopped leaves a shorter one); declined, the card's copy is played. A play
// command the module does not answer is not reported as playing.
void tst_Session::playTest_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("cardSize");   // -1: no test file on the card
    QTest::addColumn<int>("answer");     // OfferAnswer
    QTest::addColumn<int>("offer");      // -1: no offer, else UploadOffer::Reason
    QTest::addColumn<int>("result");     // PlayOutcome::Result
    QTest::addColumn<QString>("status");

    using R = PlayOutcome::Result;
    using O = UploadOffer::Reason;
    const QString playing = "Playing /KAVOTEST.MP3";
    const int upload = int(OfferAnswer::Upload), asIs = int(OfferAnswer::PlayCardCopy), stop = int(OfferAnswer::Stop);
    QTest::newRow("same size") << QStringList() << 1300 << stop << -1 << int(R::Played) << playing;
    QTest::newRow("shorter, played as it is") << QStringList() << 512 << asIs << int(O::SizeDiffers) << int(R::Played)
                                              << playing;
    QTest::newRow("shorter, sent again") << QStringList() << 512 << upload << int(O::SizeDiffers) << int(R::Played)
                                         << playing;
    QTest::newRow("shorter, stopped") << QStringList() << 512 << stop << int(O::SizeDiffers) << int(R::Declined) << "";
    QTest::newRow("missing, declined") << QStringList() << -1 << stop << int(O::Missing) << int(R::Declined) << "";
    QTest::newRow("silent play") << QStringList{"--reply", "PC F /KAVOTEST.MP3="} << 1300 << stop << -1
                                 << int(R::Unanswered) << "Asked the Kavo to play /KAVOTEST.MP3, but it did not answer";
}

void tst_Session::playTest()
{
    QFETCH(QStringList, options);
    QFETCH(int, cardSize);
    QFETCH(int, answer);
    QFETCH(int, offer);
    QFETCH(int, result);
    QFETCH(QString, status);

    QVERIFY(connected(options));
    QTemporaryDir dir;
    const QString local = dir.filePath("KAVOTEST.MP3");
    {
        QFile f(local);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(pattern(1300));
    }
    if (cardSize >= 0) {
        QFile card(m_sim->cardDir() + "/KAVOTEST.MP3");
        QVERIFY(card.open(QIODevice::WriteOnly));
        card.write(pattern(cardSize));
    }
    QList<UploadOffer> offers;
    QSignalSpy statuses(m_session.get(), &KavoSession::status);
    const PlayOutcome outcome = m_session->playTest(local, [&](const UploadOffer &o) {
        offers << o;
        return OfferAnswer(answer);
    });
    const bool accept = answer == int(OfferAnswer::Upload);
    QCOMPARE(int(outcome.result), result);
    QCOMPARE(offers.size(), offer < 0 ? 0 : 1);
    if (offer == int(UploadOffer::Reason::SizeDiffers)) {
        QCOMPARE(offers.first().cardSize, qint64(cardSize));
        QCOMPARE(offers.first().localSize, qint64(1300));
    }
    QCOMPARE(outcome.uploaded, accept);
    if (!status.isEmpty())
        QCOMPARE(statuses.last().value(0).toString(), status);
    QFile card(m_sim->cardDir() + "/KAVOTEST.MP3");
    if (accept)
        QTRY_COMPARE_WITH_TIMEOUT(card.size(), qint64(1300), 10000);
}

// Whatever operation meets a device that sends without end and never a prompt ends, with
// a message that says so, instead of waiting for ever or piling up its bytes.
void tst_Session::endlessDevice_data()
{
    QTest::addColumn<QString>("operation");
    for (const char *op : {"card", "read", "write", "play", "upload"})
        QTest::newRow(op) << QString(op);
}

void tst_Session::endlessDevice()
{
    QFETCH(QString, operation);
    m_sim = std::make_unique<KavoSim>();
    QVERIFY(m_sim->start({"--babble"}));
    KavoSession session;
    SessionOperation running(session);
    QVERIFY(session.openPort(ComPorts::port(m_sim->com()), 9600).open);
    const QString said = QStringLiteral("The device on %1 keeps sending without a prompt; it may not be a Kavo.")
                             .arg(m_sim->comName());
    QTemporaryDir dir;
    const QString local = dir.filePath("tone.mp3");
    {
        QFile f(local);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(pattern(1300));
    }
    QStringList messages;
    if (operation == "card") {
        messages = session.readCardInfo().messages;
    } else if (operation == "read") {
        const ReadOutcome read = session.readSettings();
        QVERIFY(!read.complete());
        messages = read.messages;
    } else if (operation == "write") {
        const WriteOutcome write = session.writeSettings([](char letter) { return defaults().value(letter); });
        QCOMPARE(write.result, WriteOutcome::Result::Endless);
        messages = write.messages;
    } else if (operation == "play") {
        const PlayOutcome play = session.playTest(local, [](const UploadOffer &) { return OfferAnswer::Upload; });
        QCOMPARE(play.result, PlayOutcome::Result::Endless);
        messages = play.messages;
    } else {
        const UploadOutcome upload = session.upload(local, "/TONE.MP3");
        QCOMPARE(upload.result, UploadOutcome::Result::Endless);
        messages = upload.messages;
    }
    QCOMPARE(messages, QStringList{said});
}

// Shut down from another thread while a wait runs: the wait ends at once.
void tst_Session::shutdownEndsTheWait()
{
    m_sim = std::make_unique<KavoSim>();
    QVERIFY(m_sim->start({"--silent"}));
    KavoSession session;
    QVERIFY(session.beginOperation());
    QVERIFY(session.openPort(ComPorts::port(m_sim->com()), 9600).open);
    QElapsedTimer clock;
    std::unique_ptr<QThread> window(QThread::create([&] {
        // Once the probe is on the line, the wait for its answer runs.
        QVERIFY(QTest::qWaitFor([&] { return m_sim->commands().contains("\\e"); }, 10000));
        clock.start();
        session.shutdown();
    }));
    window->start();
    QVERIFY(session.readVersion().aborted());
    const qint64 took = clock.elapsed();
    window->wait();
    QVERIFY2(took < 300, qPrintable(QString::number(took)));
    // The port closes as the operation ends, and no other one begins.
    session.endOperation();
    QVERIFY(!session.portOpen());
    QVERIFY(!session.beginOperation());
}

// Interrupted from another thread while it searches a silent port, detection ends at once.
void tst_Session::interruptEndsADetection()
{
    m_sim = std::make_unique<KavoSim>();
    QVERIFY(m_sim->start({"--silent"}));
    KavoSession session;
    SessionOperation operation(session);
    QElapsedTimer clock;
    std::unique_ptr<QThread> user(QThread::create([&] {
        QVERIFY(QTest::qWaitFor([&] { return m_sim->log().size() >= 2; }, 10000));   // the first probe
        clock.start();
        session.interrupt();
    }));
    user->start();
    const ConnectOutcome outcome = session.connectModule(request(m_sim->comName()));
    const qint64 took = clock.elapsed();
    user->wait();
    QVERIFY(outcome.aborted());
    QVERIFY2(took < 300, qPrintable(QString::number(took)));
    QVERIFY(session.interrupted());
    // No further rate was tried.
    QVERIFY(m_sim->log().size() <= 2);
}

// Two sessions on two threads, each with a module of its own, at the same time: each
// module hears only its own session, and both end with what was written to them.
void tst_Session::twoSessionsAtOnce()
{
    KavoSim a, b;
    QVERIFY(a.start({"--rate", "9600", "--pace"}));
    QVERIFY(b.start({"--rate", "38400", "--pace"}));
    struct Run {
        QString port;
        SettingsFile::Strings written;
        QString failure;
    };
    Run runs[2] = {{a.comName(), defaults(), {}}, {b.comName(), defaults(), {}}};
    runs[0].written['N'] = "ST N 1111";
    runs[1].written['N'] = "ST N 2222";
    runs[1].written['D'] = "ST D 1";   // and moves to 19200
    QTemporaryDir dir;
    const QString local = dir.filePath("tone.mp3");
    {
        QFile f(local);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(pattern(3000));
    }
    std::unique_ptr<QThread> threads[2];
    for (int i = 0; i < 2; ++i) {
        Run &run = runs[i];
        threads[i].reset(QThread::create([&run, local] {
            KavoSession session;
            SessionOperation operation(session);
            if (!session.connectModule(request(run.port)).connected()) {
                run.failure = "not connected";
                return;
            }
            if (session.writeSettings([&](char letter) { return run.written.value(letter); }).result
                != WriteOutcome::Result::Stored)
                run.failure = "not stored";
            else if (!session.upload(local, "/TONE.MP3").done())
                run.failure = "not uploaded";
            else if (!session.readSettings().complete())
                run.failure = "not read back";
        }));
        threads[i]->start();
    }
    for (auto &thread : threads)
        QVERIFY(thread->wait(60000));
    for (const Run &run : runs)
        QVERIFY2(run.failure.isEmpty(), qPrintable(run.port + ": " + run.failure));
    QVERIFY(a.commands().contains("ST N 1111") && !a.commands().contains("ST N 2222"));
    QVERIFY(b.commands().contains("ST N 2222") && !b.commands().contains("ST N 1111"));
    QCOMPARE(b.log().last().rate, 19200);
    for (const KavoSim *sim : {&a, &b}) {
        QFile card(sim->cardDir() + "/TONE.MP3");
        QVERIFY(card.open(QIODevice::ReadOnly));
        QCOMPARE(card.readAll(), pattern(3000));
    }
}

void tst_Session::oneOperationAtATime()
{
    KavoSession session;
    QSignalSpy busy(&session, &KavoSession::busyChanged);
    QVERIFY(session.beginOperation());
    QVERIFY(!session.beginOperation());
    session.endOperation();
    QVERIFY(session.beginOperation());
    session.endOperation();
    QCOMPARE(busy.size(), 4);
}

QTEST_GUILESS_MAIN(tst_Session)
#include "tst_session.moc"
