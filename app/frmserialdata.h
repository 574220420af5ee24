#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QString>
#include <functional>
#include <memory>

#include "link/performancetimer.h"
#include "session/kavosession.h"
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

// The program's one window: every control, the handlers, the message boxes and the status
// line. It is a view on the session, which does the work with the module.
class frmSerialData : public QMainWindow
{
    Q_OBJECT
    // An operation with the module runs (what a test waits on until the window is idle).
    Q_PROPERTY(bool busy READ operationRunning)
public:
    explicit frmSerialData(QWidget *parent = nullptr);
    ~frmSerialData() override;

signals:
    // The window has been unloaded and the operation it ran, if any, has ended: the
    // program may end now.
    void unloaded();

public:

    // --- start-up, status line, shutdown (app/) -------------------------------------
    // Runs once before the window is shown. False: no COM port can be opened; the user
    // has been told (and why, for ports that exist) and the program must end without
    // showing the window.
    bool Form_Load();
    void ShowStatus(const QString &message);

    // Message boxes of the program: OK alone (or Yes/No), no icon, title "KavoConfig",
    // plain text. While the window is closing nothing is shown (Ask answers No).
    void MsgBox(const QString &text, const QString &title = QStringLiteral("KavoConfig"));
    bool AskYesNo(const QString &text);
    // What to do with settings changed and neither written nor saved: Write (offered when
    // `offerWrite`), Save Settings... (when `offerSave`), Discard or Cancel.
    enum class EditsChoice { Write, Save, Discard, Cancel };
    EditsChoice AskAboutEdits(const QString &text, bool offerWrite, bool offerSave);

    // --- COM ports (app/portroutines.cpp) --------------------------------------------
    bool ListComPorts();
    bool OpenComPort(int port, qint32 bitRate);
    void CloseComPort();

    // --- one operation at a time ----------------------------------------------------
    // Every routine that talks to the module runs inside an operation of the session.
    // While one runs, Open/Close, Read, Write and Play are disabled; false when another
    // one runs or the window is closing.
    // `origin` is the button that started it: it has the keyboard focus again afterwards.
    bool beginOperation(QWidget *origin = nullptr);
    void endOperation();
    bool operationRunning() const { return session->busy(); }
    // The window is connected while the Open button's caption is not "Open".
    bool connected() const;
    // Enables Open/Close, Read, Write and Play as the connection and the operation allow.
    void updateButtons();
    bool closing() const { return m_closing; }

    // --- connect and detect -----------------------------------------------------------
    void cmdOpenCOM_Click();
    QString ReadVersion();
    void ShowCardInfo();
    // Switches the window to the connected or the not-connected state.
    void setConnectedState(bool isConnected);
    // Forgets what the window showed of a module: version and card; the nine settings too
    // unless `keepSettings`.
    void clearModuleValues(bool keepSettings = false);
    // Empties one setting's controls and setting string, as they are at start.
    void clearSetting(char letter);
    // The settings in the window differ from what was last read, written, opened or saved.
    bool unsavedEdits() const { return settingStrings() != m_baseline; }
    // Asks what to do with unsaved edits before they are lost: `purpose` says what would
    // lose them. True when the caller may go on (the edits were written, saved or may go).
    bool mayDropEdits(const QString &purpose);

    // --- settings -----------------------------------------------------------------------
    // True when all nine settings were read into the controls.
    bool ReadAllSettings();
    void cmdReadSettings_Click();
    void WriteAllSettings();
    void cmdWriteSettings_Click();
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
    // A number typed into one of the spinners' boxes: checked against the spinner's range,
    // then the spinner moves (and its handler runs) as an arrow click would move it.
    void numberBoxTyped(QLineEdit *box);
    // Up or Down in a number box: the number one step up or down, as the spinner would.
    void numberBoxStepped(QLineEdit *box, int steps);
    // A valid edit takes a refused number's text off the status line.
    void clearRangeError();
    // A setting string into the controls, through their handlers, as if the user had set
    // them.
    void putIntoControls(const SettingTable::Stored &stored);
    // The label that shows a setting's setting string.
    QLabel *settingStringLabel(char letter) const;
    // The nine setting strings as they stand (only the non-empty ones).
    SettingsFile::Strings settingStrings() const;

    // --- settings files (File menu) ----------------------------------------------------
    // Loads the file into the controls; false (the user told why) when it was refused.
    bool openSettingsFile(const QString &path);
    bool saveSettingsFile(const QString &path);

    // --- play test --------------------------------------------------------------------
    void cmdPlayTest_Click();
    bool UploadTestFile();
    // Moves the upload's progress bar, at most every 40 ms (no eye tells that from every
    // piece, and each repaint costs what a piece's write does), and always to its end.
    void showUploadProgress(qint64 value);
    // The folder the program runs from, where the test file is looked for.
    static QString ProgramFolder();

    // --- state --------------------------------------------------------------------
    KavoSession *session;                            // the module, through MSComm1
    std::unique_ptr<PerformanceTimer> HiResTimer;
    qint16 StartSeqStep = 0;

    // --- controls -----------------------------------------------------------------
    QMenu *mnuFile;
    QAction *mnuFileOpenSettings;
    QAction *mnuFileSaveSettings;
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

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildWindow();
    void connectHandlers();
    void tmrStartSeq_Timer();
    void mnuFileOpenSettings_Click();
    void mnuFileSaveSettings_Click();
    void mnuFileExit_Click();
    void mnuAbout_Click();
    void Picture1_Click();
    void Form_Unload();
    void onPortLost(const QString &description);
    void onSettingRead(char letter, const SettingTable::Reading &reading);
    // Shows each message of an outcome in turn.
    void showMessages(const QStringList &messages);
    // Who asks for a setting file's name: a file dialog, or a test.
    QString askFileName(bool forSaving);

    // Marks what the settings in the window were last read, written, opened or saved as.
    void noteSettingsBaseline() { m_baseline = settingStrings(); }

    bool m_closing = false;
    // The settings file whose values the controls hold, opened while not connected and
    // neither written nor replaced by a read since: the next Open keeps them.
    QString m_settingsFromFile;
    // The port chosen in the list, read by a search at every rate it tries.
    std::shared_ptr<PortChoice> m_portChoice = std::make_shared<PortChoice>();
    QString m_rangeError;   // the refusal of a typed number, while the status line shows it
    SettingsFile::Strings m_baseline;
    QWidget *m_operationOrigin = nullptr;
    QElapsedTimer m_barMoved;

public:
    // Tests answer the file dialogs of the File menu with this instead.
    std::function<QString(bool forSaving)> fileDialogForTesting;
};

// Holds an operation for the length of a scope.
class OperationGuard
{
public:
    explicit OperationGuard(frmSerialData *window, QWidget *origin = nullptr)
        : m_window(window), m_acquired(window->beginOperation(origin)) {}
    ~OperationGuard() { if (m_acquired) m_window->endOperation(); }
    OperationGuard(const OperationGuard &) = delete;
    OperationGuard &operator=(const OperationGuard &) = delete;
    bool acquired() const { return m_acquired; }

private:
    frmSerialData *m_window;
    bool m_acquired;
};
