// Sending a local file to the card, piece by piece.
#include <QElapsedTimer>
#include <QFile>

#include "playtest/cardfile.h"
#include "playtest/localfile.h"
#include "playtest/uploadplan.h"
#include "session/kavosession.h"

Reply KavoSession::openCardFile(const QString &cardPath)
{
    const Reply reply = m_link->SendAndWait(CardFile::openForWritingCommand(cardPath));
    // Anything but an error reply (a silent module included) leaves the file open.
    if (reply.prompted() && reply.text.startsWith('E')) {
        const QString replyText = quoted(reply.text);
        emit cardStatusChanged(replyText);
        say(QStringLiteral("Error (") + replyText + QStringLiteral(") while opening ") + cardPath);
    }
    return reply;
}

QString KavoSession::closeCardFile(const QString &cardPath)
{
    const Reply reply = m_link->SendAndWait(CardFile::closeCommand());
    if (reply.endless())
        return endlessText();
    // Only an error reply refuses the close, as for the other file commands.
    if (reply.prompted() && reply.text.startsWith('E'))
        return QStringLiteral("The file %1 on the card could not be closed: the Kavo answered '%2'.")
            .arg(cardPath, quoted(reply.text));
    return {};
}

UploadOutcome KavoSession::upload(const QString &localPath, const QString &cardPath, bool testFile)
{
    // Every local problem is told before any file command goes to the Kavo.
    QString problem;
    const std::unique_ptr<QFile> file
        = LocalFile::open(localPath, testFile ? QStringLiteral("test file") : QStringLiteral("file"), &problem);
    if (!file) {
        UploadOutcome out;
        out.result = UploadOutcome::Result::LocalFileProblem;
        out.messages << problem;
        say(QStringLiteral("Upload not started: ") + problem.section(QLatin1Char('\r'), 0, 0));
        return out;
    }
    return upload(*file, cardPath, testFile);
}

