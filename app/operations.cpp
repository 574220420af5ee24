// One operation at a time, the buttons that follow the connection, and a port that is lost.
#include "app/frmserialdata.h"

#include <QAction>
#include <QPushButton>

#include "settings/settingtable.h"

bool frmSerialData::connected() const
{
    return cmdOpenCOM->text() != QStringLiteral("Open");
}

bool frmSerialData::beginOperation()
{
    return !m_closing && session->beginOperation();
}

void frmSerialData::endOperation()
{
    session->endOperation();
}

void frmSerialData::updateButtons()
{
    const bool idle = !session->busy();
    cmdOpenCOM->setEnabled(idle);
    cmdReadSettings->setEnabled(idle && connected());
    cmdWriteSettings->setEnabled(idle && connected());
    cmdPlayTest->setEnabled(idle && connected());
    mnuFileSaveSettings->setEnabled(settingStrings().size() == int(SettingTable::all().size()));
}

void frmSerialData::onPortLost(const QString &description)
{
    const QString port = QStringLiteral("COM%1").arg(session->commPort());
    if (connected())
        setConnectedState(false);
    ShowStatus(QStringLiteral("%1 was lost (%2); the port is closed. Reconnect the module, then press Open.")
                   .arg(port, description));
}
