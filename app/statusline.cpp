// The status line: the open port's name and line settings beside the message. A text that
// does not fit its panel is there whole as the panel's tool-tip.
#include "app/frmserialdata.h"

#include <QApplication>
#include <QLabel>

#include "app/readabletext.h"

void frmSerialData::ShowStatus(const QString &message)
{
    const bool open = session->portOpen();
    ReadableText::show(StatusPanel[0], open ? QStringLiteral("COM%1").arg(session->commPort()) : QString());
    ReadableText::show(StatusPanel[1], open ? session->lineSettings() : QString());
    ReadableText::show(StatusPanel[2], message);
    // Let the message show at once, even in the middle of a long operation.
    QApplication::processEvents();
}
