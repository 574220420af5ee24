// The module's version and identity, and its card's capacity and free space.
#include "app/frmserialdata.h"

#include <QLabel>

#include "device/replies.h"

QString frmSerialData::ReadVersion()
{
    lblVersion->clear();
    link->ProbeDevice();
    if (link->operationAborted())
        return {};
    link->BufferIn.clear();
    link->SendText(QByteArrayLiteral("V\r"));
    const QString reply = QString::fromLatin1(link->WaitForPrompt());
    if (link->operationAborted())
        return {};
    lblVersion->setText(reply);
    return Replies::identityCode(reply);
}

void frmSerialData::ShowCardInfo()
{
    lblStatus->clear();
    lblCapacity->clear();
    lblFreeSpace->clear();

    link->BufferIn.clear();
    link->SendText(QByteArrayLiteral("FC Q\r"));
    const QString reply = QString::fromLatin1(link->WaitForPrompt());
    if (link->operationAborted())
        return;
    if (reply.isEmpty()) {
        // A time-out or the prompt alone: the card's own status text says more.
        link->BufferIn.clear();
        link->SendText(QByteArrayLiteral("FC F\r"));
        const QString status = QString::fromLatin1(link->WaitForPrompt());
        if (link->operationAborted())
            return;
        lblStatus->setText(status);
        return;
    }
    const Replies::CardInfo info = Replies::cardInfo(reply);
    lblStatus->setText(info.status);
    lblCapacity->setText(info.capacity);
    lblFreeSpace->setText(info.freeSpace);
}
