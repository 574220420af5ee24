// Copying the test file from the program's folder to the card, piece by piece.
#include "app/frmserialdata.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>

#include "playtest/testfile.h"
#include "playtest/uploadplan.h"

bool frmSerialData::OpenDeviceFile(const QString &path)
{
    if (path.isEmpty())
        return false;
    link->BufferIn.clear();
    link->SendText(QByteArrayLiteral("FC O 1 W ") + path.toLatin1() + '\r');
    const QByteArray reply = link->WaitForPrompt();
    if (link->operationAborted())
        return false;
    // Anything but an error reply (a silent module included) leaves the file open.
    if (reply.startsWith('E')) {
        const QString replyText = QString::fromLatin1(reply);
        lblStatus->setText(replyText);
        ShowStatus(QStringLiteral("Error (") + replyText + QStringLiteral(") while opening ") + path);
        return false;
    }
    return true;
}

namespace {

// Why the local file cannot be uploaded, or an empty text when it can.
QString localFileProblem(const QString &path, const QFile &file, const UploadPlan &plan)
{
    switch (plan.problem()) {
    case UploadPlan::Problem::None:
        return {};
    case UploadPlan::Problem::Empty:
        return QStringLiteral("The test file '%1' is empty; there is nothing to send to the Kavo.").arg(path);
    case UploadPlan::Problem::TooLarge:
        return QStringLiteral("The test file '%1' is too large (%2 bytes); the Kavo takes files of up to %3 bytes.")
            .arg(path)
            .arg(file.size())
            .arg(UploadPlan::LargestLength);
    }
    return {};
}

} // namespace

bool frmSerialData::UploadTestFile()
{
    const QString localPath = TestFile::localPath();
    const QString cardPath = TestFile::cardPath();

    if (!QFileInfo::exists(localPath)) {
        MsgBox(QStringLiteral("Could not find '") + localPath + QStringLiteral("'"));
        return false;
    }

    // Every local problem is told before any file command goes to the Kavo.
    QFile file(localPath);
    if (!file.open(QIODevice::ReadOnly)) {
        MsgBox(QStringLiteral("Could not read the test file '%1':\r\n%2").arg(localPath, file.errorString()));
        return false;
    }
    const UploadPlan plan(file.size());
    if (const QString problem = localFileProblem(localPath, file, plan); !problem.isEmpty()) {
        MsgBox(problem);
        return false;
    }

    pbUploadFile->setMaximum(int(plan.length()));
    pbUploadFile->setValue(0);

    if (!OpenDeviceFile(cardPath)) {
        if (!link->operationAborted())
            MsgBox(QStringLiteral("Could not open file on Kavo"));
        return false;
    }

    pbUploadFile->setVisible(true);
    ShowStatus(QStringLiteral("Uploading test file (") + cardPath + QStringLiteral(") ..."));

    const QByteArray closeCommand = QByteArrayLiteral("FC C 1\r");
    // Ends a failed upload: the card file is closed (its answer is not awaited) and the
    // bar goes; the message says what went wrong and that the card holds part of the file.
    auto fail = [&](const QString &what) {
        link->SendText(closeCommand);
        pbUploadFile->setVisible(false);
        ShowStatus(QStringLiteral("Upload failed: ") + cardPath + QStringLiteral(" on the card is incomplete"));
        MsgBox(what + QStringLiteral("\r\nThe file ") + cardPath + QStringLiteral(" on the card is incomplete."));
        return false;
    };

    // The replies of all pieces are taken one by one; the buffer is emptied only here.
    link->BufferIn.clear();
    for (qint64 i = 0; i < plan.pieceCount(); ++i) {
        const int count = plan.pieceSize(i);
        const QByteArray data = file.read(count);
        if (data.size() != count) {
            const QString why = file.error() != QFileDevice::NoError
                ? file.errorString()
                : QStringLiteral("it became shorter while it was being sent");
            return fail(QStringLiteral("Could not read the test file '%1':\r\n%2").arg(localPath, why));
        }
        // The command line and its data leave together, in one write to the port.
        link->SendText(UploadPlan::writeCommand(count) + data);
        const QByteArray reply = link->WaitForPrompt();
        if (link->operationAborted()) {
            // The window is closing or the port is gone, and the port is closed with it:
            // no close command can reach the Kavo any more, and the status line has
            // told the user already.
            pbUploadFile->setVisible(false);
            return false;
        }
        if (!reply.isEmpty() || link->lastWaitTimedOut()) {
            const QString head = plan.isLast(i) ? QStringLiteral("Error during write (2)")
                                                : QStringLiteral("Error during write.");
            const QString answer = link->lastWaitTimedOut()
                ? QStringLiteral("The Kavo did not answer.")
                : QStringLiteral("The Kavo answered: ") + QString::fromLatin1(reply);
            return fail(head + QStringLiteral("\r\n") + answer);
        }
        if (!plan.isLast(i))
            pbUploadFile->setValue(plan.progressAfter(i));
    }

    link->SendText(closeCommand);
    pbUploadFile->setVisible(false);
    ShowStatus(QStringLiteral("Upload complete"));
    return true;
}
