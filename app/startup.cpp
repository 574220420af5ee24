// Start-up, the About box, the logo link and shutdown.
#include "app/frmserialdata.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QMessageBox>
#include <QTimer>
#include <QUrl>

#include "app/portlist.h"

namespace {
const QString MakerAddress = QStringLiteral("https://www.kavo-modules.example/");
}

bool frmSerialData::Form_Load()
{
    CloseComPort();
    HiResTimer = std::make_unique<PerformanceTimer>();
    if (!ListComPorts()) {
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

void frmSerialData::closeEvent(QCloseEvent *event)
{
    if (!m_closing && !mayDropEdits(QStringLiteral("Exit closes the program"))) {
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}

void frmSerialData::Form_Unload()
{
    // Ends any wait at once; the operation that waited sends nothing more, but an upload
    // still closes its card file. The port closes when the operation has ended.
    m_closing = true;
    tmrStartSeq->stop();
    session->shutdown();
    // Message boxes still open inside an operation go too.
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
            box->reject();
    if (!session->busy())
        emit unloaded();
}
