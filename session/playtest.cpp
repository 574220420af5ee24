// The play test: the test file looked up on the card, uploaded when it is missing (or known
// to be incomplete) and the user wants it, then played.
#include "playtest/cardfile.h"
#include "playtest/testfile.h"
#include "playtest/uploadmarks.h"
#include "session/kavosession.h"

PlayOutcome KavoSession::playTest(const QString &localPath, const std::function<bool(UploadOffer)> &offerUpload)
{
    using Result = PlayOutcome::Result;
    PlayOutcome out;
    const QString cardPath = TestFile::cardPath();
    const auto aborted = [&] {
        out.result = Result::Aborted;
        out.messages.clear();
        return out;
    };
    const auto endless = [&] {
        out.result = Result::Endless;
        out.messages << endlessText();
        return out;
    };

    if (!m_link->quietLine())
        return m_link->operationAborted() ? aborted() : endless();
    m_link->ProbeDevice();
    const Reply reply = m_link->SendAndWait(CardFile::lookUpCommand(cardPath));
    if (reply.aborted())
        return aborted();
    if (reply.endless())
        return endless();
    out.lookUpReply = reply.text;
    const QString replyText = quoted(reply.text);

    CardFile::LookUp found = CardFile::lookUp(reply.text);
    // A file an upload left incomplete is there, but is no test of anything.
    if (found == CardFile::LookUp::Found && UploadMarks::isMarked(m_version, cardPath))
        out.incomplete = true;

    switch (found) {
    case CardFile::LookUp::NoCard:
        out.result = Result::NoCard;
        out.messages << QStringLiteral("No card inserted in the Kavo.");
        emit cardStatus(replyText);
        return out;
    case CardFile::LookUp::Error:
        out.result = Result::LookUpError;
        out.messages << QStringLiteral("An error occurred searching for ") + cardPath
                            + QStringLiteral("\r\nError code: ") + replyText;
        emit cardStatus(replyText);
        return out;
    case CardFile::LookUp::Missing:
    case CardFile::LookUp::Found:
        emit cardStatus(QString());
        if (found == CardFile::LookUp::Found && !out.incomplete)
            break;   // found, or no answer at all: try to play it either way
        if (!offerUpload(out.incomplete ? UploadOffer::Incomplete : UploadOffer::Missing)) {
            if (m_link->operationAborted())
                return aborted();
            out.result = Result::Declined;
            return out;
        }
        if (m_link->operationAborted())
            return aborted();
        {
            const UploadOutcome upload = this->upload(localPath, cardPath, true);
            out.messages << upload.messages;
            if (upload.result == UploadOutcome::Result::Aborted)
                return aborted();
            if (!upload.done()) {
                out.result = upload.result == UploadOutcome::Result::Endless ? Result::Endless : Result::UploadFailed;
                return out;
            }
        }
        out.uploaded = true;
        break;
    }

    m_link->ProbeDevice();
    const Reply played = m_link->SendAndWait(CardFile::playCommand(cardPath));
    if (played.aborted())
        return aborted();
    if (played.endless())
        return endless();
    // An error reply is told; silence is not an error: the module may be busy playing.
    if (played.prompted() && played.text.startsWith('E')) {
        out.result = Result::PlayRefused;
        out.playReply = played.text;
        say(QStringLiteral("Could not play %1: the Kavo answered '%2'").arg(cardPath, quoted(played.text)));
    } else {
        out.result = Result::Played;
        say(QStringLiteral("Playing %1").arg(cardPath));
    }
    if (m_link->operationAborted())
        return aborted();
    return out;
}
