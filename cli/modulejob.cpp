#include "cli/modulejob.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QMutexLocker>

#include "cli/output.h"
#include "device/replies.h"
#include "playtest/cardfile.h"
#include "playtest/testfile.h"
#include "session/kavosession.h"
#include "settings/modulesettings.h"

ModuleJob::ModuleJob(const Kavoctl::Invocation &invocation, PortResources resources, Output &output, Tracer *tracer)
    : m_in(invocation)
    , m_resources(std::move(resources))
    , m_output(output)
    , m_tracer(tracer)
{
    m_report.port = m_resources.port.name();
}

ModuleJob::~ModuleJob() = default;

void ModuleJob::interrupt()
{
    const QMutexLocker locked(&m_lock);
    m_interrupted = true;
    if (m_session)
        m_session->interrupt();
}

void ModuleJob::run()
{
    // The session belongs to this thread: its port is opened, waited on and closed here.
    KavoSession session;
    session.setTracer(m_tracer);
    const QString port = m_report.port;
    QObject::connect(&session, &KavoSession::portLost, [this](const QString &why) { m_lost = why; });
    if (m_in.verbose)
        QObject::connect(&session, &KavoSession::status, [this, port](const QString &text) { m_output.status(port, text); });
    {
        const QMutexLocker locked(&m_lock);
        if (m_interrupted) {
            m_report.status = PortReport::Status::NotReached;
            m_report.failure = m_report.statusWord();
            return;
        }
        m_session = &session;
    }
    {
        SessionOperation operation(session);
        if (operation.acquired() && connectModule()) {
            if (m_in.command == QLatin1String("info"))
                info();
            else if (m_in.command == QLatin1String("read"))
                read();
            else if (m_in.command == QLatin1String("write"))
                write();
            else if (m_in.command == QLatin1String("play"))
                play();
            else if (m_in.command == QLatin1String("upload"))
                upload();
        }
    }
    // Closed here, while the trace is still followed, rather than as the session goes.
    session.closePort();
    const QMutexLocker locked(&m_lock);
    m_session = nullptr;
}

// The operation was ended early: by the user, or because the port went away.
void ModuleJob::ended()
{
    if (m_session->interrupted())
        m_report.interrupted();
    else
        m_report.fail(QStringLiteral("the port was lost"), {QStringLiteral("%1 was lost (%2)").arg(m_report.port, m_lost)});
}

bool ModuleJob::connectModule()
{
    ConnectRequest request;
    request.port = std::make_shared<PortChoice>(m_resources.port);
    request.rates = SettingTable::bitRates();
    request.automatic = m_in.rate == 0;
    request.chosen = SettingTable::bitRateIndex(m_in.rate);
    const ConnectOutcome outcome = m_session->connectModule(request);
    using Result = ConnectOutcome::Result;
    switch (outcome.result) {
    case Result::Connected:
        break;
    case Result::Aborted:
        ended();
        return false;
    case Result::PortUnavailable:
        m_report.fail(QStringLiteral("the port could not be opened"), outcome.messages);
        return false;
    case Result::WrongIdentity:
        m_report.fail(QStringLiteral("not a Kavo (identity '%1')").arg(KavoSession::quoted(outcome.identity.toLatin1())),
                      outcome.messages);
        return false;
    case Result::NotFound: {
        QStringList messages = outcome.messages;
        if (outcome.otherRateAnswers && !messages.isEmpty())
            messages.last() += QStringLiteral("\r\nSomething answers on %1, but not at %2 bps: try --rate auto.")
                                   .arg(m_report.port)
                                   .arg(m_in.rate);
        m_report.fail(QStringLiteral("no Kavo answered"), messages);
        return false;
    }
    }
    m_report.json.insert(QStringLiteral("version"), outcome.version);
    m_report.json.insert(QStringLiteral("rate"), m_session->bitRate());
    m_report.detail(QStringLiteral("version %1").arg(outcome.version));
    m_report.detail(QStringLiteral("bit rate %1 bps").arg(m_session->bitRate()));
    return true;
}

void ModuleJob::info()
{
    const CardOutcome card = m_session->readCardInfo();
    if (card.aborted()) {
        ended();
        return;
    }
    if (!card.messages.isEmpty()) {
        m_report.fail(QStringLiteral("the device keeps sending"), card.messages);
        return;
    }
    QJsonObject object;
    if (!card.info.status.isEmpty() || card.info.capacity.isEmpty()) {
        const QString status = card.info.status.isEmpty() ? QStringLiteral("no answer")
                                                          : CardFile::describe(card.info.status.toLatin1());
        object.insert(QStringLiteral("status"), status);
        m_report.json.insert(QStringLiteral("card"), object);
        m_report.fail(QStringLiteral("card: %1").arg(status), {QStringLiteral("The card reports %1").arg(status)});
        return;
    }
    // The numbers as the module sent them, only when they are numbers.
    const std::optional<qint64> capacity = Replies::kibibytes(card.info.capacity);
    const std::optional<qint64> freeSpace = Replies::kibibytes(card.info.freeSpace);
    if (!capacity || !freeSpace) {
        m_report.fail(QStringLiteral("the card information is no pair of numbers"),
                      {QStringLiteral("The Kavo answered 'FC Q' with '%1 %2', not capacity and free space in KiB")
                           .arg(KavoSession::quoted(card.info.capacity.toLatin1()),
                                KavoSession::quoted(card.info.freeSpace.toLatin1()))});
        return;
    }
    object.insert(QStringLiteral("capacity"), double(*capacity));
    object.insert(QStringLiteral("freeSpace"), double(*freeSpace));
    m_report.json.insert(QStringLiteral("card"), object);
    m_report.detail(QStringLiteral("card capacity %1 KiB, free space %2 KiB").arg(*capacity).arg(*freeSpace));
}

