#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "device/replies.h"
#include "session/portchoice.h"
#include "settings/settingtable.h"

// What the session's operations bring back, all of one shape: how the operation ended
// (`result`, whose last value is always Aborted), what the user is to be told (`messages`,
// in the order they arose) and what it found. Every operation may end early because the
// port was lost, the window is closing or the user interrupted it: then it is aborted, and
// whoever ended it has told the user already. An operation that meets a device that keeps
// sending without a prompt ends too, with a message that says so.
template <typename Result>
struct Outcome {
    Result result{};
    QStringList messages;

    bool aborted() const { return result == Result::Aborted; }
};

// An operation that finds nothing worth telling: it ran, or was ended early.
enum class PlainResult { Done, Aborted };
struct PlainOutcome : Outcome<PlainResult> {
    using Result = PlainResult;
};

// Opening the port.
struct PortOpening {
    bool open = false;
    QString message;   // "Com3 is not available." and why, when anything went wrong
};

struct ConnectRequest {
    // The port, asked for at every try and for every message: the user may choose another
    // one while the search runs, and the next rate tried is tried there. Any thread may
    // change the choice.
    std::shared_ptr<const PortChoice> port;
    // The bit rates to try, in order.
    QList<qint32> rates;
    // Try every rate in order; otherwise only `chosen` (an index into `rates`).
    bool automatic = true;
    int chosen = -1;
};

enum class ConnectResult { Connected, NotFound, WrongIdentity, PortUnavailable, Aborted };
struct ConnectOutcome : Outcome<ConnectResult> {
    using Result = ConnectResult;
    ConnectOutcome() { result = Result::NotFound; }
    qint32 rate = 0;        // the rate that answered
    QString version;        // the whole version reply
    QString identity;       // characters 11 to 14 of it
    // At the one rate chosen, the probe drew bytes but no prompt: something answers on the
    // port, only not at this rate (automatic detection would find it).
    bool otherRateAnswers = false;

    bool connected() const { return result == Result::Connected; }
};

enum class VersionResult { Read, Endless, Aborted };
struct VersionOutcome : Outcome<VersionResult> {
    using Result = VersionResult;
    QString version;
    QString identity;
};

enum class CardResult { Read, Endless, Aborted };
struct CardOutcome : Outcome<CardResult> {
    using Result = CardResult;
    Replies::CardInfo info;
};

enum class ReadResult { Complete, Stopped, Endless, Aborted };
struct ReadOutcome : Outcome<ReadResult> {
    using Result = ReadResult;
    QMap<char, SettingTable::Reading> readings;   // every setting read so far
    char failed = 0;                              // the setting the read stopped at
    QString failure;                              // "Could not read ...", as the status line shows it

    bool complete() const { return result == Result::Complete; }
};

enum class WriteResult {
    Stored,        // every setting taken
    NotStored,     // the module refused or did not answer some; see `problems`
    NotRead,       // some setting strings were empty: nothing was sent
    Endless,       // the device kept sending; the rest was not sent
    Aborted,
};
struct WriteOutcome : Outcome<WriteResult> {
    using Result = WriteResult;
    QByteArray stored;       // the letters the module took, in the order sent (also when ended early)
    QStringList notStored;   // "Volume - 'V' (reply 'E05')" ...
    QStringList problems;    // everything that went wrong, as the status line joins it
    bool portClosed = false; // the port could not be reopened at the new rate
    qint32 rate = 0;         // the PC port now runs at this rate, when it moved
};

enum class UploadResult { Done, LocalFileProblem, CardRefused, WriteFailed, Endless, Aborted };
struct UploadOutcome : Outcome<UploadResult> {
    using Result = UploadResult;
    qint64 length = 0;       // of the local file
    qint64 sent = 0;         // bytes the module took
    QByteArray cardReply;    // CardRefused: the module's error reply to the open command

    bool done() const { return result == Result::Done; }
};

// Why the play test offers to send the test file.
struct UploadOffer {
    enum class Reason {
        Missing,       // the card lacks it
        SizeDiffers,   // the card's copy has another size than the local file (an upload
                       // that stopped before its end leaves a shorter one)
    };
    Reason reason = Reason::Missing;
    qint64 cardSize = -1;    // SizeDiffers: the card's copy, in bytes
    qint64 localSize = -1;   // SizeDiffers: the local test file, in bytes
};

// What the user says to an upload offer.
enum class OfferAnswer {
    Upload,         // send the local test file, then play it
    PlayCardCopy,   // play the card's own copy as it is (offered for a copy of another size)
    Stop,           // neither: the play test ends here
};

enum class PlayResult {
    Played,
    Unanswered,   // the play command was sent, but the module did not answer it
    PlayRefused,
    NoCard,
    Declined,
    UploadFailed,
    LookUpError,
    Endless,
    Aborted,
};
struct PlayOutcome : Outcome<PlayResult> {
    using Result = PlayResult;
    bool uploaded = false;
    UploadOffer offer;           // Declined: what was offered
    QByteArray lookUpReply;
    QByteArray playReply;        // the module's error reply to the play command
};
