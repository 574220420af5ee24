// Start-up, the status line, the About box, the logo link, message boxes and shutdown.
#include "app/frmserialdata.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>

#include "settings/settingtable.h"

namespace {
const QString MakerAddress = QStringLiteral("https://www.kavo-modules.example/");
}

bool frmSerialData::Form_Load()
{
    CloseComPort();
    HiResTimer = std::make_unique<PerformanceTimer>();
    if (!ListComPorts()) {
        MsgBox(QStringLiteral("There are no available comm ports on this computer."), QStringLiteral("Commx"));
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

static QMessageBox *newMessageBox(QWidget *parent, const QString &title, const QString &text)
{
    auto *box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose, false);
    box->setIcon(QMessageBox::NoIcon);
    box->setWindowTitle(title);
    box->setTextFormat(Qt::PlainText);
    box->setText(text);
    return box;
}

void frmSerialData::MsgBox(const QString &text, const QString &title)
{
    if (m_closing)
        return;
    std::unique_ptr<QMessageBox> box(newMessageBox(isVisible() ? this : nullptr, title, text));
    box->setStandardButtons(QMessageBox::Ok);
    box->exec();
}

bool frmSerialData::AskYesNo(const QString &text)
{
    if (m_closing)
        return false;
    std::unique_ptr<QMessageBox> box(newMessageBox(isVisible() ? this : nullptr, QStringLiteral("KavoConfig"), text));
    box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box->setDefaultButton(QMessageBox::Yes);
    return box->exec() == QMessageBox::Yes && !m_closing;
}

void frmSerialData::mnuAbout_Click()
{
    MsgBox(QStringLiteral("Kavo Configuration Tool\r\n"
                          "Version 1.0\r\n"
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
    Form_Unload();
    event->accept();
}

void frmSerialData::Form_Unload()
{
    // Ends any wait at once; the operation that waited sends nothing more.
    m_closing = true;
    tmrStartSeq->stop();
    session->shutdown();
    // Message boxes still open inside an operation go too.
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
            box->reject();
}

// --- one operation at a time -----------------------------------------------------------

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

void frmSerialData::showMessages(const QStringList &messages)
{
    for (const QString &message : messages)
        MsgBox(message);
}

void frmSerialData::onPortLost(const QString &description)
{
    const QString port = QStringLiteral("COM%1").arg(session->commPort());
    if (connected())
        setConnectedState(false);
    ShowStatus(QStringLiteral("%1 was lost (%2); the port is closed. Reconnect the module, then press Open.")
                   .arg(port, description));
}