namespace {

QJsonArray jsonOf(const ModuleSettings &settings)
{
    QJsonArray list;
    for (const SettingTable::Setting &s : SettingTable::all())
        if (settings.has(s.letter))
            list.append(settings.json(s.letter));
    return list;
}

} // namespace

void ModuleJob::read()
{
    const ReadOutcome outcome = m_session->readSettings();
    if (outcome.aborted()) {
        ended();
        return;
    }
    if (!outcome.complete()) {
        m_report.fail(QStringLiteral("a setting could not be read"),
                      outcome.messages.isEmpty() ? QStringList{outcome.failure} : outcome.messages);
        return;
    }
    ModuleSettings settings;
    for (auto it = outcome.readings.cbegin(); it != outcome.readings.cend(); ++it)
        settings.take(it.key(), it.value());
    m_report.json.insert(QStringLiteral("settings"), jsonOf(settings));
    const QByteArray file = SettingsFile::format(settings.strings());
    if (!m_resources.output) {
        if (!m_in.json)
            m_report.settingsFile = (m_in.ports.size() > 1 ? QStringLiteral("# %1\n").arg(m_report.port).toLatin1() : QByteArray())
                                    + file;
        return;
    }
    QString error;
    if (!m_resources.output->write(file, &error)) {
        m_report.fail(QStringLiteral("the settings file could not be written"), {error});
        return;
    }
    if (!m_resources.output->isStandardOutput()) {
        m_report.json.insert(QStringLiteral("file"), m_resources.output->path());
        m_report.detail(QStringLiteral("settings written to %1").arg(m_resources.output->path()));
    }
}

void ModuleJob::write()
{
    const SettingsFile::Strings &strings = m_resources.settings;
    const WriteOutcome written = m_session->writeSettings([&](char letter) { return strings.value(letter); });
    QJsonArray stored;
    for (const char letter : written.stored)
        stored.append(SettingTable::nameOf(letter));
    m_report.json.insert(QStringLiteral("stored"), stored);
    m_report.json.insert(QStringLiteral("notStored"), QJsonArray::fromStringList(written.notStored));
    if (written.result == WriteOutcome::Result::Aborted) {
        // Say what the module holds now: the settings it took before the end.
        QStringList taken, notTaken;
        for (const char letter : std::string_view(SettingTable::WriteOrder))
            (written.stored.contains(letter) ? taken : notTaken) << SettingTable::nameOf(letter);
        const QString what = taken.isEmpty() ? QStringLiteral("nothing was stored")
                                             : QStringLiteral("stored: %1; not stored: %2")
                                                   .arg(taken.join(QStringLiteral(", ")),
                                                        notTaken.isEmpty() ? QStringLiteral("none")
                                                                           : notTaken.join(QStringLiteral(", ")));
        if (m_session->interrupted()) {
            m_report.interrupted({QStringLiteral("interrupted while writing: %1").arg(what)});
        } else {
            ended();
            m_report.errors << QStringLiteral("ended while writing: %1").arg(what);
        }
        return;
    }
    if (!written.problems.isEmpty())
        m_report.fail(written.notStored.isEmpty() ? written.problems.constFirst()
                                                  : QStringLiteral("not stored: ") + written.notStored.join(QStringLiteral(", ")),
                      written.problems + written.messages);
    if (written.portClosed)
        return;

    // What the module holds now, at the rate it answers at now.
    const ReadOutcome readBack = m_session->readSettings();
    if (readBack.aborted()) {
        ended();
        return;
    }
    if (!readBack.complete()) {
        m_report.fail(QStringLiteral("the settings could not be read back"), {readBack.failure});
        return;
    }
    QStringList notSticking;
    for (const SettingTable::Setting &s : SettingTable::all()) {
        const auto wanted = SettingTable::parseSettingString(strings.value(s.letter), nullptr);
        const SettingTable::Reading reading = readBack.readings.value(s.letter);
        if (wanted && !wanted->matches(reading))
            notSticking << QStringLiteral("%1 - '%2' (wrote '%3', reads '%4')")
                               .arg(QString::fromLatin1(s.name), QString(QLatin1Char(s.letter)), wanted->settingString(),
                                    SettingTable::storedFrom(s.letter, reading).settingString());
    }
    m_report.json.insert(QStringLiteral("notSticking"), QJsonArray::fromStringList(notSticking));
    m_report.json.insert(QStringLiteral("rate"), m_session->bitRate());
    if (!notSticking.isEmpty()) {
        m_report.fail(QStringLiteral("did not stick: ") + notSticking.join(QStringLiteral(", ")),
                      {QStringLiteral("Read back differs: ") + notSticking.join(QStringLiteral(", "))});
        return;
    }
    if (m_report.ok())
        m_report.detail(QStringLiteral("all nine settings written and read back at %1 bps").arg(m_session->bitRate()));
}

