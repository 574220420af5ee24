// Start-up, the About box, the logo link and shutdown.
#include "app/frmserialdata.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QMessageBox>
#include <QTimer>
#include <QUrl>

#include "app/portlist.h"
#include "app/trafficwindow.h"
#include "session/sessionthread.h"

namespace {
const QString MakerAddress = QStringLiteral("https://www.kavo-modules.example/");
}

bool frmSerialData::Form_Load()
{
    CloseComPort();
    HiResTimer = std::make_unique<PerformanceTimer>();
    if (!ListComPorts()) {
        // The program ends once the box is closed: it is the only window then.
        MsgBox(PortList::noPortsText(PortList::lastListing(lstPCCOM)), QStringLiteral("Commx"));
        return false;
    }
    StartSeqStep = 1;
    tmrStartSeq->start();
    return true;
}

void frmSerialData::tmrStartSeq_Timer()
{
    if (StartSeqStep == 4)
        tmrStartSeq->stop();
    ++StartSeqStep;
}

void frmSerialData::mnuAbout_Click()
{
    MsgBox(QStringLiteral("Kavo Configuration Tool\r\n"
                          "Version " KAVO_VERSION "\r\n"
                          "August 25, 2005\r\n"
                          "Kavo MP3 modules, www.kavo-modules.example"));
}

void frmSerialData::Picture1_Click()
{
    // Hands the address to the desktop's browser and returns at once.
    if (!QDesktopServices::openUrl(QUrl(MakerAddress)))
        ShowStatus(QStringLiteral("Could not open %1: no web browser is set up on this computer.").arg(MakerAddress));
}

void frmSerialData::mnuFileExit_Click()
{
    close();
}

void frmSerialData::mnuFileTraffic_Click()
{
    // A window of its own beside this one, made when first asked for.
    if (!m_traffic)
        m_traffic = new TrafficWindow(&m_tracer, this);
    m_traffic->show();
    m_traffic->raise();
    m_traffic->activateWindow();
}

void frmSerialData::closeEvent(QCloseEvent *event)
{
    if (!m_closing && !m_closeAgreed && unsavedEdits()) {
        // Asked first; the window closes once the edits are written, saved or given up.
        event->ignore();
        mayDropEdits(QStringLiteral("Exit closes the program"), [this](bool go) {
            if (!go)
                return;
            m_closeAgreed = true;
            close();
        });
        return;
    }
    Form_Unload();
    event->accept();
}

void frmSerialData::Form_Unload()
{
    if (m_closing)
        return;
    // Ends the operation at once; it sends nothing more, but an upload still closes its card
    // file. The port closes when it has ended, and the program ends with the session's
    // thread (the window waits for it as it goes).
    m_closing = true;
    tmrStartSeq->stop();
    if (m_traffic)
        m_traffic->close();
    m_worker->shutdown();
    // Message boxes of this window go too.
    for (QMessageBox *box : findChildren<QMessageBox *>())
        if (box->isVisible())
            box->reject();
    updateButtons();
}
