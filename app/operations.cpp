// One operation at a time, the buttons that follow the connection, and a port that is lost.
#include "app/frmserialdata.h"

#include <QAction>
#include <QPushButton>

#include "settings/settingtable.h"

bool frmSerialData::connected() const
{
    return cmdOpenCOM->text() != QStringLiteral("Open");
}

bool frmSerialData::beginOperation(QWidget *origin)
{
    if (m_closing || !session->beginOperation())
        return false;
    m_operationOrigin = origin;
    return true;
}

void frmSerialData::endOperation()
{
    session->endOperation();
    // The button that started it takes the keyboard focus back: disabled meanwhile, it
    // had passed the focus on to whatever came next (a list a wheel turn would change).
    // After a message box the window may not be active again yet: the focus is then given
    // as soon as it is.
    if (m_operationOrigin && m_operationOrigin->isEnabled())
        m_operationOrigin->setFocus(Qt::OtherFocusReason);
    m_operationOrigin = nullptr;
    if (m_closing)
        emit unloaded();
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

void frmSerialData::onPortLost(const QString &what)
{
    // The window keeps what it showed of the module, as after Close; the next Open
    // begins clean.
    if (connected())
        setConnectedState(false);
    ShowStatus(what + QStringLiteral("; the port is closed. Reconnect the module, then press Open."));
}