void ModuleJob::play()
{
    showProgress(TestFile::cardPath());
    const PlayOutcome outcome = m_session->playTest(
        TestFile::localPath(),
        [this](const UploadOffer &) { return m_in.upload ? OfferAnswer::Upload : OfferAnswer::Stop; },
        m_resources.upload.get());
    m_report.json.insert(QStringLiteral("uploaded"), outcome.uploaded);
    m_report.json.insert(QStringLiteral("played"), outcome.result == PlayOutcome::Result::Played);
    using Result = PlayOutcome::Result;
    switch (outcome.result) {
    case Result::Played:
        m_report.detail(outcome.uploaded ? QStringLiteral("test file uploaded, playing %1").arg(TestFile::cardPath())
                                         : QStringLiteral("playing %1").arg(TestFile::cardPath()));
        break;
    case Result::Aborted:
        ended();
        break;
    case Result::NoCard:
        m_report.fail(CardFile::describe(outcome.lookUpReply),
                      {QStringLiteral("The card reports %1").arg(CardFile::describe(outcome.lookUpReply))});
        break;
    case Result::Declined:
        if (outcome.offer.reason == UploadOffer::Reason::SizeDiffers)
            m_report.fail(QStringLiteral("the test file on the card has another size"),
                          {QStringLiteral("The test file on the card has %1 bytes, the one beside the program %2: "
                                          "the card's copy may be incomplete; --upload sends it again.")
                               .arg(outcome.offer.cardSize)
                               .arg(outcome.offer.localSize)});
        else
            m_report.fail(QStringLiteral("the test file is not on the card"),
                          {QStringLiteral("The test file does not exist on the card; --upload sends it first.")});
        break;
    case Result::Unanswered:
        m_report.fail(QStringLiteral("the Kavo did not answer the play command"),
                      {QStringLiteral("Asked the Kavo to play %1, but it did not answer").arg(TestFile::cardPath())});
        break;
    case Result::PlayRefused:
        m_report.fail(QStringLiteral("the Kavo did not play it"),
                      {QStringLiteral("Could not play %1: %2").arg(TestFile::cardPath(), CardFile::describe(outcome.playReply))});
        break;
    case Result::Endless:
        m_report.fail(QStringLiteral("the device keeps sending"), outcome.messages);
        break;
    case Result::UploadFailed:
        m_report.fail(QStringLiteral("the upload failed"), outcome.messages);
        break;
    case Result::LookUpError:
        m_report.fail(CardFile::describe(outcome.lookUpReply), outcome.messages);
        break;
    }
}

void ModuleJob::upload()
{
    showProgress(m_in.cardPath);
    const UploadOutcome outcome = m_session->upload(*m_resources.upload, m_in.cardPath);
    m_report.json.insert(QStringLiteral("file"), m_in.cardPath);
    m_report.json.insert(QStringLiteral("bytes"), double(outcome.sent));
    using Result = UploadOutcome::Result;
    switch (outcome.result) {
    case Result::Done:
        m_report.detail(QStringLiteral("%1 bytes sent to %2").arg(outcome.sent).arg(m_in.cardPath));
        break;
    case Result::Aborted:
        ended();
        break;
    case Result::LocalFileProblem:
        m_report.fail(QStringLiteral("the local file cannot be sent"), outcome.messages);
        break;
    case Result::CardRefused:
        m_report.fail(CardFile::describe(outcome.cardReply), outcome.messages);
        break;
    case Result::WriteFailed:
        m_report.fail(QStringLiteral("the upload failed"), outcome.messages);
        break;
    case Result::Endless:
        m_report.fail(QStringLiteral("the device keeps sending"), outcome.messages);
        break;
    }
}

// An upload's progress: a line of its own for this port.
void ModuleJob::showProgress(const QString &cardPath)
{
    QObject::connect(m_session, &KavoSession::uploadStarted, [this, cardPath](qint64 length) {
        m_length = length;
        m_output.progress(m_report.port, cardPath, 0, m_length);
    });
    QObject::connect(m_session, &KavoSession::uploadProgress, [this, cardPath](qint64 sent) {
        m_output.progress(m_report.port, cardPath, sent, m_length);
    });
    QObject::connect(m_session, &KavoSession::uploadEnded, [this] { m_output.progressEnded(m_report.port); });
}
