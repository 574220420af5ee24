// Sending a local file to the card, piece by piece.
#include <QFile>
#include <QFileInfo>

#include "playtest/cardfile.h"
#include "playtest/uploadplan.h"
#include "session/kavosession.h"

bool KavoSession::openCardFile(const QString &cardPath)
{
    if (cardPath.isEmpty())
        return false;
    const Reply reply = m_link->SendAndWait(CardFile::openForWritingCommand(cardPath));
    if (reply.aborted())
        return false;
    // Anything but an error reply (a silent module included) leaves the file open.
    if (reply.text.startsWith('E')) {
        const QString replyText = QString::fromLatin1(reply.text);
        emit cardStatus(replyText);
        say(QStringLiteral("Error (") + replyText + QStringLiteral(") while opening ") + cardPath);
        return false;
    }
    return true;
}

namespace {

// Why the local file cannot be uploaded, or an empty text when it can.
QString localFileProblem(const QString &what, const QString &path, const UploadPlan &plan)
{
    switch (plan.problem()) {
    case UploadPlan::Problem::None:
        return {};
    case UploadPlan::Problem::Empty:
        return QStringLiteral("The %1 '%2' is empty; there is nothing to send to the Kavo.").arg(what, path);
    case UploadPlan::Problem::TooLarge:
        return QStringLiteral("The %1 '%2' is too large (%3 bytes); the Kavo takes files of up to %4 bytes.")
            .arg(what, path)
            .arg(plan.length())
            .arg(UploadPlan::LargestLength);
    }
    return {};
}

} // namespace

UploadOutcome KavoSession::upload(const QString &localPath, const QString &cardPath, bool testFile)
{
    using Result = UploadOutcome::Result;
    UploadOutcome out;
    const QString what = testFile ? QStringLiteral("test file") : QStringLiteral("file");
    const auto refuse = [&](const QString &message) {
        out.result = Result::LocalFileProblem;
        out.messages << message;
        return out;
    };

    if (!QFileInfo::exists(localPath))
        return refuse(QStringLiteral("Could not find '") + localPath + QStringLiteral("'"));

    // Every local problem is told before any file command goes to the Kavo.
    QFile file(localPath);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(QStringLiteral("Could not read the %1 '%2':\r\n%3").arg(what, localPath, file.errorString()));
    const UploadPlan plan(file.size());
    out.length = plan.length();
    if (const QString problem = localFileProblem(what, localPath, plan); !problem.isEmpty())
        return refuse(problem);

    emit uploadPrepared(plan.length());

    if (!openCardFile(cardPath)) {
        if (m_link->operationAborted()) {
            out.result = Result::Aborted;
        } else {
            out.result = Result::CardRefused;
            out.messages << QStringLiteral("Could not open file on Kavo");
        }
        return out;
    }

    emit uploadShown(true);
    say((testFile ? QStringLiteral("Uploading test file (") : QStringLiteral("Uploading file ("))
        + cardPath + QStringLiteral(") ..."));

    const QByteArray closeCommand = CardFile::closeCommand() + '\r';
    // Ends a failed upload: the card file is closed (its answer is not awaited) and the
    // bar goes; the message says what went wrong and that the card holds part of the file.
    const auto fail = [&](const QString &why) {
        m_link->SendText(closeCommand);
        emit uploadShown(false);
        say(QStringLiteral("Upload failed: ") + cardPath + QStringLiteral(" on the card is incomplete"));
        out.result = m_link->operationAborted() ? Result::Aborted : Result::WriteFailed;
        if (!m_link->operationAborted())
            out.messages << why + QStringLiteral("\r\nThe file ") + cardPath + QStringLiteral(" on the card is incomplete.");
        return out;
    };

    // The replies of all pieces are taken one by one; the buffer is emptied only here.
    m_link->discardInput();
    for (qint64 i = 0; i < plan.pieceCount(); ++i) {
        const int count = plan.pieceSize(i);
        const QByteArray data = file.read(count);
        if (data.size() != count) {
            const QString why = file.error() != QFileDevice::NoError
                ? file.errorString()
                : QStringLiteral("it became shorter while it was being sent");
            return fail(QStringLiteral("Could not read the %1 '%2':\r\n%3").arg(what, localPath, why));
        }
        // The command line and its data leave together, in one write to the port.
        m_link->SendText(UploadPlan::writeCommand(count) + data);
        const Reply reply = m_link->WaitForPrompt();
        if (reply.aborted()) {
            emit uploadShown(false);
            out.result = Result::Aborted;
            // Interrupted by the user with the port still open: the card file is closed.
            // Otherwise the window is closing or the port is gone, and the port is closed
            // with it: no close command can reach the Kavo any more, and the status line
            // has told the user already.
            if (m_interrupted && portOpen()) {
                m_link->beginOperation();
                m_link->SendText(closeCommand);
                m_link->abortOperation();
            }
            return out;
        }
        // Only the prompt alone takes a piece.
        if (!reply.prompted() || !reply.text.isEmpty()) {
            const QString head = plan.isLast(i) ? QStringLiteral("Error during write (2)")
                                                : QStringLiteral("Error during write.");
            const QString answer = reply.timedOut()
                ? QStringLiteral("The Kavo did not answer.")
                : QStringLiteral("The Kavo answered: ") + QString::fromLatin1(reply.text);
            return fail(head + QStringLiteral("\r\n") + answer);
        }
        out.sent += count;
        if (!plan.isLast(i))
            emit uploadProgress(plan.progressAfter(i));
    }

    m_link->SendText(closeCommand);
    emit uploadShown(false);
    say(QStringLiteral("Upload complete"));
    if (m_link->operationAborted())
        out.result = Result::Aborted;
    return out;
}
