// The window's controls, laid out as designed: positions are given in twips
// (15 twips to a pixel) relative to the control's container.
#include "app/frmserialdata.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>

#include "app/portlist.h"
#include "session/kavosession.h"
#include "session/sessionthread.h"
#include "app/readabletext.h"
#include "settings/settingtable.h"

namespace {

constexpr int TwipsPerPixel = 15;

QRect twips(int left, int top, int width, int height)
{
    return QRect(left / TwipsPerPixel, top / TwipsPerPixel, width / TwipsPerPixel, height / TwipsPerPixel);
}

template <typename W>
W *place(W *widget, const char *name, const QRect &geometry)
{
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(geometry);
    return widget;
}

QLabel *caption(QWidget *parent, const char *name, const QString &text, const QRect &geometry,
                Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter)
{
    auto *label = place(new QLabel(text, parent), name, geometry);
    label->setAlignment(align);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// A label with a single-line border, written only by the program.
QLabel *valueBox(QWidget *parent, const char *name, const QRect &geometry)
{
    auto *label = caption(parent, name, QString(), geometry);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setLineWidth(1);
    return label;
}

// A bordered box on a window-background (white) fill with window-text (black) writing.
QLabel *outputBox(QWidget *parent, const char *name, const QRect &geometry)
{
    auto *label = valueBox(parent, name, geometry);
    QPalette pal = label->palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(pal);
    label->setAutoFillBackground(true);
    return label;
}

// A box the user may select and copy the text of (a click gives it the focus for Ctrl+C;
// the Tab key passes it by).
QLabel *selectable(QLabel *label)
{
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

// A one-line number box beside its spinner: the spinner's handler fills it, and a number
// typed into it moves the spinner (Enter or leaving the box applies it).
QLineEdit *numberBox(QWidget *parent, const char *name, const QRect &geometry)
{
    return place(new QLineEdit(parent), name, geometry);
}

// A vertical spinner: an arrow moves it by one, Page Up / Page Down (or a click beside the
// thumb) by `pageStep`.
QScrollBar *spinner(QWidget *parent, const char *name, const QRect &geometry, int maximum, int start, int pageStep)
{
    auto *bar = place(new QScrollBar(Qt::Vertical, parent), name, geometry);
    bar->setRange(0, maximum);
    bar->setSingleStep(1);
    bar->setPageStep(pageStep);
    bar->setValue(start);
    return bar;
}

// The status bar's panels at their designed widths, the last one taking the rest; each is
// as high as the bar allows, below a one-pixel gap.
constexpr int StatusPanelWidths[] = {600 / TwipsPerPixel, 1200 / TwipsPerPixel};
constexpr int StatusPanelGap = 2;

void placeStatusPanels(const QStatusBar *bar, QLabel *const *panels)
{
    int x = StatusPanelGap;
    const int top = 1;
    const int height = bar->height() - top;
    for (int i = 0; i < 3; ++i) {
        const int width = i < 2 ? StatusPanelWidths[i] : std::max(1, bar->width() - StatusPanelGap - x);
        panels[i]->setGeometry(x, top, width, height);
        x += width + StatusPanelGap;
        ReadableText::refit(panels[i]);
    }
}

QComboBox *dropDown(QWidget *parent, const char *name, const QRect &geometry, const QStringList &items)
{
    auto *list = place(new QComboBox(parent), name, geometry);
    list->setEditable(false);
    list->addItems(items);
    list->setCurrentIndex(-1);
    return list;
}

QCheckBox *checkBox(QWidget *parent, const char *name, const QString &text, const QRect &geometry, bool checked)
{
    auto *box = place(new QCheckBox(text, parent), name, geometry);
    box->setChecked(checked);
    return box;
}

QPushButton *button(QWidget *parent, const char *name, const QString &text, const QRect &geometry, bool enabled)
{
    auto *b = place(new QPushButton(text, parent), name, geometry);
    b->setEnabled(enabled);
    b->setAutoDefault(false);
    return b;
}

QGroupBox *frame(QWidget *parent, const char *name, const QString &text, const QRect &geometry)
{
    return place(new QGroupBox(text, parent), name, geometry);
}

QStringList bitRateItems()
{
    QStringList items;
    for (const qint32 rate : SettingTable::bitRates())
        items << QString::number(rate);
    return items;
}

} // namespace

frmSerialData::frmSerialData(QWidget *parent)
    : QMainWindow(parent)
    , m_settings(new ModuleSettings(this))
    , m_worker(std::make_unique<SessionThread>(&m_tracer))
{
    buildWindow();
    connectHandlers();
}

frmSerialData::~frmSerialData()
{
    // The session's thread ends first (an operation still running closes its card file),
    // so that no job of it reads the settings any more.
    m_worker.reset();
    // A number box that has the focus loses it while the window is taken apart: nothing it
    // holds is applied any more.
    for (QLineEdit *box : {txtWriteTimeout, txtFileOffset, txtVolumeL, txtVolumeR, txtLoopCount, txtBBFreq, txtBBBoost})
        disconnect(box, nullptr, this, nullptr);
}

void frmSerialData::buildWindow()
{
    setObjectName(QStringLiteral("frmSerialData"));
    setWindowTitle(QStringLiteral("Kavo Configuration Tool"));
    setWindowIcon(QIcon(QStringLiteral(":/icon.png")));
    QFont dialogFont = font();
    dialogFont.setPointSize(8);
    // The designed places were measured for a narrow dialog font; a narrower cut of the
    // system's sans-serif keeps every caption within its place.
    dialogFont.setStretch(QFont::SemiCondensed);
    setFont(dialogFont);

    // Menus: Ctrl+O and Ctrl+S open and save settings files, Ctrl+T shows the traffic.
    mnuFile = menuBar()->addMenu(QStringLiteral("File"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnuFileOpenSettings = mnuFile->addAction(QStringLiteral("Open Settings..."));
    mnuFileOpenSettings->setObjectName(QStringLiteral("mnuFileOpenSettings"));
    mnuFileOpenSettings->setShortcut(QKeySequence::Open);
    mnuFileSaveSettings = mnuFile->addAction(QStringLiteral("Save Settings..."));
    mnuFileSaveSettings->setObjectName(QStringLiteral("mnuFileSaveSettings"));
    mnuFileSaveSettings->setShortcut(QKeySequence::Save);
    mnuFileTraffic = mnuFile->addAction(QStringLiteral("Traffic..."));
    mnuFileTraffic->setObjectName(QStringLiteral("mnuFileTraffic"));
    mnuFileTraffic->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    mnuFileSaveSettings->setEnabled(false);
    mnuFile->addSeparator();
    mnuFileExit = mnuFile->addAction(QStringLiteral("Exit"));
    mnuFileExit->setObjectName(QStringLiteral("mnuFileExit"));
    mnuHelp = menuBar()->addMenu(QStringLiteral("Help"));
    mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
    mnuAbout = mnuHelp->addAction(QStringLiteral("About"));
    mnuAbout->setObjectName(QStringLiteral("mnuAbout"));

    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("clientArea"));
    setCentralWidget(client);

    // PC COM settings
    frmPCCOM = frame(client, "frmPCCOM", QStringLiteral("PC COM Settings"), twips(240, 240, 4935, 1215));
    Label20 = caption(frmPCCOM, "Label20", QStringLiteral("COM Port"), twips(120, 240, 855, 255));
    lstPCCOM = dropDown(frmPCCOM, "lstPCCOM", twips(120, 480, 1695, 315), {});
    Label21 = caption(frmPCCOM, "Label21", QStringLiteral("Bit Rate"), twips(1920, 240, 615, 255));
    lstPCBPS = dropDown(frmPCCOM, "lstPCBPS", twips(1920, 480, 1815, 315), bitRateItems());
    cmdOpenCOM = button(frmPCCOM, "cmdOpenCOM", QStringLiteral("Open"), twips(3960, 480, 735, 375), true);
    chkAutoBitRate = checkBox(frmPCCOM, "chkAutoBitRate", QStringLiteral("Auto Bit Rate Detection"),
                              twips(1920, 840, 2055, 255), true);
    chkAutoBitRate->setToolTip(QStringLiteral("If checked, all baud rates will be checked to determine what baud "
                                              "rate the connected Kavo is set to respond to."));

    cmdReadSettings = button(client, "cmdReadSettings", QStringLiteral("Read"), twips(240, 1560, 975, 375), false);
    cmdWriteSettings = button(client, "cmdWriteSettings", QStringLiteral("Write"), twips(1320, 1560, 975, 375), false);
    Label23 = outputBox(client, "Label23", twips(3480, 1680, 1215, 255));
    Label23->setText(QStringLiteral("Setting String"));
    Label23->setAlignment(Qt::AlignCenter);

    // Kavo serial control settings
    frmSerial = frame(client, "frmSerial", QStringLiteral("Kavo Serial Control Settings"), twips(240, 2040, 4935, 1335));
    Label16 = caption(frmSerial, "Label16", QStringLiteral("Bit Rate:"), twips(120, 360, 735, 255));
    lstKAVOBPS = dropDown(frmSerial, "lstKAVOBPS", twips(1080, 360, 1815, 315), bitRateItems());
    outKAVOBPS = outputBox(frmSerial, "outKAVOBPS", twips(3240, 360, 1215, 255));
    Label17 = caption(frmSerial, "Label17", QStringLiteral("Write Timeout:"), twips(120, 840, 1095, 255));
    txtWriteTimeout = numberBox(frmSerial, "txtWriteTimeout", twips(1320, 840, 615, 285));
    txtWriteTimeout->setToolTip(QStringLiteral("0  = No write time-out, 1 to 254 = 10 to 2540 milliseconds"));
    vscWriteTimeout = spinner(frmSerial, "vscWriteTimeout", twips(1920, 840, 255, 375), 254, 254, 10);
    outWriteTimeout = outputBox(frmSerial, "outWriteTimeout", twips(3240, 840, 1215, 255));

    // Kavo input control settings
    frmInput = frame(client, "frmInput", QStringLiteral("Kavo Input Control Settings"), twips(240, 3480, 4935, 1815));
    Label18 = caption(frmInput, "Label18", QStringLiteral("Input Style:"), twips(120, 360, 855, 255));
    lstInputStyle = dropDown(frmInput, "lstInputStyle", twips(1080, 360, 1815, 315),
                             {QStringLiteral("No Input Style"), QStringLiteral("8 Switch Input"),
                              QStringLiteral("7 Bit Input")});
    outInputStyle = outputBox(frmInput, "outInputStyle", twips(3240, 360, 1215, 255));
    // The number box and its spinner stand a little to the right of the other settings'
    // boxes, clear of the caption's colon.
    Label19 = caption(frmInput, "Label19", QStringLiteral("Input File Number Offset:"), twips(120, 840, 1935, 255));
    txtFileOffset = numberBox(frmInput, "txtFileOffset", twips(2040, 840, 735, 285));
    vscFileOffset = spinner(frmInput, "vscFileOffset", twips(2760, 840, 255, 375), 32767, 32767, 1000);
    outFileOffset = outputBox(frmInput, "outFileOffset", twips(3240, 840, 1215, 255));
    chkBusyIndicator = checkBox(frmInput, "chkBusyIndicator", QStringLiteral("Hardware Busy Indicator:"),
                                twips(120, 1320, 2535, 255), false);
    outBusyIndicator = outputBox(frmInput, "outBusyIndicator", twips(3240, 1320, 1215, 255));

    // Kavo audio settings
    frmAudio = frame(client, "frmAudio", QStringLiteral("Kavo Audio Settings"), twips(240, 5400, 4935, 3015));
    Label10 = caption(frmAudio, "Label10", QStringLiteral("Left"), twips(1080, 240, 735, 255), Qt::AlignCenter);
    Label11 = caption(frmAudio, "Label11", QStringLiteral("Right"), twips(2040, 240, 735, 255), Qt::AlignCenter);
    Label2 = caption(frmAudio, "Label2", QStringLiteral("Volume:"), twips(120, 480, 975, 255));
    txtVolumeL = numberBox(frmAudio, "txtVolumeL", twips(1080, 480, 615, 285));
    vscVolumeL = spinner(frmAudio, "vscVolumeL", twips(1680, 480, 255, 375), 254, 0, 10);
    txtVolumeR = numberBox(frmAudio, "txtVolumeR", twips(2040, 480, 615, 285));
    vscVolumeR = spinner(frmAudio, "vscVolumeR", twips(2640, 480, 255, 375), 254, 0, 10);
    vscVolumeR->setEnabled(false);
    for (QLineEdit *volume : {txtVolumeL, txtVolumeR}) {
        QFont bold = volume->font();
        bold.setBold(true);
        volume->setFont(bold);
        QPalette pal = volume->palette();
        pal.setColor(QPalette::Text, QColor(192, 0, 0));
        volume->setPalette(pal);
        volume->setToolTip(QStringLiteral("0 = Loudest, 254 = Off"));
    }
    outVolume = outputBox(frmAudio, "outVolume", twips(3240, 480, 1215, 255));
    chkVolumeLocked = checkBox(frmAudio, "chkVolumeLocked", QStringLiteral("Same as L"), twips(2040, 840, 1095, 255), true);
    chkVolumeLocked->setToolTip(QStringLiteral("If checked, the Right value is set the same as the Left value"));
    // While the right channel follows the left one, its number cannot be typed.
    txtVolumeR->setReadOnly(chkVolumeLocked->isChecked());
    Label12 = caption(frmAudio, "Label12", QStringLiteral("Loop Count:"), twips(120, 1200, 975, 255));
    txtLoopCount = numberBox(frmAudio, "txtLoopCount", twips(1080, 1200, 615, 285));
    txtLoopCount->setToolTip(QStringLiteral("0 = Infinite, 1 = Single, 2 through 254 = Number of times a file will be repeated"));
    vscLoopCount = spinner(frmAudio, "vscLoopCount", twips(1680, 1200, 255, 375), 254, 254, 10);
    outLoopCount = outputBox(frmAudio, "outLoopCount", twips(3240, 1200, 1215, 255));
    Label14 = caption(frmAudio, "Label14", QStringLiteral("Freq (Hz)"), twips(1320, 1680, 855, 255), Qt::AlignCenter);
    Label15 = caption(frmAudio, "Label15", QStringLiteral("Boost (dB)"), twips(2280, 1680, 855, 255), Qt::AlignCenter);
    chkBassBoost = checkBox(frmAudio, "chkBassBoost", QStringLiteral("Bass Boost:"), twips(120, 1920, 1215, 255), false);
    txtBBFreq = numberBox(frmAudio, "txtBBFreq", twips(1320, 1920, 615, 285));
    txtBBFreq->setToolTip(QStringLiteral("Frequency around which the boost occurs (0 to 150 Hz, in steps of 10)."));
    vscBBFreq = spinner(frmAudio, "vscBBFreq", twips(1920, 1920, 255, 375), 15, 15, 5);
    txtBBBoost = numberBox(frmAudio, "txtBBBoost", twips(2280, 1920, 615, 285));
    txtBBBoost->setToolTip(QStringLiteral("Boost amount in dB (0 to 15)"));
    vscBBBoost = spinner(frmAudio, "vscBBBoost", twips(2880, 1920, 255, 375), 15, 15, 5);
    outBassBoost = outputBox(frmAudio, "outBassBoost", twips(3240, 1920, 1215, 255));
    chkUninterrupted = checkBox(frmAudio, "chkUninterrupted", QStringLiteral("Uninterrupted Playback:"),
                                twips(120, 2400, 2775, 255), false);
    chkUninterrupted->setToolTip(QStringLiteral("If checked, a sound triggered by one of the input modes will not "
                                                "stop until it is finished."));
    outUninterrupted = outputBox(frmAudio, "outUninterrupted", twips(3240, 2400, 1215, 255));

    // Device information. The version box has room for two lines (a 40-character reply
    // wraps at its blanks): it grows upwards into the free space above its row, its bottom
    // edge and its sides where they were designed; its caption stays centred beside it.
    Label1 = caption(client, "Label1", QStringLiteral("Version/SN:"), twips(5280, 150, 1095, 465), Qt::AlignRight | Qt::AlignVCenter);
    lblVersion = selectable(valueBox(client, "lblVersion", twips(6480, 150, 2175, 465)));
    lblVersion->setWordWrap(true);
    Label3 = caption(client, "Label3", QStringLiteral("Status:"), twips(5280, 720, 1095, 255), Qt::AlignRight | Qt::AlignVCenter);
    lblStatus = selectable(valueBox(client, "lblStatus", twips(6480, 720, 2175, 255)));
    Label4 = caption(client, "Label4", QStringLiteral("Card Capacity:"), twips(5280, 1080, 1095, 255), Qt::AlignRight | Qt::AlignVCenter);
    lblCapacity = selectable(valueBox(client, "lblCapacity", twips(6480, 1080, 2175, 255)));
    lblCapacity->setToolTip(QStringLiteral("Card capacity in KiBytes (Kibibyte = 1024 bytes)"));
    Label5 = caption(client, "Label5", QStringLiteral("Free Space:"), twips(5280, 1440, 1095, 255), Qt::AlignRight | Qt::AlignVCenter);
    lblFreeSpace = selectable(valueBox(client, "lblFreeSpace", twips(6480, 1440, 2175, 255)));
    lblFreeSpace->setToolTip(QStringLiteral("Free space in KiBytes (Kibibyte = 1024 bytes)"));

    // Play test
    frmTest = frame(client, "frmTest", QStringLiteral("Kavo Play Test"), twips(5400, 2040, 3255, 1335));
    cmdPlayTest = button(frmTest, "cmdPlayTest", QStringLiteral("Play"), twips(1200, 360, 855, 375), false);
    pbUploadFile = place(new QProgressBar(frmTest), "pbUploadFile", twips(120, 960, 3015, 255));
    pbUploadFile->setRange(0, 100);
    pbUploadFile->setValue(0);
    pbUploadFile->setTextVisible(false);
    pbUploadFile->setVisible(false);

    // The maker's logo; a click opens the maker's web site.
    Picture1 = place(new QLabel(client), "Picture1", twips(6360, 5520, 2295, 2895));
    Picture1->setPixmap(QPixmap(QStringLiteral(":/logo.png")));
    Picture1->setAlignment(Qt::AlignCenter);
    Picture1->setAutoFillBackground(true);
    QPalette white = Picture1->palette();
    white.setColor(QPalette::Window, Qt::white);
    Picture1->setPalette(white);
    Picture1->setCursor(Qt::PointingHandCursor);
    Picture1->installEventFilter(this);

    // Status bar: port name, line settings, message. The panels are placed by the window
    // (the bar's own layout would leave them less height than a line of text needs).
    StatusBar1 = statusBar();
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->setFixedHeight(255 / TwipsPerPixel);
    for (int i = 0; i < 3; ++i) {
        StatusPanel[i] = new QLabel(StatusBar1);
        StatusPanel[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i + 1));
        StatusPanel[i]->setTextFormat(Qt::PlainText);
        StatusPanel[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        // Two pixels before the text: "COM16" fits the first panel whole.
        StatusPanel[i]->setIndent(2);
    }
    StatusBar1->installEventFilter(this);

    tmrStartSeq = new QTimer(this);
    tmrStartSeq->setObjectName(QStringLiteral("tmrStartSeq"));
    tmrStartSeq->setInterval(300);

    // Keyboard focus order; the number boxes come after these.
    QWidget *order[] = {lstPCCOM, lstPCBPS, chkAutoBitRate, cmdOpenCOM, cmdReadSettings, cmdWriteSettings,
                        lstKAVOBPS, vscWriteTimeout, lstInputStyle, vscFileOffset, chkBusyIndicator,
                        vscVolumeL, vscVolumeR, chkVolumeLocked, vscLoopCount, chkBassBoost, vscBBFreq,
                        vscBBBoost, chkUninterrupted, cmdPlayTest, txtWriteTimeout, txtFileOffset,
                        txtVolumeL, txtVolumeR, txtLoopCount, txtBBFreq, txtBBBoost};
    for (QWidget *w : order)
        w->setFocusPolicy(Qt::StrongFocus);
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    client->setFixedSize(8790 / TwipsPerPixel, 8580 / TwipsPerPixel);
    adjustSize();
    setFixedSize(sizeHint());
}

void frmSerialData::connectHandlers()
{
    connect(mnuFileOpenSettings, &QAction::triggered, this, &frmSerialData::mnuFileOpenSettings_Click);
    connect(mnuFileSaveSettings, &QAction::triggered, this, &frmSerialData::mnuFileSaveSettings_Click);
    connect(mnuFileTraffic, &QAction::triggered, this, &frmSerialData::mnuFileTraffic_Click);
    connect(mnuFileExit, &QAction::triggered, this, &frmSerialData::mnuFileExit_Click);
    connect(mnuAbout, &QAction::triggered, this, &frmSerialData::mnuAbout_Click);
    connect(tmrStartSeq, &QTimer::timeout, this, &frmSerialData::tmrStartSeq_Timer);

    // What the session reports along the way, queued from its thread in the order it came.
    KavoSession *session = m_worker->session();
    connect(session, &KavoSession::portLost, this, &frmSerialData::onPortLost);
    connect(session, &KavoSession::status, this, &frmSerialData::ShowStatus);
    connect(session, &KavoSession::lineChanged, this, [this](const QString &port, const QString &line) {
        if (!port.isEmpty())
            m_lastOpenPort = port;
        m_linePort = port;
        m_lineSettings = line;
    });
    connect(session, &KavoSession::bitRateChanged, this, [this](qint32 rate) {
        lstPCBPS->setCurrentIndex(lstPCBPS->findText(QString::number(rate)));
    });
    connect(session, &KavoSession::versionRead, this, [this](const QString &text) { ReadableText::show(lblVersion, text); });
    connect(session, &KavoSession::cardStatusChanged, lblStatus, &QLabel::setText);
    connect(session, &KavoSession::cardInfoRead, this, [this](const Replies::CardInfo &info) {
        lblStatus->setText(info.status);
        lblCapacity->setText(info.capacity);
        lblFreeSpace->setText(info.freeSpace);
    });
    // Each setting read goes into the settings model where the session reads it; the
    // controls follow the model.
    connect(session, &KavoSession::settingRead, session,
            [settings = m_settings](char letter, const SettingTable::Reading &reading) { settings->take(letter, reading); },
            Qt::DirectConnection);
    connect(m_settings, &ModuleSettings::changed, this, &frmSerialData::showSetting, Qt::QueuedConnection);
    connect(session, &KavoSession::uploadStarted, this, [this](qint64 length) {
        pbUploadFile->setMaximum(int(length));
        pbUploadFile->setValue(0);
        pbUploadFile->setVisible(true);
    });
    connect(session, &KavoSession::uploadProgress, this, [this](qint64 taken) { pbUploadFile->setValue(int(taken)); });
    connect(session, &KavoSession::uploadEnded, this, [this] { pbUploadFile->setVisible(false); });

    connect(cmdOpenCOM, &QPushButton::clicked, this, &frmSerialData::cmdOpenCOM_Click);
    // A search reads the port at every rate it tries: another choice is used from the next.
    connect(lstPCCOM, &QComboBox::currentIndexChanged, this, [this] { m_portChoice->set(PortList::chosenPort(lstPCCOM)); });
    connect(cmdReadSettings, &QPushButton::clicked, this, &frmSerialData::cmdReadSettings_Click);
    connect(cmdWriteSettings, &QPushButton::clicked, this, &frmSerialData::cmdWriteSettings_Click);
    connect(cmdPlayTest, &QPushButton::clicked, this, &frmSerialData::cmdPlayTest_Click);

    // Setting controls: a change made by the user or by a routine runs the handler,
    // setting the same value again runs nothing.
    connect(lstKAVOBPS, &QComboBox::currentIndexChanged, this, &frmSerialData::lstKAVOBPS_Click);
    connect(lstInputStyle, &QComboBox::currentIndexChanged, this, &frmSerialData::lstInputStyle_Click);
    connect(vscWriteTimeout, &QScrollBar::valueChanged, this, &frmSerialData::vscWriteTimeout_Change);
    connect(vscFileOffset, &QScrollBar::valueChanged, this, &frmSerialData::vscFileOffset_Change);
    connect(vscVolumeL, &QScrollBar::valueChanged, this, &frmSerialData::vscVolumeL_Change);
    connect(vscVolumeR, &QScrollBar::valueChanged, this, &frmSerialData::vscVolumeR_Change);
    connect(vscLoopCount, &QScrollBar::valueChanged, this, &frmSerialData::vscLoopCount_Change);
    connect(vscBBFreq, &QScrollBar::valueChanged, this, &frmSerialData::vscBBFreq_Change);
    connect(vscBBBoost, &QScrollBar::valueChanged, this, &frmSerialData::vscBBBoost_Change);
    connect(chkBusyIndicator, &QCheckBox::stateChanged, this, &frmSerialData::chkBusyIndicator_Click);
    connect(chkVolumeLocked, &QCheckBox::stateChanged, this, &frmSerialData::chkVolumeLocked_Click);
    connect(chkBassBoost, &QCheckBox::stateChanged, this, &frmSerialData::chkBassBoost_Click);
    connect(chkUninterrupted, &QCheckBox::stateChanged, this, &frmSerialData::chkUninterrupted_Click);
    // An edit of the user's own takes a refused number's text off the status line.
    for (QScrollBar *bar : {vscWriteTimeout, vscFileOffset, vscVolumeL, vscVolumeR, vscLoopCount, vscBBFreq, vscBBBoost})
        connect(bar, &QScrollBar::actionTriggered, this, &frmSerialData::clearRangeError);
    for (QComboBox *list : {lstKAVOBPS, lstInputStyle})
        connect(list, &QComboBox::activated, this, &frmSerialData::clearRangeError);
    for (QCheckBox *box : {chkBusyIndicator, chkVolumeLocked, chkBassBoost, chkUninterrupted})
        connect(box, &QCheckBox::clicked, this, &frmSerialData::clearRangeError);

    // Typed numbers: the box notes that the user typed (textEdited comes from the user's
    // edits alone, never from the handlers filling the box); Enter or leaving the box
    // applies the number.
    for (QLineEdit *box : {txtWriteTimeout, txtFileOffset, txtVolumeL, txtVolumeR, txtLoopCount, txtBBFreq, txtBBBoost}) {
        connect(box, &QLineEdit::textEdited, box, [box] { box->setProperty("typed", true); });
        connect(box, &QLineEdit::editingFinished, this, [this, box] { numberBoxTyped(box); });
        // Up and Down step the number.
        box->installEventFilter(this);
    }
}

bool frmSerialData::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Picture1 && event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        Picture1_Click();
        return true;
    }
    if (watched == StatusBar1 && event->type() == QEvent::Resize)
        placeStatusPanels(StatusBar1, StatusPanel);
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (auto *box = qobject_cast<QLineEdit *>(watched); box && (key == Qt::Key_Up || key == Qt::Key_Down)) {
            numberBoxStepped(box, key == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}
