// The Open/Close button: the port and rate the user chose go to the session, which finds
// the module on its thread; the window shows what it found and switches to the connected
// state once the card and the settings are read.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "app/onsession.h"
#include "app/portlist.h"
#include "app/readabletext.h"

void frmSerialData::clearModuleValues(bool keepSettings)
{
    ReadableText::show(lblVersion, QString());
    for (QLabel *box : {lblStatus, lblCapacity, lblFreeSpace})
        box->clear();
    if (!keepSettings)
        m_settings->clearAll();
    updateButtons();
}

void frmSerialData::cmdOpenCOM_Click()
{
    // Open/Close, Read, Write and Play stay disabled until the click has run its course.
    if (!beginOperation(cmdOpenCOM))
        return;

    // Closing: nothing is sent to the module, and the window keeps what it showed.
    if (connected()) {
        onSession<PlainOutcome>(
            [](KavoSession &session) {
                session.closePort();
                return PlainOutcome();
            },
            [this](const PlainOutcome &) {
                setConnectedState(false);
                ShowStatus(QStringLiteral("Connection Closed"));
                endOperation();
            });
        return;
    }

    if (lstPCCOM->currentIndex() < 0) {
        MsgBox(QStringLiteral("Please select a COM port"), QStringLiteral("KavoConfig"), [this] { endOperation(); });
        return;
    }

    ConnectRequest request;
    // The lists stay usable during the attempt: the port is read from its list at the
    // moment it is used.
    ComPorts::Port port = PortList::chosenPort(lstPCCOM);
    // A module pulled while open and plugged in again may come back on another device
    // under the same number: the number was chosen, the device it named was lost.
    if (m_lostPortNumber != 0 && port.number == m_lostPortNumber) {
        if (const ComPorts::Port now = ComPorts::port(port.number); now.valid())
            port = now;
    }
    m_portChoice->set(port);
    request.port = m_portChoice;
    for (int i = 0; i < lstPCBPS->count(); ++i)
        request.rates << lstPCBPS->itemText(i).toInt();
    request.automatic = chkAutoBitRate->isChecked();
    request.chosen = lstPCBPS->currentIndex();
    if (!request.automatic && request.chosen < 0) {
        MsgBox(QStringLiteral("Please select a bit rate for ") + lstPCCOM->currentText(), QStringLiteral("KavoConfig"),
               [this] { endOperation(); });
        return;
    }

    // Settings opened from a file before connecting are meant for this module; anything
    // else in the controls is another module's (or an earlier connection's) and goes, so
    // that it is neither shown as this module's nor written to it.
    const bool keepFileSettings = !m_settingsFromFile.isEmpty();
    if (keepFileSettings) {
        openConnection(request, true);
        return;
    }
    mayDropEdits(QStringLiteral("Open reads the settings of the Kavo"), [this, request](bool go) {
        if (go)
            openConnection(request, false);
        else
            endOperation();
    });
}

void frmSerialData::openConnection(const ConnectRequest &request, bool keepFileSettings)
{
    clearModuleValues(keepFileSettings);
    if (!keepFileSettings)
        noteSettingsBaseline();
    onSession<ConnectOutcome>([request](KavoSession &session) { return session.connectModule(request); },
                              [this, request, keepFileSettings](const ConnectOutcome &outcome) {
                                  afterConnect(outcome, request, keepFileSettings);
                              });
}

void frmSerialData::afterConnect(const ConnectOutcome &outcome, const ConnectRequest &request, bool keepFileSettings)
{
    // A lost port or a closing window ends the attempt without further messages: the
    // status line has told the user already.
    if (outcome.aborted() || m_closing) {
        endOperation();
        return;
    }
    QStringList messages = outcome.messages;
    if (outcome.otherRateAnswers && !messages.isEmpty())
        messages.last() += QStringLiteral("\r\nSomething answers on %1, but not at %2 bps: turn on Auto Bit Rate "
                                          "Detection.")
                               .arg(m_portChoice->get().name())
                               .arg(request.rates.value(request.chosen));
    showMessages(messages, [this, connectedNow = outcome.connected(), keepFileSettings] {
        if (!connectedNow || m_linePort.isEmpty() || m_closing) {
            endOperation();
            return;
        }
        // The connected check: the card, then the settings (or the file's, kept).
        lblStatus->clear();
        lblCapacity->clear();
        lblFreeSpace->clear();
        onSession<CardOutcome>([](KavoSession &session) { return session.readCardInfo(); },
                               [this, keepFileSettings](const CardOutcome &card) {
                                   if (card.aborted() || m_closing) {
                                       endOperation();
                                       return;
                                   }
                                   showMessages(card.messages, [this, keepFileSettings] {
                                       const auto connectedState = [this] {
                                           // The port may have gone meanwhile; then the window
                                           // stays not connected and the status line says why.
                                           if (!m_linePort.isEmpty() && !m_closing) {
                                               // Once connected the list shows the port that is
                                               // open, as the rate list its rate.
                                               if (const int open = lstPCCOM->findText(m_linePort); open >= 0)
                                                   lstPCCOM->setCurrentIndex(open);
                                               setConnectedState(true);
                                           }
                                           endOperation();
                                       };
                                       if (keepFileSettings) {
                                           ShowStatus(QStringLiteral("The settings from %1 are kept: press Write to store "
                                                                     "them in the Kavo, or Read to load the Kavo's own")
                                                          .arg(m_settingsFromFile));
                                           connectedState();
                                       } else {
                                           ReadAllSettings(connectedState);
                                       }
                                   });
                               });
    });
}
