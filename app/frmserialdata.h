#pragma once

#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "link/performancetimer.h"
#include "link/tracer.h"
#include "session/outcomes.h"
#include "settings/modulesettings.h"
#include "settings/settingsfile.h"

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QScrollBar;
class QStatusBar;
class QTimer;
class KavoSession;
class SessionThread;
class TrafficWindow;

// The program's one window: every control, the handlers, the message boxes and the status
// line. It only shows: the module's work runs in a session on a thread of its own, and the
// nine settings live in a ModuleSettings that the controls are a view of. The window never
// waits: it asks the session for an operation and shows what comes of it, and its message
// boxes are shown without holding anything up.
class frmSerialData : public QMainWindow
{
    Q_OBJECT
    // An operation with the module runs, from its click to its last message box (what a
    // test waits on until the window is idle).
    Q_PROPERTY(bool busy READ operationRunning NOTIFY busyChanged)
public:
    explicit frmSerialData(QWidget *parent = nullptr);
    ~frmSerialData() override;

    // Runs once before the window is shown. False: no COM port can be used; the box that
    // says so is up, and the program ends when it is closed.
    bool Form_Load();
    bool operationRunning() const { return m_operation != nullptr; }
    // Tests answer the file dialogs of the File menu with this instead.
    void setFileDialogForTesting(std::function<QString(bool forSaving)> dialog) { m_fileDialogForTesting = std::move(dialog); }

signals:
    void busyChanged(bool busy);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Operation;

    void buildWindow();
    void connectHandlers();

    // --- start-up, status line, shutdown ---------------------------------------------
    void ShowStatus(const QString &message);
    void tmrStartSeq_Timer();
    void mnuFileOpenSettings_Click();
    void mnuFileSaveSettings_Click();
    void mnuFileExit_Click();
    void mnuFileTraffic_Click();
    void mnuAbout_Click();
    void Picture1_Click();
    void Form_Unload();

    // --- message boxes: OK alone (or Yes/No), no icon, title "KavoConfig", plain text. ----
    // Shown window-modal and at once; `then` runs once the box is closed. Nothing is shown
    // while the window closes (`then` runs at once, a question answered No).
    void MsgBox(const QString &text, const QString &title = QStringLiteral("KavoConfig"),
                std::function<void()> then = {});
    void showMessages(QStringList messages, std::function<void()> then);
    void AskYesNo(const QString &text, std::function<void(bool yes)> then);
    enum class EditsChoice { Write, Save, Discard, Cancel };
    void AskAboutEdits(const QString &text, bool offerWrite, bool offerSave, std::function<void(EditsChoice)> then);

    // --- COM ports ----------------------------------------------------------------
    bool ListComPorts();
    void CloseComPort();

    // --- one operation at a time ----------------------------------------------------
    // Begins an operation started by `origin` (it has the keyboard focus again afterwards):
    // Open/Close, Read, Write and Play are disabled until endOperation(). False while
    // another runs or the window closes.
    bool beginOperation(QWidget *origin);
    void endOperation();
    // Runs `work` on the session's thread inside the operation, then `done` here with
    // what it returned.
    template <typename Out>
    void onSession(std::function<Out(KavoSession &)> work, std::function<void(const Out &)> done);
    // The window is connected while the Open button reads "Close".
    bool connected() const;
    void setConnectedState(bool isConnected);
    void updateButtons();
    void onPortLost(const QString &what);

    // --- connect and detect -----------------------------------------------------------
    void cmdOpenCOM_Click();
    void openConnection(const ConnectRequest &request, bool keepFileSettings);
    void afterConnect(const ConnectOutcome &outcome, const ConnectRequest &request, bool keepFileSettings);
    // Forgets what the window showed of a module: version and card; the nine settings too
    // unless `keepSettings`.
    void clearModuleValues(bool keepSettings);

    // --- settings -----------------------------------------------------------------------
    void cmdReadSettings_Click();
    void ReadAllSettings(std::function<void()> then);
    void cmdWriteSettings_Click();
    void WriteAllSettings(std::function<void(bool written)> then);
    void lstKAVOBPS_Click();
    void vscWriteTimeout_Change();
    void lstInputStyle_Click();
    void vscFileOffset_Change();
    void chkBusyIndicator_Click();
    void vscVolumeL_Change();
    void vscVolumeR_Change();
    void chkVolumeLocked_Click();
    void vscLoopCount_Change();
    void chkBassBoost_Click();
    void vscBBFreq_Change();
    void vscBBBoost_Change();
    void chkUninterrupted_Click();
    // The controls of a setting (or of all) shown as the settings model holds it.
    void showSetting(char letter);
    // A number typed into a spinner's box, or Up and Down there.
    void numberBoxTyped(QLineEdit *box);
    void numberBoxStepped(QLineEdit *box, int steps);
    void applyTyped(QLineEdit *box, int shown);
    void clearRangeError();
    // The settings in the window differ from what was last read, written, opened or saved.
    bool unsavedEdits() const;
    void noteSettingsBaseline();
    // Asks what to do with unsaved edits before they are lost; `purpose` says what would
    // lose them. `then` learns whether the caller may go on (written, saved or discarded).
    void mayDropEdits(const QString &purpose, std::function<void(bool go)> then);

