// One operation at a time, the buttons that follow the connection, and a port that is lost.
#include "app/frmserialdata.h"

#include <QAction>
#include <QComboBox>
#include <QPointer>
#include <QPushButton>

#include "settings/settingtable.h"

// The operation in progress: what started it, to give it the keyboard focus back.
struct frmSerialData::Operation {
    QPointer<QWidget> origin;
};

bool frmSerialData::connected() const
{
    return cmdOpenCOM->text() == QStringLiteral("Close");
}

void frmSerialData::setConnectedState(bool isConnected)
{
    cmdOpenCOM->setText(isConnected ? QStringLiteral("Close") : QStringLiteral("Open"));
    if (isConnected)
        m_lostPortNumber = 0;
    lstPCCOM->setEnabled(!isConnected);
    lstPCBPS->setEnabled(!isConnected);
    updateButtons();
}

bool frmSerialData::beginOperation(QWidget *origin)
{
    if (m_closing || m_operation)
        return false;
    m_operation = new Operation{origin};
    updateButtons();
    emit busyChanged(true);
    return true;
}

void frmSerialData::endOperation()
{
    if (!m_operation)
        return;
    const QPointer<QWidget> origin = m_operation->origin;
    delete m_operation;
    m_operation = nullptr;
    updateButtons();
    // The button that started it takes the keyboard focus back: disabled meanwhile, it
    // had passed the focus on to whatever came next (a list a wheel turn would change).
    // After a message box the window may not be active again yet: the focus is then given
    // as soon as it is.
    if (origin && origin->isEnabled() && !m_closing)
        origin->setFocus(Qt::OtherFocusReason);
    emit busyChanged(false);
}

void frmSerialData::updateButtons()
{
    const bool idle = !m_operation && !m_closing;
    cmdOpenCOM->setEnabled(idle);
    cmdReadSettings->setEnabled(idle && connected());
    cmdWriteSettings->setEnabled(idle && connected());
    cmdPlayTest->setEnabled(idle && connected());
    mnuFileSaveSettings->setEnabled(m_settings->complete());
}

void frmSerialData::onPortLost(const QString &what)
{
    // The window keeps what it showed of the module, as after Close; the next Open
    // begins clean.
    if (connected())
        setConnectedState(false);
    m_lostPortNumber = m_lastOpenPort.mid(3).toInt();
    ShowStatus(what + QStringLiteral("; the port is closed. Reconnect the module, then press Open."));
}
