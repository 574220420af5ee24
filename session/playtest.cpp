// The play test: the test file looked up on the card, uploaded when it is missing and the
// user wants it, then played.
#include "playtest/cardfile.h"
#include "playtest/testfile.h"
#include "session/kavosession.h"

PlayOutcome KavoSession::playTest(const QString &localPath, const std::function<bool()> &offerUpload)
{
    using Result = PlayOutcome::Result;
    PlayOutcome out;
    const QString cardPath = TestFile::cardPath();
    const auto aborted = [&] {
        out.result = Result::Aborted;
        out.messages.clear();
        return out;
    };

    m_link->ProbeDevice();
    const Reply reply = m_link->SendAndWait(CardFile::lookUpCommand(cardPath));
    if (reply.aborted())
        return aborted();
    out.lookUpReply = reply.text;
    const QString replyText = QString::fromLatin1(reply.text);

    switch (CardFile::lookUp(reply.text)) {
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
    case CardFile::LookUp::Missing: {
        emit cardStatus(QString());
        if (!offerUpload()) {
            if (m_link->operationAborted())
                return aborted();
            out.result = Result::Declined;
            return out;
        }
        if (m_link->operationAborted())
            return aborted();
        const UploadOutcome upload = this->upload(localPath, cardPath, true);
        out.messages << upload.messages;
        if (upload.result == UploadOutcome::Result::Aborted)
            return aborted();
        if (!upload.done()) {
            out.result = Result::UploadFailed;
            return out;
        }
        out.uploaded = true;
        break;
    }
    case CardFile::LookUp::Found:
        // Found, or no answer at all: try to play it either way.
        emit cardStatus(QString());
        break;
    }

    m_link->ProbeDevice();
    if (m_link->operationAborted())
        return aborted();
    // The play command's answer is not awaited; it stays in the buffer until the next
    // exchange empties it.
    m_link->SendText(CardFile::playCommand(cardPath) + '\r');
    out.result = Result::Played;
    return out;
}