    // --- settings files -------------------------------------------------------------------
    void askFileName(bool forSaving, std::function<void(const QString &path)> then);
    void openSettingsFile(const QString &path);
    bool saveSettingsFile(const QString &path);

    // --- play test --------------------------------------------------------------------
    void cmdPlayTest_Click();
    static QString ProgramFolder();

    // --- state --------------------------------------------------------------------
    // The traffic with the module, kept while the window lives (a ring of the last entries)
    // and shown in the Traffic window when the user opens it.
    Tracer m_tracer;
    TrafficWindow *m_traffic = nullptr;
    std::unique_ptr<PerformanceTimer> HiResTimer;
    qint16 StartSeqStep = 0;
    ModuleSettings *m_settings;
    std::shared_ptr<PortChoice> m_portChoice = std::make_shared<PortChoice>();
    // The COM number whose port was lost while open (0: none): its number now stands for
    // whatever it names next, not for the device it named when it was chosen.
    int m_lostPortNumber = 0;
    QString m_linePort;       // the open port's name and line settings, as the session said
    QString m_lineSettings;
    QString m_lastOpenPort;   // "COM3": the port opened last, kept when it closes
    Operation *m_operation = nullptr;
    bool m_closing = false;
    bool m_closeAgreed = false;   // unsaved edits were asked about; the window may close
    // The settings file whose values the controls hold, opened while not connected and
    // neither written nor replaced by a read since: the next Open keeps them.
    QString m_settingsFromFile;
    SettingsFile::Strings m_baseline;
    QString m_rangeError;     // the refusal of a typed number, while the status line shows it
    std::function<QString(bool forSaving)> m_fileDialogForTesting;

    // --- controls -----------------------------------------------------------------
    QMenu *mnuFile;
    QAction *mnuFileOpenSettings;
    QAction *mnuFileSaveSettings;
    QAction *mnuFileTraffic;
    QAction *mnuFileExit;
    QMenu *mnuHelp;
    QAction *mnuAbout;

    QGroupBox *frmPCCOM;
    QLabel *Label20;
    QComboBox *lstPCCOM;
    QLabel *Label21;
    QComboBox *lstPCBPS;
    QPushButton *cmdOpenCOM;
    QCheckBox *chkAutoBitRate;

    QPushButton *cmdReadSettings;
    QPushButton *cmdWriteSettings;
    QLabel *Label23;

    QGroupBox *frmSerial;
    QLabel *Label16;
    QComboBox *lstKAVOBPS;
    QLabel *outKAVOBPS;
    QLabel *Label17;
    QLineEdit *txtWriteTimeout;
    QScrollBar *vscWriteTimeout;
    QLabel *outWriteTimeout;

    QGroupBox *frmInput;
    QLabel *Label18;
    QComboBox *lstInputStyle;
    QLabel *outInputStyle;
    QLabel *Label19;
    QLineEdit *txtFileOffset;
    QScrollBar *vscFileOffset;
    QLabel *outFileOffset;
    QCheckBox *chkBusyIndicator;
    QLabel *outBusyIndicator;

    QGroupBox *frmAudio;
    QLabel *Label10;
    QLabel *Label11;
    QLabel *Label2;
    QLineEdit *txtVolumeL;
    QScrollBar *vscVolumeL;
    QLineEdit *txtVolumeR;
    QScrollBar *vscVolumeR;
    QLabel *outVolume;
    QCheckBox *chkVolumeLocked;
    QLabel *Label12;
    QLineEdit *txtLoopCount;
    QScrollBar *vscLoopCount;
    QLabel *outLoopCount;
    QLabel *Label14;
    QLabel *Label15;
    QCheckBox *chkBassBoost;
    QLineEdit *txtBBFreq;
    QScrollBar *vscBBFreq;
    QLineEdit *txtBBBoost;
    QScrollBar *vscBBBoost;
    QLabel *outBassBoost;
    QCheckBox *chkUninterrupted;
    QLabel *outUninterrupted;

    QGroupBox *frmTest;
    QPushButton *cmdPlayTest;
    QProgressBar *pbUploadFile;

    QLabel *Label1;
    QLabel *lblVersion;
    QLabel *Label3;
    QLabel *lblStatus;
    QLabel *Label4;
    QLabel *lblCapacity;
    QLabel *Label5;
    QLabel *lblFreeSpace;
    QLabel *Picture1;

    QStatusBar *StatusBar1;
    QLabel *StatusPanel[3];

    QTimer *tmrStartSeq;

    // Last: it goes first, so that no job of the session outlives what it reads.
    std::unique_ptr<SessionThread> m_worker;
};
