// The Play button: the session looks the test file up on its thread, asks through the window
// whether to upload it when it is missing (waiting there, not here, for the answer), and
// plays it; the window shows what came of it.
#include <QMutex>
#include <QPushButton>
#include <QWaitCondition>
#include <optional>

#include "app/onsession.h"
#include "playtest/testfile.h"

QString frmSerialData::ProgramFolder()
{
    return TestFile::programFolder();
}

namespace {

// An answer the window gives on its thread and the session waits for on its own.
struct PendingAnswer {
    QMutex lock;
    QWaitCondition given;
    std::optional<OfferAnswer> answer;

    void give(OfferAnswer a)
    {
        const QMutexLocker locked(&lock);
        answer = a;
        given.wakeAll();
    }
    // The answer; Stop when the operation is ended before it comes (the window closing).
    OfferAnswer wait(const KavoSession &session)
    {
        QMutexLocker locked(&lock);
        while (!answer) {
            if (session.aborted())
                return OfferAnswer::Stop;
            given.wait(&lock, QDeadlineTimer(50));
        }
        return *answer;
    }
};

QString offerText(const UploadOffer &offer)
{
    if (offer.reason == UploadOffer::Reason::SizeDiffers)
        return QStringLiteral("The test file on the card has %1 bytes, the one beside the program %2: the card's copy "
                              "may be incomplete.\r\n"
                              "Would you like to send the test file to\r\n"
                              "the Kavo again and play it?")
            .arg(offer.cardSize)
            .arg(offer.localSize);
    return QStringLiteral("The test file does not exist on the card.\r\n"
                          "Would you like to send the test file to\r\n"
                          "the Kavo and play it?");
}

} // namespace

void frmSerialData::cmdPlayTest_Click()
{
    // Play (and Open/Close, Read, Write) stays disabled for the whole click.
    if (!beginOperation(cmdPlayTest))
        return;
    SessionThread *worker = m_worker.get();
    const QString localPath = TestFile::localPath();
    onSession<PlayOutcome>(
        [this, worker, localPath](KavoSession &session) {
            return session.playTest(localPath, [&](const UploadOffer &offer) {
                auto pending = std::make_shared<PendingAnswer>();
                worker->deliver([this, pending, offer] {
                    AskYesNo(offerText(offer), [pending, offer](bool yes) {
                        // No to a copy of another size plays the card's copy, as for a found file.
                        pending->give(yes ? OfferAnswer::Upload
                                          : offer.reason == UploadOffer::Reason::SizeDiffers ? OfferAnswer::PlayCardCopy
                                                                                              : OfferAnswer::Stop);
                    });
                });
                return pending->wait(session);
            });
        },
        [this](const PlayOutcome &outcome) {
            if (outcome.aborted() || m_closing) {
                endOperation();
                return;
            }
            showMessages(outcome.messages, [this] { endOperation(); });
        });
}
