// The status line: the open port's name and line settings beside the message. A text that
// does not fit its panel is there whole as the panel's tool-tip.
#include <QLabel>

#include "app/frmserialdata.h"
#include "app/readabletext.h"

void frmSerialData::ShowStatus(const QString &message)
{
    // The port as the session last said it stands (it says so whenever it opens or closes
    // one): empty while none is open.
    ReadableText::show(StatusPanel[0], m_linePort);
    ReadableText::show(StatusPanel[1], m_lineSettings);
    ReadableText::show(StatusPanel[2], message);
}
