// The Open/Close button: the port and rate the user chose go to the session, which finds
// the module; the window shows what it found and switches to the connected state.
#include "app/frmserialdata.h"
#include "app/portlist.h"
#include "app/readabletext.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>

#include "settings/settingtable.h"

void frmSerialData::setConnectedState(bool isConnected)
{
    cmdOpenCOM->setText(isConnected ? QStringLiteral("Close") : QStringLiteral("Open"));
    lstPCCOM->setEnabled(!isConnected);
    lstPCBPS->setEnabled(!isConnected);
    updateButtons();
}

void frmSerialData::clearModuleValues(bool keepSettings)
{
    ReadableText::show(lblVersion, QString());
    for (QLabel *box : {lblStatus, lblCapacity, lblFreeSpace})
        box->clear();
    if (!keepSettings)
        for (const SettingTable::Setting &s : SettingTable::all())
            clearSetting(s.letter);
    updateButtons();
}

void frmSerialData::clearSetting(char letter)
{
    // Back to the designed start, raising no handler: the controls show nothing of a module.
    const auto list = [](QComboBox *box) {
        const QSignalBlocker quiet(box);
        box->setCurrentIndex(-1);
    };
    const auto spinner = [](QScrollBar *bar, QLineEdit *box, int start) {
        const QSignalBlocker quiet(bar);
        bar->setValue(start);
        box->clear();
    };
    const auto check = [](QCheckBox *box) {
        const QSignalBlocker quiet(box);
        box->setChecked(false);
    };
    switch (letter) {
    case 'D': list(lstKAVOBPS); break;
    case 'S': list(lstInputStyle); break;
    case 'T': spinner(vscWriteTimeout, txtWriteTimeout, vscWriteTimeout->maximum()); break;
    case 'N': spinner(vscFileOffset, txtFileOffset, vscFileOffset->maximum()); break;
    case 'O': spinner(vscLoopCount, txtLoopCount, vscLoopCount->maximum()); break;
    case 'H': check(chkBusyIndicator); break;
    case 'U': check(chkUninterrupted); break;
    case 'V':
        // "Same as L" is the user's choice, not the module's, and stays.
        spinner(vscVolumeL, txtVolumeL, 0);
        spinner(vscVolumeR, txtVolumeR, 0);
        break;
    case 'B':
        spinner(vscBBFreq, txtBBFreq, vscBBFreq->maximum());
        spinner(vscBBBoost, txtBBBoost, vscBBBoost->maximum());
        check(chkBassBoost);
        break;
    }
    if (QLabel *out = settingStringLabel(letter))
        out->clear();
}

void frmSerialData::cmdOpenCOM_Click()
{
    // Open/Close, Read, Write and Play stay disabled until the click has run its course.
    OperationGuard operation(this, cmdOpenCOM);
    if (!operation.acquired())
        return;

    // Closing: nothing is sent to the module, and the window keeps what it showed.
    if (connected()) {
        setConnectedState(false);
        CloseComPort();
        ShowStatus(QStringLiteral("Connection Closed"));
        return;
    }

    if (lstPCCOM->currentIndex() < 0) {
        MsgBox(QStringLiteral("Please select a COM port"));
        return;
    }

    ConnectRequest request;
    // The lists stay usable during the attempt: the port is read from its list at the
    // moment it is used.
    m_portChoice->set(PortList::chosenPort(lstPCCOM));
    request.port = m_portChoice;
    for (int i = 0; i < lstPCBPS->count(); ++i)
        request.rates << lstPCBPS->itemText(i).toInt();
    request.automatic = chkAutoBitRate->isChecked();
    request.chosen = lstPCBPS->currentIndex();
    if (!request.automatic && request.chosen < 0) {
        MsgBox(QStringLiteral("Please select a bit rate for ") + lstPCCOM->currentText());
        return;
    }

    // Settings opened from a file before connecting are meant for this module; anything
    // else in the controls is another module's (or an earlier connection's) and goes, so
    // that it is neither shown as this module's nor written to it.
    const bool keepFileSettings = !m_settingsFromFile.isEmpty();
    if (!keepFileSettings && !mayDropEdits(QStringLiteral("Open reads the settings of the Kavo")))
        return;
    clearModuleValues(keepFileSettings);
    if (!keepFileSettings)
        noteSettingsBaseline();
    const ConnectOutcome outcome = session->connectModule(request);
    // A lost port or a closing window ends the attempt without further messages: the
    // status line has told the user already.
    if (outcome.aborted())
        return;
    QStringList messages = outcome.messages;
    if (outcome.otherRateAnswers && !messages.isEmpty())
        messages.last() += QStringLiteral("\r\nSomething answers on %1, but not at %2 bps: turn on Auto Bit Rate "
                                          "Detection.")
                               .arg(m_portChoice->get().name())
                               .arg(request.rates.value(request.chosen));
    showMessages(messages);

    // The connected check.
    if (!outcome.connected() || !session->portOpen() || session->aborted())
        return;
    ShowCardInfo();
    if (session->aborted())
        return;
    if (keepFileSettings)
        ShowStatus(QStringLiteral("The settings from %1 are kept: press Write to store them in the Kavo, or Read to "
                                  "load the Kavo's own")
                       .arg(m_settingsFromFile));
    else
        ReadAllSettings();
    // The port may have gone while the settings were read; then the window stays
    // not connected and the status line says why.
    if (!session->portOpen() || session->aborted())
        return;
    // The port list may have been changed while the module answered on the port chosen
    // before: once connected it shows the port that is open, as the rate list its rate.
    if (const int open = lstPCCOM->findText(QStringLiteral("COM%1").arg(session->commPort())); open >= 0)
        lstPCCOM->setCurrentIndex(open);
    setConnectedState(true);
}

QString frmSerialData::ReadVersion()
{
    return session->readVersion().identity;
}

void frmSerialData::ShowCardInfo()
{
    lblStatus->clear();
    lblCapacity->clear();
    lblFreeSpace->clear();
    // The boxes follow KavoSession::cardInfoRead.
    const CardOutcome outcome = session->readCardInfo();
    if (!outcome.aborted)
        showMessages(outcome.messages);
}