UploadOutcome KavoSession::upload(QFile &file, const QString &cardPath, bool testFile)
{
    using Result = UploadOutcome::Result;
    UploadOutcome out;
    if (portGone()) {
        out.result = Result::Aborted;
        return out;
    }
    const QString what = testFile ? QStringLiteral("test file") : QStringLiteral("file");
    const QString localPath = file.fileName();
    const auto refuse = [&](const QString &message) {
        out.result = Result::LocalFileProblem;
        out.messages << message;
        say(QStringLiteral("Upload not started: ") + message.section(QLatin1Char('\r'), 0, 0));
        return out;
    };
    const UploadPlan plan(file.size());
    out.length = plan.length();
    if (plan.problem() != UploadPlan::Problem::None)
        return refuse(QStringLiteral("The %1 '%2' cannot be sent (%3 bytes).").arg(what, localPath).arg(plan.length()));

    bool started = false;
    const auto endUpload = [&] {
        if (started)
            emit uploadEnded();
        started = false;
    };
    const auto endless = [&] {
        endUpload();
        out.result = Result::Endless;
        out.messages << endlessText();
        say(endlessText());
        return out;
    };
    if (cardPath.isEmpty())
        return refuse(QStringLiteral("No name for the file on the card"));
    if (!m_link->quietLine()) {
        if (m_link->operationAborted()) {
            out.result = Result::Aborted;
            return out;
        }
        return endless();
    }

    const Reply opened = openCardFile(cardPath);
    if (opened.aborted()) {
        out.result = Result::Aborted;
        return out;
    }
    if (opened.endless())
        return endless();
    if (opened.text.startsWith('E')) {
        out.result = Result::CardRefused;
        out.cardReply = opened.text;
        out.messages << QStringLiteral("Could not open file on Kavo");
        return out;
    }
    started = true;
    emit uploadStarted(plan.length());
    say((testFile ? QStringLiteral("Uploading test file (") : QStringLiteral("Uploading file ("))
        + cardPath + QStringLiteral(") ..."));

    const QString incomplete = QStringLiteral("The file ") + cardPath + QStringLiteral(" on the card is incomplete.");
    // Ends a failed upload: the card file is closed and the bar goes; the message says
    // what went wrong and that the card holds part of the file.
    const auto fail = [&](const QString &why) {
        const QString closing = closeCardFile(cardPath);
        endUpload();
        if (m_link->operationAborted()) {
            out.result = Result::Aborted;
            return out;
        }
        say(QStringLiteral("Upload failed: ") + cardPath + QStringLiteral(" on the card is incomplete"));
        out.result = Result::WriteFailed;
        out.messages << why + QStringLiteral("\r\n") + incomplete;
        if (!closing.isEmpty())
            out.messages << closing;
        return out;
    };

    // Ended by the user or by the window closing, with the port still open: the module
    // finishes the piece it has, then the card file is closed. A lost port has taken the
    // line with it.
    const auto ended = [&](bool pieceOnTheWay) {
        endUpload();
        out.result = Result::Aborted;
        if (m_link->resume()) {
            if (pieceOnTheWay)
                m_link->WaitForPrompt();
            closeCardFile(cardPath);
            say(QStringLiteral("Upload stopped: ") + cardPath + QStringLiteral(" on the card is incomplete"));
            m_link->abortOperation();
        }
        return out;
    };

    // Each piece's command line and data go out together, in one write to the port. While
    // the module takes piece i, the bar moves for piece i - 1 and piece i + 1 is read from
    // the file, in the other of two buffers that live as long as the upload.
    QByteArray buffers[2];
    for (QByteArray &buffer : buffers)
        buffer.reserve(UploadPlan::WriteCommandRoom + UploadPlan::PieceSize);
    QString readProblem;
    const auto prepare = [&](qint64 index, QByteArray &buffer) {
        const int count = plan.pieceSize(index);
        buffer.resize(UploadPlan::WriteCommandRoom + count);
        const int head = UploadPlan::writeCommand(count, buffer.data());
        buffer.resize(head + count);
        if (file.read(buffer.data() + head, count) == count)
            return true;
        const QString why = file.error() != QFileDevice::NoError
            ? file.errorString()
            : QStringLiteral("it became shorter while it was being sent");
        readProblem = QStringLiteral("Could not read the %1 '%2':\r\n%3").arg(what, localPath, why);
        return false;
    };

    QElapsedTimer progressShown;
    // The replies of all pieces are taken one by one; the buffer is emptied only here.
    m_link->discardInput();
    if (!prepare(0, buffers[0]))
        return fail(readProblem);
    for (qint64 i = 0; i < plan.pieceCount(); ++i) {
        if (m_link->operationAborted())
            return ended(false);
        m_link->SendText(buffers[i % 2]);
        if (i > 0 && (!progressShown.isValid() || progressShown.elapsed() >= ProgressEveryMs)) {
            progressShown.start();
            emit uploadProgress(plan.progressAfter(i - 1));
        }
        const bool nextReady = plan.isLast(i) || prepare(i + 1, buffers[(i + 1) % 2]);
        const Reply reply = m_link->WaitForPrompt();
        if (reply.aborted())
            return ended(true);
        if (reply.endless())
            return endless();
        // Only the prompt alone takes a piece.
        if (!reply.prompted() || !reply.text.isEmpty()) {
            const QString head = plan.isLast(i) ? QStringLiteral("Error during write (2)")
                                                : QStringLiteral("Error during write.");
            const QString answer = reply.timedOut()
                ? QStringLiteral("The Kavo did not answer.")
                : QStringLiteral("The Kavo answered: ") + quoted(reply.text);
            return fail(head + QStringLiteral("\r\n") + answer);
        }
        out.sent += plan.pieceSize(i);
        if (!nextReady)
            return fail(readProblem);
    }
    // The whole file is on the card.
    emit uploadProgress(plan.length());

    const QString closing = closeCardFile(cardPath);
    endUpload();
    if (m_link->operationAborted()) {
        out.result = Result::Aborted;
        return out;
    }
    if (!closing.isEmpty()) {
        out.result = Result::WriteFailed;
        out.messages << closing + QStringLiteral("\r\n") + incomplete;
        say(QStringLiteral("Upload failed: ") + cardPath + QStringLiteral(" on the card could not be closed"));
        return out;
    }
    say(QStringLiteral("Upload complete"));
    // What the file took from the card.
    readCardInfo();
    if (m_link->operationAborted())
        out.result = Result::Aborted;
    return out;
}
