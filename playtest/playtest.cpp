// The Play button: looks for the test file on the card, offers to upload it when it is
// missing, and tells the Kavo to play it.
#include "app/frmserialdata.h"

#include <QCoreApplication>
#include <QLabel>

#include "playtest/testfile.h"

QString frmSerialData::ProgramFolder()
{
    return QCoreApplication::applicationDirPath();
}

void frmSerialData::cmdPlayTest_Click()
{
    // The guard keeps Play (and Open/Close, Read, Write) disabled for the whole click.
    OperationGuard operation(this);
    if (!operation.acquired())
        return;

    bool playWanted = false;
    link->ProbeDevice();
    if (link->operationAborted())
        return;

    link->BufferIn.clear();
    link->SendText(QByteArrayLiteral("FC L ") + TestFile::cardPath().toLatin1() + '\r');
    const QByteArray reply = link->WaitForPrompt();
    if (link->operationAborted())
        return;
    const QString replyText = QString::fromLatin1(reply);

    if (reply.startsWith('E')) {
        // The code is the reply's last two characters, whatever stands before them.
        // A reply too short to hold a code is just another error.
        const QByteArray code = reply.size() >= 3 ? reply.right(2) : QByteArray();
        if (code == "08") {
            MsgBox(QStringLiteral("No card inserted in the Kavo."));
            lblStatus->setText(replyText);
        } else if (code == "F2") {
            lblStatus->clear();
            const bool yes = AskYesNo(QStringLiteral("The test file does not exist on the card.\r\n"
                                                     "Would you like to send the test file to\r\n"
                                                     "the Kavo and play it?"));
            if (!yes)
                return;
            playWanted = UploadTestFile();
        } else {
            MsgBox(QStringLiteral("An error occurred searching for ") + TestFile::cardPath()
                   + QStringLiteral("\r\nError code: ") + replyText);
            lblStatus->setText(replyText);
        }
    } else {
        // Found, or no answer at all: try to play it either way.
        lblStatus->clear();
        playWanted = true;
    }

    if (!playWanted || link->operationAborted())
        return;
    link->ProbeDevice();
    if (link->operationAborted())
        return;
    // The play command's answer is not awaited; it stays in BufferIn until the next
    // exchange empties it.
    link->SendText(QByteArrayLiteral("PC F ") + TestFile::cardPath().toLatin1() + '\r');
}
