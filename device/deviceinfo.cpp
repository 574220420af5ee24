// The module's version and identity, and its card's capacity and free space.
#include "app/frmserialdata.h"

#include <QLabel>

#include "device/replies.h"

QString frmSerialData::ReadVersion()
{
    lblVersion->clear();
    link->ProbeDevice();
    link->BufferIn.clear();
    link->SendText(QByteArrayLiteral("V\r"));
    const QString reply = QString::fromLatin1(link->WaitForPrompt());
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
    if (reply.isEmpty()) {
        link->BufferIn.clear();
        link->SendText(QByteArrayLiteral("FC F\r"));
        lblStatus->setText(QString::fromLatin1(link->WaitForPrompt()));
        return;
    }
    const Replies::CardInfo info = Replies::cardInfo(reply);
    lblStatus->setText(info.status);
    lblCapacity->setText(info.capacity);
    lblFreeSpace->setText(info.freeSpace);
}
