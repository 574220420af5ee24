// The Play button: the session looks the test file up, asks through the window whether to
// upload it when it is missing, and plays it; the window shows what came of it.
#include "app/frmserialdata.h"

#include <QProgressBar>
#include <QPushButton>

#include "playtest/testfile.h"

QString frmSerialData::ProgramFolder()
{
    return TestFile::programFolder();
}

void frmSerialData::cmdPlayTest_Click()
{
    // The guard keeps Play (and Open/Close, Read, Write) disabled for the whole click.
    OperationGuard operation(this, cmdPlayTest);
    if (!operation.acquired())
        return;

    const PlayOutcome outcome = session->playTest(TestFile::localPath(), [this](const UploadOffer &offer) {
        if (offer.reason == UploadOffer::Reason::SizeDiffers)
            return AskYesNo(QStringLiteral("The test file on the card has %1 bytes, the one beside the program %2: the "
                                           "card's copy may be incomplete.\r\n"
                                           "Would you like to send the test file to\r\n"
                                           "the Kavo again and play it?")
                                .arg(offer.cardSize)
                                .arg(offer.localSize))
                       ? OfferAnswer::Upload
                       : OfferAnswer::PlayCardCopy;
        return AskYesNo(QStringLiteral("The test file does not exist on the card.\r\n"
                                       "Would you like to send the test file to\r\n"
                                       "the Kavo and play it?"))
                   ? OfferAnswer::Upload
                   : OfferAnswer::Stop;
    });
    showMessages(outcome.messages);
}

bool frmSerialData::UploadTestFile()
{
    const UploadOutcome outcome = session->upload(TestFile::localPath(), TestFile::cardPath(), true);
    showMessages(outcome.messages);
    return outcome.done();
}

void frmSerialData::showUploadProgress(qint64 value)
{
    constexpr qint64 BarPeriodMs = 40;
    const bool atEnd = value >= pbUploadFile->maximum();
    if (!atEnd && m_barMoved.isValid() && m_barMoved.elapsed() < BarPeriodMs && pbUploadFile->value() > 0)
        return;
    m_barMoved.start();
    pbUploadFile->setValue(int(value));
}
