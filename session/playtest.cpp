// The play test: the test file looked up on the card, uploaded when it is missing (or the
// card's copy has another size than the local one) and the user wants it, then played.
#include <QFile>
#include <QFileInfo>

#include "playtest/cardfile.h"
#include "playtest/testfile.h"
#include "session/kavosession.h"

PlayOutcome KavoSession::playTest(const QString &localPath,
                                  const std::function<OfferAnswer(const UploadOffer &)> &offerUpload, QFile *local)
{
    using Result = PlayOutcome::Result;
    PlayOutcome out;
    const QString cardPath = TestFile::cardPath();
    const auto aborted = [&] {
        out.result = Result::Aborted;
        out.messages.clear();
        return out;
    };
    if (portGone())
        return aborted();
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

    const CardFile::LookUp found = CardFile::lookUp(reply.text);
    UploadOffer offer;
    if (found == CardFile::LookUp::Found) {
        // The look-up answers with the card file's size: a copy that an upload left
        // incomplete is shorter than the local file, and is no test of anything. An answer
        // that is no size (or no local file to compare with) counts as found, as ever.
        const std::optional<qint64> cardSize = CardFile::sizeOf(reply.text);
        const QFileInfo info(localPath);
        const qint64 localSize = local ? local->size() : info.isFile() ? info.size() : -1;
        if (cardSize && localSize >= 0 && localSize != *cardSize)
            offer = {UploadOffer::Reason::SizeDiffers, *cardSize, localSize};
    }
    const bool sizeDiffers = offer.reason == UploadOffer::Reason::SizeDiffers;

    switch (found) {
    case CardFile::LookUp::NoCard:
        out.result = Result::NoCard;
        out.messages << QStringLiteral("No card inserted in the Kavo.");
        emit cardStatusChanged(replyText);
        return out;
    case CardFile::LookUp::Error:
        out.result = Result::LookUpError;
        out.messages << QStringLiteral("An error occurred searching for ") + cardPath
                            + QStringLiteral("\r\nError code: ") + replyText;
        emit cardStatusChanged(replyText);
        return out;
    case CardFile::LookUp::Missing:
    case CardFile::LookUp::Found:
        emit cardStatusChanged(QString());
        if (found == CardFile::LookUp::Found && !sizeDiffers)
            break;   // found, or no answer at all: try to play it either way
        const OfferAnswer answer = offerUpload(offer);
        if (m_link->operationAborted())
            return aborted();
        // The card's own copy is played as it is, as a found file is.
        if (answer == OfferAnswer::PlayCardCopy && sizeDiffers)
            break;
        if (answer != OfferAnswer::Upload) {
            out.result = Result::Declined;
            out.offer = offer;
            return out;
        }
        {
            const UploadOutcome upload = local ? this->upload(*local, cardPath, true)
                                               : this->upload(localPath, cardPath, true);
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
    // An error reply is told; so is silence: the play was asked for, but nothing says it
    // began.
    if (played.prompted() && played.text.startsWith('E')) {
        out.result = Result::PlayRefused;
        out.playReply = played.text;
        say(QStringLiteral("Could not play %1: the Kavo answered '%2'").arg(cardPath, quoted(played.text)));
    } else if (played.timedOut()) {
        out.result = Result::Unanswered;
        say(QStringLiteral("Asked the Kavo to play %1, but it did not answer").arg(cardPath));
    } else {
        out.result = Result::Played;
        say(QStringLiteral("Playing %1").arg(cardPath));
    }
    if (m_link->operationAborted())
        return aborted();
    return out;
}
