// The status line: the open port's name and line settings beside the message.
#include "app/frmserialdata.h"

#include <QApplication>
#include <QLabel>

void frmSerialData::ShowStatus(const QString &message)
{
    StatusPanel[0]->clear();
    StatusPanel[1]->clear();
    if (session->portOpen()) {
        StatusPanel[0]->setText(QStringLiteral("COM%1").arg(session->commPort()));
        StatusPanel[1]->setText(session->lineSettings());
    }
    StatusPanel[2]->setText(message);
    // Let the message show at once, even in the middle of a long operation.
    QApplication::processEvents();
}
