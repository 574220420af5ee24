// The window as it opens: every control with its name, kind, caption, items, tool-tip,
// range, start state and designed place; the menus, timers, status bar and focus order;
// every text readable at the designed font (clear of its neighbours, whole or with a
// tool-tip), copyable boxes, message boxes within the screen. Everything is looked at from
// outside: controls found by their names, texts brought onto the window by what the user
// does.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <QStyleOptionGroupBox>
#include <QTest>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>

#include "app/frmserialdata.h"
#include "support/kavosim.h"
#include "support/messageboxes.h"
#include "support/testenv.h"
#include "support/windowdriver.h"
#include "support/windowfixture.h"

namespace {

// Designed places are in twips, 15 to a pixel, relative to the control's container.
QRect twips(int left, int top, int width, int height)
{
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

QString textOf(QWidget *w)
{
    if (auto *b = qobject_cast<QAbstractButton *>(w))
        return b->text();
    if (auto *l = qobject_cast<QLabel *>(w))
        return l->text();
    if (auto *e = qobject_cast<QLineEdit *>(w))
        return e->text();
    if (auto *g = qobject_cast<QGroupBox *>(w))
        return g->title();
    return QString();
}

QStringList itemsOf(QWidget *w)
{
    QStringList items;
    if (auto *c = qobject_cast<QComboBox *>(w))
        for (int i = 0; i < c->count(); ++i)
            items << c->itemText(i);
    return items;
}

// The number a control holds: a scroll bar's or progress bar's value, a check box's 1/0,
// a list's selected index; -1 for the others.
int valueOf(QWidget *w)
{
    if (auto *s = qobject_cast<QScrollBar *>(w))
        return s->value();
    if (auto *p = qobject_cast<QProgressBar *>(w))
        return p->value();
    if (auto *c = qobject_cast<QCheckBox *>(w))
        return c->isChecked() ? 1 : 0;
    if (auto *c = qobject_cast<QComboBox *>(w))
        return c->currentIndex();
    return -1;
}

int maximumOf(QWidget *w)
{
    if (auto *s = qobject_cast<QScrollBar *>(w))
        return s->maximum();
    if (auto *p = qobject_cast<QProgressBar *>(w))
        return p->maximum();
    return -1;
}

const QStringList BitRates = {"9600", "19200", "38400", "57600", "115200"};

// --- where texts are drawn ---------------------------------------------------------------

// The area a label draws its text in: its contents less margin and indent (a framed label
// without an indent of its own keeps half an 'x' from the sides it is aligned to).
QRect labelTextArea(const QLabel *label)
{
    QRect area = label->contentsRect().adjusted(label->margin(), label->margin(), -label->margin(), -label->margin());
    int indent = label->indent();
    if (indent < 0 && label->frameWidth() > 0)
        indent = label->fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2 - label->margin();
    if (indent > 0) {
        const Qt::Alignment align = label->alignment();
        if (align & Qt::AlignLeft)
            area.setLeft(area.left() + indent);
        if (align & Qt::AlignRight)
            area.setRight(area.right() - indent);
        if (align & Qt::AlignTop)
            area.setTop(area.top() + indent);
        if (align & Qt::AlignBottom)
            area.setBottom(area.bottom() - indent);
    }
    return area;
}

// The area a control draws `text` in and how it aligns it there, in the control's own
// coordinates; an empty area for controls that draw no text.
QRect textArea(QWidget *w, int *flags)
{
    QStyle *style = w->style();
    if (auto *label = qobject_cast<QLabel *>(w)) {
        *flags = int(label->alignment()) | (label->wordWrap() ? int(Qt::TextWordWrap) : 0);
        return labelTextArea(label);
    }
    if (auto *box = qobject_cast<QCheckBox *>(w)) {
        QStyleOptionButton option;
        option.initFrom(box);
        option.text = box->text();
        option.iconSize = box->iconSize();
        *flags = Qt::AlignLeft | Qt::AlignVCenter;
        return style->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
    }
    if (auto *button = qobject_cast<QPushButton *>(w)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        *flags = Qt::AlignCenter;
        return style->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    }
    if (auto *list = qobject_cast<QComboBox *>(w)) {
        QStyleOptionComboBox option;
        option.initFrom(list);
        option.editable = list->isEditable();
        option.frame = list->hasFrame();
        *flags = Qt::AlignLeft | Qt::AlignVCenter;
        return style->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, list);
    }
    if (auto *edit = qobject_cast<QLineEdit *>(w)) {
        QStyleOptionFrame option;
        option.initFrom(edit);
        option.lineWidth = edit->hasFrame() ? style->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit) : 0;
        option.midLineWidth = 0;
        option.state |= QStyle::State_Sunken;
        const QMargins margins = edit->textMargins();
        // A line edit keeps two pixels to the left and right of its text.
        *flags = int(edit->alignment());
        return style->subElementRect(QStyle::SE_LineEditContents, &option, edit)
            .adjusted(margins.left() + 2, margins.top(), -margins.right() - 2, -margins.bottom());
    }
    if (auto *frame = qobject_cast<QGroupBox *>(w)) {
        QStyleOptionGroupBox option;
        option.initFrom(frame);
        option.text = frame->title();
        option.lineWidth = 1;
        option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        *flags = Qt::AlignLeft | Qt::AlignVCenter;
        return style->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, frame);
    }
    return QRect();
}

// Everything a control may have to show at once: its caption or text, a list's entries,
// and for the boxes the program fills, the widest of their values.
QStringList textsShownBy(QWidget *w)
{
    static const QHash<QString, QStringList> values = {
        {"lblVersion", {"Kavo v2.07KAV1 SN 00012345", "Kavo v2.07KAV1 SN 0001234567890123456789",
                        "Kavo v2.07KAV1ABCDEFGH SN 00123456789012"}},
        {"lblStatus", {"E08", "EF2"}},
        {"lblCapacity", {"1998848", "4294967295"}},
        {"lblFreeSpace", {"1997312", "4294967295"}},
        {"outKAVOBPS", {"ST D 4"}},
        {"outWriteTimeout", {"ST T 254"}},
        {"outInputStyle", {"ST S 2"}},
        {"outFileOffset", {"ST N 32767"}},
        {"outBusyIndicator", {"ST H 1"}},
        {"outVolume", {"ST V 254 254", "ST V 188 188"}},
        {"outLoopCount", {"ST O 254"}},
        {"outBassBoost", {"ST B 255", "ST B 188"}},
        {"outUninterrupted", {"ST U 1"}},
        {"txtWriteTimeout", {"254", "188"}},
        {"txtFileOffset", {"32767", "28888"}},
        {"txtVolumeL", {"254", "188"}},
        {"txtVolumeR", {"254", "188"}},
        {"txtLoopCount", {"254", "188"}},
        {"txtBBFreq", {"150", "100"}},
        {"txtBBBoost", {"15"}},
        {"lstPCCOM", {"COM16"}},
        {"StatusPanel1", {"COM16"}},
        {"StatusPanel2", {"115200,N,8,1", "57600,N,8,1"}},
    };
    QStringList texts;
    if (!textOf(w).isEmpty())
        texts << textOf(w);
    texts << itemsOf(w) << values.value(w->objectName());
    return texts;
}

// The rectangle `text` takes in `w` (in w's own coordinates), or a null rectangle when w
// draws no text.
QRect textRect(QWidget *w, const QString &text)
{
    int flags = 0;
    const QRect area = textArea(w, &flags);
    if (area.isNull())
        return QRect();
    if (qobject_cast<QGroupBox *>(w))
        return area;   // the style sizes the title's place to the title
    return w->fontMetrics().boundingRect(area, flags, text);
}

QList<QLabel *> statusPanels(QWidget *window)
{
    QList<QLabel *> panels;
    for (int i = 1; i <= 3; ++i)
        panels << window->findChild<QLabel *>(QStringLiteral("StatusPanel%1").arg(i));
    return panels;
}

// A settings file of the nine settings, as the README shows one.
bool writeSettingsFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write("# Kavo settings\nST D 2\nST T 20\nST S 1\nST N 0\nST H 1\nST V 16\nST O 1\nST B 37\nST U 0\n") > 0;
}

// A window connected to the simulator the way the user connects: the port picked, Open
// pressed with automatic detection.
bool connectTo(WindowDriver &window, const KavoSim &sim)
{
    return window.pick(QStringLiteral("lstPCCOM"), sim.comName()) && window.click(QStringLiteral("cmdOpenCOM"))
        && window.connected();
}

} // namespace

class tst_Window : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void controls_data();
    void controls();
    void scrollBarSteps();
    void window();
    void menus();
    void statusBar();
    void timers();
    void volumeBoxes();
    void focusOrder();
    void startRaisesNoHandler();
    void valueBoxesArePlainText_data();
    void valueBoxesArePlainText();
    void layoutReadable();
    void captionsClear_data();
    void captionsClear();
    void statusPanelToolTips_data();
    void statusPanelToolTips();
    void versionBoxShowsWhole_data();
    void versionBoxShowsWhole();
    void valueBoxesSelectable_data();
    void valueBoxesSelectable();
    void messageBoxWithinScreen_data();
    void messageBoxWithinScreen();
    void grab();

private:
    KavoSim m_sim;
    std::unique_ptr<frmSerialData> m_window;
};

void tst_Window::initTestCase()
{
    TestEnv::isolate();
    QVERIFY(m_sim.start());
    m_window = openWindow();
    QVERIFY(m_window);
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void tst_Window::cleanupTestCase()
{
    m_window.reset();
}

void tst_Window::controls_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QRect>("place");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("value");

    const QString client = "clientArea";
    const QStringList none;
    auto row = [](const char *name, const char *kind, const QString &container, QRect place, const QString &text,
                  const QStringList &items, const QString &tip, bool enabled, bool visible, int maximum, int value) {
        QTest::newRow(name) << QString(kind) << container << place << text << items << tip << enabled << visible
                            << maximum << value;
    };

    // Frames
    row("frmPCCOM", "QGroupBox", client, twips(240, 240, 4935, 1215), "PC COM Settings", none, "", true, true, -1, -1);
    row("frmSerial", "QGroupBox", client, twips(240, 2040, 4935, 1335), "Kavo Serial Control Settings", none, "", true, true, -1, -1);
    row("frmInput", "QGroupBox", client, twips(240, 3480, 4935, 1815), "Kavo Input Control Settings", none, "", true, true, -1, -1);
    row("frmAudio", "QGroupBox", client, twips(240, 5400, 4935, 3015), "Kavo Audio Settings", none, "", true, true, -1, -1);
    row("frmTest", "QGroupBox", client, twips(5400, 2040, 3255, 1335), "Kavo Play Test", none, "", true, true, -1, -1);

    // On the window itself
    row("cmdReadSettings", "QPushButton", client, twips(240, 1560, 975, 375), "Read", none, "", false, true, -1, -1);
    row("cmdWriteSettings", "QPushButton", client, twips(1320, 1560, 975, 375), "Write", none, "", false, true, -1, -1);
    row("Label23", "QLabel", client, twips(3480, 1680, 1215, 255), "Setting String", none, "", true, true, -1, -1);
    // The version box has two lines: it reaches up into the free space above its row.
    row("Label1", "QLabel", client, twips(5280, 150, 1095, 465), "Version/SN:", none, "", true, true, -1, -1);
    row("lblVersion", "QLabel", client, twips(6480, 150, 2175, 465), "", none, "", true, true, -1, -1);
    row("Label3", "QLabel", client, twips(5280, 720, 1095, 255), "Status:", none, "", true, true, -1, -1);
    row("lblStatus", "QLabel", client, twips(6480, 720, 2175, 255), "", none, "", true, true, -1, -1);
    row("Label4", "QLabel", client, twips(5280, 1080, 1095, 255), "Card Capacity:", none, "", true, true, -1, -1);
    row("lblCapacity", "QLabel", client, twips(6480, 1080, 2175, 255), "", none,
        "Card capacity in KiBytes (Kibibyte = 1024 bytes)", true, true, -1, -1);
    row("Label5", "QLabel", client, twips(5280, 1440, 1095, 255), "Free Space:", none, "", true, true, -1, -1);
    row("lblFreeSpace", "QLabel", client, twips(6480, 1440, 2175, 255), "", none,
        "Free space in KiBytes (Kibibyte = 1024 bytes)", true, true, -1, -1);
    row("Picture1", "QLabel", client, twips(6360, 5520, 2295, 2895), "", none, "", true, true, -1, -1);

    // PC COM Settings
    const QString pc = "frmPCCOM";
    row("Label20", "QLabel", pc, twips(120, 240, 855, 255), "COM Port", none, "", true, true, -1, -1);
    row("lstPCCOM", "QComboBox", pc, twips(120, 480, 1695, 315), "", {"COM1"}, "", true, true, -1, -1);
    row("Label21", "QLabel", pc, twips(1920, 240, 615, 255), "Bit Rate", none, "", true, true, -1, -1);
    row("lstPCBPS", "QComboBox", pc, twips(1920, 480, 1815, 315), "", BitRates, "", true, true, -1, -1);
    row("cmdOpenCOM", "QPushButton", pc, twips(3960, 480, 735, 375), "Open", none, "", true, true, -1, -1);
    row("chkAutoBitRate", "QCheckBox", pc, twips(1920, 840, 2055, 255), "Auto Bit Rate Detection", none,
        "If checked, all baud rates will be checked to determine what baud rate the connected Kavo is set to respond to.",
        true, true, -1, 1);

    // Kavo Serial Control Settings
    const QString se = "frmSerial";
    row("Label16", "QLabel", se, twips(120, 360, 735, 255), "Bit Rate:", none, "", true, true, -1, -1);
    row("lstKAVOBPS", "QComboBox", se, twips(1080, 360, 1815, 315), "", BitRates, "", true, true, -1, -1);
    row("outKAVOBPS", "QLabel", se, twips(3240, 360, 1215, 255), "", none, "", true, true, -1, -1);
    row("Label17", "QLabel", se, twips(120, 840, 1095, 255), "Write Timeout:", none, "", true, true, -1, -1);
    row("txtWriteTimeout", "QLineEdit", se, twips(1320, 840, 615, 285), "", none,
        "0  = No write time-out, 1 to 254 = 10 to 2540 milliseconds", true, true, -1, -1);
    row("vscWriteTimeout", "QScrollBar", se, twips(1920, 840, 255, 375), "", none, "", true, true, 254, 254);
    row("outWriteTimeout", "QLabel", se, twips(3240, 840, 1215, 255), "", none, "", true, true, -1, -1);

    // Kavo Input Control Settings
    const QString in = "frmInput";
    row("Label18", "QLabel", in, twips(120, 360, 855, 255), "Input Style:", none, "", true, true, -1, -1);
    row("lstInputStyle", "QComboBox", in, twips(1080, 360, 1815, 315), "",
        {"No Input Style", "8 Switch Input", "7 Bit Input"}, "", true, true, -1, -1);
    row("outInputStyle", "QLabel", in, twips(3240, 360, 1215, 255), "", none, "", true, true, -1, -1);
    row("Label19", "QLabel", in, twips(120, 840, 1935, 255), "Input File Number Offset:", none, "", true, true, -1, -1);
    // The file offset's box and spinner stand clear of their caption's colon.
    row("txtFileOffset", "QLineEdit", in, twips(2040, 840, 735, 285), "", none, "", true, true, -1, -1);
    row("vscFileOffset", "QScrollBar", in, twips(2760, 840, 255, 375), "", none, "", true, true, 32767, 32767);
    row("outFileOffset", "QLabel", in, twips(3240, 840, 1215, 255), "", none, "", true, true, -1, -1);
    row("chkBusyIndicator", "QCheckBox", in, twips(120, 1320, 2535, 255), "Hardware Busy Indicator:", none, "",
        true, true, -1, 0);
    row("outBusyIndicator", "QLabel", in, twips(3240, 1320, 1215, 255), "", none, "", true, true, -1, -1);

    // Kavo Audio Settings
    const QString au = "frmAudio";
    const QString volumeTip = "0 = Loudest, 254 = Off";
    row("Label10", "QLabel", au, twips(1080, 240, 735, 255), "Left", none, "", true, true, -1, -1);
    row("Label11", "QLabel", au, twips(2040, 240, 735, 255), "Right", none, "", true, true, -1, -1);
    row("Label2", "QLabel", au, twips(120, 480, 975, 255), "Volume:", none, "", true, true, -1, -1);
    row("txtVolumeL", "QLineEdit", au, twips(1080, 480, 615, 285), "", none, volumeTip, true, true, -1, -1);
    row("vscVolumeL", "QScrollBar", au, twips(1680, 480, 255, 375), "", none, "", true, true, 254, 0);
    row("txtVolumeR", "QLineEdit", au, twips(2040, 480, 615, 285), "", none, volumeTip, true, true, -1, -1);
    row("vscVolumeR", "QScrollBar", au, twips(2640, 480, 255, 375), "", none, "", false, true, 254, 0);
    row("outVolume", "QLabel", au, twips(3240, 480, 1215, 255), "", none, "", true, true, -1, -1);
    row("chkVolumeLocked", "QCheckBox", au, twips(2040, 840, 1095, 255), "Same as L", none,
        "If checked, the Right value is set the same as the Left value", true, true, -1, 1);
    row("Label12", "QLabel", au, twips(120, 1200, 975, 255), "Loop Count:", none, "", true, true, -1, -1);
    row("txtLoopCount", "QLineEdit", au, twips(1080, 1200, 615, 285), "", none,
        "0 = Infinite, 1 = Single, 2 through 254 = Number of times a file will be repeated", true, true, -1, -1);
    row("vscLoopCount", "QScrollBar", au, twips(1680, 1200, 255, 375), "", none, "", true, true, 254, 254);
    row("outLoopCount", "QLabel", au, twips(3240, 1200, 1215, 255), "", none, "", true, true, -1, -1);
    row("Label14", "QLabel", au, twips(1320, 1680, 855, 255), "Freq (Hz)", none, "", true, true, -1, -1);
    row("Label15", "QLabel", au, twips(2280, 1680, 855, 255), "Boost (dB)", none, "", true, true, -1, -1);
    row("chkBassBoost", "QCheckBox", au, twips(120, 1920, 1215, 255), "Bass Boost:", none, "", true, true, -1, 0);
    row("txtBBFreq", "QLineEdit", au, twips(1320, 1920, 615, 285), "", none,
        "Frequency around which the boost occurs (0 to 150 Hz, in steps of 10).", true, true, -1, -1);
    row("vscBBFreq", "QScrollBar", au, twips(1920, 1920, 255, 375), "", none, "", true, true, 15, 15);
    row("txtBBBoost", "QLineEdit", au, twips(2280, 1920, 615, 285), "", none, "Boost amount in dB (0 to 15)",
        true, true, -1, -1);
    row("vscBBBoost", "QScrollBar", au, twips(2880, 1920, 255, 375), "", none, "", true, true, 15, 15);
    row("outBassBoost", "QLabel", au, twips(3240, 1920, 1215, 255), "", none, "", true, true, -1, -1);
    row("chkUninterrupted", "QCheckBox", au, twips(120, 2400, 2775, 255), "Uninterrupted Playback:", none,
        "If checked, a sound triggered by one of the input modes will not stop until it is finished.",
        true, true, -1, 0);
    row("outUninterrupted", "QLabel", au, twips(3240, 2400, 1215, 255), "", none, "", true, true, -1, -1);

    // Kavo Play Test
    const QString te = "frmTest";
    row("cmdPlayTest", "QPushButton", te, twips(1200, 360, 855, 375), "Play", none, "", false, true, -1, -1);
    row("pbUploadFile", "QProgressBar", te, twips(120, 960, 3015, 255), "", none, "", true, false, 100, 0);
}

void tst_Window::controls()
{
    QFETCH(QString, kind);
    QFETCH(QString, container);
    QFETCH(QRect, place);
    QFETCH(QString, text);
    QFETCH(QStringList, items);
    QFETCH(QString, toolTip);
    QFETCH(bool, enabled);
    QFETCH(bool, visible);
    QFETCH(int, maximum);
    QFETCH(int, value);

    const QString name = QString::fromLatin1(QTest::currentDataTag());
    auto *w = m_window->findChild<QWidget *>(name);
    QVERIFY2(w, qPrintable(name));
    QCOMPARE(w->metaObject()->className(), kind);
    QCOMPARE(w->parentWidget()->objectName(), container);
    QCOMPARE(w->geometry(), place);
    QCOMPARE(textOf(w), text);
    QCOMPARE(itemsOf(w), items);
    QCOMPARE(w->toolTip(), toolTip);
    QCOMPARE(w->isEnabled(), enabled);
    QCOMPARE(w->isVisibleTo(m_window.get()), visible);
    QCOMPARE(maximumOf(w), maximum);
    QCOMPARE(valueOf(w), value);
    if (auto *list = qobject_cast<QComboBox *>(w))
        QVERIFY2(!list->isEditable(), "a drop-down list allows no typing");
    // Numbers can be typed; the right channel's box follows the left one while "Same as L"
    // is checked, as it is at start.
    if (auto *box = qobject_cast<QLineEdit *>(w))
        QCOMPARE(box->isReadOnly(), name == "txtVolumeR");
    if (auto *bar = qobject_cast<QScrollBar *>(w)) {
        QCOMPARE(bar->orientation(), Qt::Vertical);
        QCOMPARE(bar->minimum(), 0);
    }
}

void tst_Window::scrollBarSteps()
{
    // An arrow moves a spinner by one, Page Up and Page Down by a page step.
    const QHash<QString, int> pageSteps = {{"vscWriteTimeout", 10}, {"vscFileOffset", 1000}, {"vscVolumeL", 10},
                                           {"vscVolumeR", 10}, {"vscLoopCount", 10}, {"vscBBFreq", 5},
                                           {"vscBBBoost", 5}};
    const auto bars = m_window->findChildren<QScrollBar *>();
    QCOMPARE(bars.size(), 7);
    for (QScrollBar *bar : bars) {
        QVERIFY2(pageSteps.contains(bar->objectName()), qPrintable(bar->objectName()));
        QCOMPARE(bar->singleStep(), 1);
        QCOMPARE(bar->pageStep(), pageSteps.value(bar->objectName()));
    }
}

void tst_Window::window()
{
    QCOMPARE(m_window->objectName(), QString("frmSerialData"));
    QCOMPARE(m_window->windowTitle(), QString("Kavo Configuration Tool"));
    QVERIFY(!m_window->windowIcon().isNull());
    QCOMPARE(m_window->centralWidget()->objectName(), QString("clientArea"));
    // The client area holds the controls above the status bar: 8790 x 8835 twips in all.
    QCOMPARE(m_window->centralWidget()->width(), 8790 / 15);
    QCOMPARE(m_window->centralWidget()->height() + m_window->statusBar()->height(), 8835 / 15);
    QCOMPARE(m_window->font().pointSize(), 8);
    // No port is open at start: the status line names none, the button offers Open, and
    // the module has heard nothing.
    WindowDriver window(m_window.get());
    QVERIFY(window.text("StatusPanel1").isEmpty());
    QVERIFY(window.text("StatusPanel2").isEmpty());
    QCOMPARE(window.text("cmdOpenCOM"), QString("Open"));
    QVERIFY(m_sim.commands().isEmpty());
}

void tst_Window::menus()
{
    const auto menus = m_window->menuBar()->actions();
    QCOMPARE(menus.size(), 2);
    using Items = QList<QPair<QString, QString>>;   // object name, caption; empty: a separator
    const struct { const char *name, *caption; Items items; } expected[] = {
        {"mnuFile", "File",
         {{"mnuFileOpenSettings", "Open Settings..."},
          {"mnuFileSaveSettings", "Save Settings..."},
          {"mnuFileTraffic", "Traffic..."},
          {},
          {"mnuFileExit", "Exit"}}},
        {"mnuHelp", "Help", {{"mnuAbout", "About"}}},
    };
    for (int i = 0; i < 2; ++i) {
        auto *menu = m_window->findChild<QMenu *>(expected[i].name);
        QVERIFY2(menu, expected[i].name);
        QCOMPARE(menus[i], menu->menuAction());
        QCOMPARE(menu->title(), QString(expected[i].caption));
        QVERIFY(!menu->title().contains('&'));
        const auto items = menu->actions();
        QCOMPARE(items.size(), expected[i].items.size());
        for (qsizetype k = 0; k < items.size(); ++k) {
            if (expected[i].items[k].first.isEmpty()) {
                QVERIFY(items[k]->isSeparator());
                continue;
            }
            QCOMPARE(items[k]->objectName(), expected[i].items[k].first);
            QCOMPARE(items[k]->text(), expected[i].items[k].second);
            // Ctrl+O and Ctrl+S open and save settings files, Ctrl+T shows the traffic; no
            // other item has a key, and none a mnemonic.
            const QString name = items[k]->objectName();
            const QKeySequence key = name == QStringLiteral("mnuFileOpenSettings")   ? QKeySequence(QKeySequence::Open)
                                     : name == QStringLiteral("mnuFileSaveSettings") ? QKeySequence(QKeySequence::Save)
                                     : name == QStringLiteral("mnuFileTraffic")      ? QKeySequence(Qt::CTRL | Qt::Key_T)
                                                                                      : QKeySequence();
            QCOMPARE(items[k]->shortcut(), key);
            QVERIFY(!items[k]->text().contains('&'));
        }
    }
    // Nothing to save before the settings are there.
    WindowDriver window(m_window.get());
    QVERIFY(!window.action("mnuFileSaveSettings")->isEnabled());

    // The keys work from the window: Ctrl+O asks for a settings file to open (given none,
    // nothing changes), Ctrl+S does nothing while there is nothing to save.
    QList<bool> asked;   // forSaving, for each file dialog
    m_window->setFileDialogForTesting([&asked](bool forSaving) {
        asked << forSaving;
        return QString();
    });
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    QTest::keyClick(m_window.get(), Qt::Key_S, Qt::ControlModifier);
    QTest::keyClick(m_window.get(), Qt::Key_O, Qt::ControlModifier);
    QTRY_COMPARE(asked, QList<bool>{false});
    m_window->setFileDialogForTesting({});
    QVERIFY(window.text("outLoopCount").isEmpty());
}

void tst_Window::statusBar()
{
    QStatusBar *bar = m_window->statusBar();
    QCOMPARE(bar->objectName(), QString("StatusBar1"));
    QCOMPARE(bar->width(), m_window->width());
    QCOMPARE(bar->geometry().bottom(), m_window->rect().bottom());
    // Whole at the window's bottom: the bar inside the window, each panel inside the bar and
    // high enough for a line of text.
    QVERIFY(m_window->rect().contains(bar->geometry()));
    const QList<QLabel *> panel = statusPanels(m_window.get());
    for (QLabel *p : panel) {
        QVERIFY(p);
        QCOMPARE(p->parentWidget(), bar);
        QVERIFY2(bar->rect().contains(p->geometry()), qPrintable(p->objectName()));
        QVERIFY2(labelTextArea(p).height() >= p->fontMetrics().height(), qPrintable(p->objectName()));
    }
    const auto panels = bar->findChildren<QLabel *>(Qt::FindDirectChildrenOnly);
    QCOMPARE(panels.size(), 3);
    QCOMPARE(panel[0]->width(), 600 / 15);
    QCOMPARE(panel[1]->width(), 1200 / 15);
    // The third panel takes the rest of the width, and they sit left to right.
    QVERIFY(panel[2]->width() > bar->width() / 2);
    for (int i = 0; i < 3; ++i) {
        QVERIFY(panel[i]->text().isEmpty());
        QCOMPARE(panel[i]->textFormat(), Qt::PlainText);
        if (i > 0)
            QVERIFY(panel[i]->x() > panel[i - 1]->x());
    }
}

void tst_Window::timers()
{
    // tmrStartSeq was started by Form_Load; a fresh window shows the designed state.
    frmSerialData fresh;
    auto *startSeq = fresh.findChild<QTimer *>(QStringLiteral("tmrStartSeq"));
    QVERIFY(startSeq);
    QCOMPARE(startSeq->interval(), 300);
    QVERIFY(!startSeq->isActive());
}

void tst_Window::volumeBoxes()
{
    WindowDriver window(m_window.get());
    for (const char *name : {"txtVolumeL", "txtVolumeR"}) {
        auto *box = window.find<QLineEdit>(name);
        QVERIFY2(box, name);
        QVERIFY(box->font().bold());
        QCOMPARE(box->palette().color(QPalette::Text), QColor(192, 0, 0));
    }
    for (const char *name : {"txtWriteTimeout", "txtLoopCount"})
        QVERIFY(!window.find<QLineEdit>(name)->font().bold());
}

void tst_Window::focusOrder()
{
    const QStringList designed = {
        "lstPCCOM", "lstPCBPS", "chkAutoBitRate", "cmdOpenCOM", "cmdReadSettings", "cmdWriteSettings",
        "lstKAVOBPS", "vscWriteTimeout", "lstInputStyle", "vscFileOffset", "chkBusyIndicator",
        "vscVolumeL", "vscVolumeR", "chkVolumeLocked", "vscLoopCount", "chkBassBoost", "vscBBFreq",
        "vscBBBoost", "chkUninterrupted", "cmdPlayTest"};
    const QStringList numberBoxes = {"txtWriteTimeout", "txtFileOffset", "txtVolumeL", "txtVolumeR",
                                     "txtLoopCount", "txtBBFreq", "txtBBBoost"};

    // Walk the focus chain from the first control, keeping the widgets that take focus.
    QStringList chain;
    QWidget *first = m_window->findChild<QWidget *>(QStringLiteral("lstPCCOM"));
    QVERIFY(first);
    QWidget *w = first;
    do {
        if (w->focusPolicy() & Qt::TabFocus)
            chain << w->objectName();
        w = w->nextInFocusChain();
    } while (w != first && chain.size() < 200);

    QCOMPARE(chain.mid(0, designed.size()), designed);
    QStringList rest = chain.mid(designed.size());
    std::sort(rest.begin(), rest.end());
    QStringList sortedBoxes = numberBoxes;
    std::sort(sortedBoxes.begin(), sortedBoxes.end());
    QCOMPARE(rest, sortedBoxes);

    // Labels and frames take no focus from the keyboard (the version and card boxes take
    // it from a click, for copying their text).
    for (QLabel *label : m_window->findChildren<QLabel *>())
        QVERIFY2(!(label->focusPolicy() & Qt::TabFocus), qPrintable(label->objectName()));
    for (QGroupBox *frame : m_window->findChildren<QGroupBox *>())
        QCOMPARE(frame->focusPolicy(), Qt::NoFocus);
}

void tst_Window::startRaisesNoHandler()
{
    // A second window through the program's own start-up: nothing in it is filled in, and
    // nothing goes over the line.
    const int logged = m_sim.log().size();
    auto w = openWindow();
    QVERIFY(w);
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    WindowDriver window(w.get());
    auto *startSeq = w->findChild<QTimer *>(QStringLiteral("tmrStartSeq"));
    QVERIFY(startSeq);
    QTRY_VERIFY_WITH_TIMEOUT(!startSeq->isActive(), 10000);

    for (QLineEdit *box : w->findChildren<QLineEdit *>())
        QVERIFY2(box->text().isEmpty(), qPrintable(box->objectName()));
    for (QLabel *label : w->findChildren<QLabel *>()) {
        const QString name = label->objectName();
        if (name.startsWith("out") || name.startsWith("lbl") || name.startsWith("StatusPanel"))
            QVERIFY2(label->text().isEmpty(), qPrintable(name));
    }
    for (QComboBox *list : w->findChildren<QComboBox *>())
        QCOMPARE(list->currentIndex(), -1);
    QVERIFY(!window.enabled("vscVolumeR"));
    QCOMPARE(window.text("cmdOpenCOM"), QString("Open"));
    QCOMPARE(m_sim.log().size(), logged);
}

void tst_Window::valueBoxesArePlainText_data()
{
    QTest::addColumn<QString>("name");
    for (const char *name : {"lblVersion", "lblStatus", "lblCapacity", "lblFreeSpace", "outKAVOBPS", "outWriteTimeout",
                             "outInputStyle", "outFileOffset", "outBusyIndicator", "outVolume", "outLoopCount",
                             "outBassBoost", "outUninterrupted", "Label23"})
        QTest::newRow(name) << QString(name);
}

void tst_Window::valueBoxesArePlainText()
{
    QFETCH(QString, name);
    auto *label = m_window->findChild<QLabel *>(name);
    QVERIFY(label);
    QCOMPARE(label->textFormat(), Qt::PlainText);
    QCOMPARE(label->frameShape() == QFrame::NoFrame, false);
    const QString before = label->text();
    label->setText("<b>x</b>");
    QCOMPARE(label->text(), QString("<b>x</b>"));
    // Shown literally: the label needs room for the tags, not only for a bold x.
    QVERIFY(label->sizeHint().width() > label->fontMetrics().horizontalAdvance("x") * 4);
    label->setText(before);
    if (name.startsWith("out") || name == "Label23") {
        QCOMPARE(label->palette().color(QPalette::Window), QColor(Qt::white));
        QCOMPARE(label->palette().color(QPalette::WindowText), QColor(Qt::black));
        QVERIFY(label->autoFillBackground());
    }
}

// Every caption fits its designed place, and no frame's title runs into what the frame holds.
void tst_Window::layoutReadable()
{
    QStringList cramped;
    for (QWidget *w : m_window->centralWidget()->findChildren<QWidget *>()) {
        if (w->objectName().isEmpty() || !w->isVisibleTo(m_window.get()) || textOf(w).isEmpty())
            continue;
        int needed = 0;
        if (qobject_cast<QPushButton *>(w))
            needed = w->fontMetrics().horizontalAdvance(textOf(w)) + 8;   // buttons ask for more than they need
        else if (qobject_cast<QCheckBox *>(w))
            needed = w->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, w)
                     + w->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, w)
                     + w->fontMetrics().horizontalAdvance(textOf(w));
        else if (qobject_cast<QLabel *>(w))
            needed = w->sizeHint().width();
        if (needed > w->width())
            cramped << QString("%1 needs %2 pixels, has %3").arg(w->objectName()).arg(needed).arg(w->width());
        if (w->fontMetrics().height() > w->height())
            cramped << QString("%1 is lower than its text").arg(w->objectName());
    }
    for (QGroupBox *frame : m_window->findChildren<QGroupBox *>()) {
        QStyleOptionGroupBox option;
        option.initFrom(frame);
        option.text = frame->title();
        option.lineWidth = 1;
        option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        const QRect title = frame->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, frame);
        for (QWidget *child : frame->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            if (title.intersects(child->geometry()))
                cramped << QString("the title of %1 covers %2").arg(frame->objectName(), child->objectName());
    }
    QVERIFY2(cramped.isEmpty(), qPrintable(cramped.join("; ")));

    // The icon and the logo are there.
    QVERIFY(!m_window->windowIcon().pixmap(32, 32).isNull());
    auto *logo = m_window->findChild<QLabel *>(QStringLiteral("Picture1"));
    QVERIFY(logo);
    QCOMPARE(logo->pixmap().size(), QSize(150, 200));
}

// Each text a control shows, at the window's font, lies whole inside the control's text
// area and clear of every neighbour (a sibling control it would run into or under).
void tst_Window::captionsClear_data()
{
    QTest::addColumn<QString>("name");
    QList<QWidget *> controls = m_window->centralWidget()->findChildren<QWidget *>();
    for (QLabel *panel : statusPanels(m_window.get()))
        controls << panel;
    for (QWidget *w : controls) {
        int flags = 0;
        if (w->objectName().isEmpty() || !w->isVisibleTo(m_window.get()) || textsShownBy(w).isEmpty()
            || textArea(w, &flags).isNull())
            continue;
        QTest::newRow(qPrintable(w->objectName())) << w->objectName();
    }
}

void tst_Window::captionsClear()
{
    QFETCH(QString, name);
    QWidget *w = m_window->findChild<QWidget *>(name);
    QVERIFY(w);
    // The designed font: the system's sans-serif at 8 points, semi-condensed.
    QCOMPARE(w->font().pointSize(), 8);
    QCOMPARE(w->font().stretch(), int(QFont::SemiCondensed));

    int flags = 0;
    const QRect area = textArea(w, &flags);
    const bool isFrame = qobject_cast<QGroupBox *>(w) != nullptr;
    QStringList problems;
    for (const QString &text : textsShownBy(w)) {
        const QRect r = textRect(w, text);
        if (isFrame ? !w->rect().contains(r) : !area.contains(r))
            problems << QString("'%1' needs %2x%3 at (%4,%5), the text area is %6x%7 at (%8,%9)")
                            .arg(text).arg(r.width()).arg(r.height()).arg(r.x()).arg(r.y())
                            .arg(area.width()).arg(area.height()).arg(area.x()).arg(area.y());
        const QRect inParent = r.translated(w->pos());
        for (QWidget *sibling : w->parentWidget()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            if (sibling == w || !sibling->isVisibleTo(m_window.get()))
                continue;
            if (inParent.intersects(sibling->geometry()))
                problems << QString("'%1' runs into %2").arg(text, sibling->objectName());
        }
        if (isFrame)
            for (QWidget *child : w->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
                if (child->isVisibleTo(m_window.get()) && r.intersects(child->geometry()))
                    problems << QString("the title covers %1").arg(child->objectName());
    }
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join("; ")));
}

// A status text that does not fit its panel is there whole as the panel's tool-tip; one
// that fits has none. The texts come as the user brings them onto the status line, each
// step in a fresh window that is not connected: "BOX=TEXT" types TEXT into a number box
// and presses Enter, "open=NAME" opens a good settings file of that name with File > Open
// Settings..., "logo" clicks the maker's logo where no browser takes the address.
void tst_Window::statusPanelToolTips_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("texts");   // the status line after each step
    QTest::addColumn<bool>("tip");            // whether the last one needs a tool-tip

    const QString wide = "txtBBFreq=" + QString(20, QChar('W'));
    const QString refused = "Bass Boost Frequency: '" + QString(20, QChar('W'))
                            + "' is not a number (0 to 150 Hz in steps of 10)";
    const QString out = "txtLoopCount=300";
    const QString outOfRange = "Loop Count: 300 is out of range (0 to 254)";
    const QString name = QString(120, QChar('x')) + ".kavo";
    const QString opened = "Settings opened from " + name
                           + "; Open keeps them for the Kavo it finds, then press Write to store them";
    const QString noBrowser = "Could not open https://www.kavo-modules.example/: no web browser is set up on this computer.";

    QTest::newRow("short") << QStringList{out} << QStringList{outOfRange} << false;
    QTest::newRow("long") << QStringList{wide} << QStringList{refused} << true;
    QTest::newRow("long, then short") << QStringList{wide, out} << QStringList{refused, outOfRange} << false;
    QTest::newRow("short, then long") << QStringList{out, wide} << QStringList{outOfRange, refused} << true;
    QTest::newRow("a word wider than the panel") << QStringList{"open=" + name} << QStringList{opened} << true;
    QTest::newRow("the logo with no browser") << QStringList{"logo"} << QStringList{noBrowser} << true;
    // A good number takes the refusal off the status line.
    QTest::newRow("empty") << QStringList{wide, "txtBBFreq=50"} << QStringList{refused, QString()} << false;
}

void tst_Window::statusPanelToolTips()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, texts);
    QFETCH(bool, tip);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    auto w = openWindow();
    QVERIFY(w);
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    WindowDriver window(w.get());
    QString chosen;
    w->setFileDialogForTesting([&chosen](bool) { return chosen; });
    // A handler that cannot take the address: the address is not opened.
    QObject noBrowser;
    QDesktopServices::setUrlHandler("https", &noBrowser, "missingHandler");
    QDesktopServices::setUrlHandler("http", &noBrowser, "missingHandler");
    const auto removeHandlers = qScopeGuard([] {
        QDesktopServices::unsetUrlHandler("https");
        QDesktopServices::unsetUrlHandler("http");
    });

    for (qsizetype i = 0; i < steps.size(); ++i) {
        const QString &step = steps[i];
        if (step == "logo") {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("missingHandler"));
            auto *logo = window.find<QLabel>("Picture1");
            QTest::mouseClick(logo, Qt::LeftButton, {}, logo->rect().center());
        } else if (step.startsWith("open=")) {
            chosen = folder.filePath(step.mid(5));
            QVERIFY(writeSettingsFile(chosen));
            QVERIFY(window.trigger("mnuFileOpenSettings"));
        } else {
            const QString box = step.section('=', 0, 0);
            QVERIFY(window.type(box, step.section('=', 1)));
        }
        QTRY_COMPARE(window.status(), texts[i]);
    }
    QLabel *panel = window.find<QLabel>("StatusPanel3");
    const QString last = texts.last();
    QCOMPARE(panel->toolTip(), tip ? last : QString());
    // The tool-tip is there exactly when the panel cannot show the whole text.
    QCOMPARE(labelTextArea(panel).contains(textRect(panel, last)), !tip);
    // Nothing is open: the other panels are empty and need none.
    for (const char *name : {"StatusPanel1", "StatusPanel2"}) {
        QVERIFY(window.text(name).isEmpty());
        QVERIFY(window.toolTip(name).isEmpty());
    }
}

// The version box shows the module's whole reply (up to 40 characters, on two lines when
// it needs them); a longer one is there whole as the box's tool-tip. The next Open clears
// the box and its tool-tip before it looks for a module.
void tst_Window::versionBoxShowsWhole_data()
{
    QTest::addColumn<QStringList>("options");   // of the simulated module
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("whole");
    const auto version = [](const QString &reply) { return QStringList{"--reply", "V=" + reply + ">"}; };
    QTest::newRow("the usual reply") << QStringList() << "Kavo v2.07KAV1 SN 00012345" << true;
    QTest::newRow("40 characters, long serial number")
        << QStringList{"--serial", "0001234567890123456789"} << "Kavo v2.07KAV1 SN 0001234567890123456789" << true;
    QTest::newRow("40 characters, long identity") << QStringList{"--identity", "KAV1ABCDEFGH", "--serial", "00123456789012"}
                                                  << "Kavo v2.07KAV1ABCDEFGH SN 00123456789012" << true;
    QTest::newRow("40 characters, letters in the serial")
        << QStringList{"--serial", "2024ABC0012345XYZ0001"} << "Kavo v2.07KAV1 SN 2024ABC0012345XYZ0001" << true;
    QTest::newRow("short") << version("Kavo v2.07KAV1") << "Kavo v2.07KAV1" << true;
    const QString sixty = "Kavo v2.07KAV1 SN 0001234567890123456789 and twenty more char";
    QTest::newRow("60 characters") << version(sixty) << sixty << false;
}

void tst_Window::versionBoxShowsWhole()
{
    QFETCH(QStringList, options);
    QFETCH(QString, reply);
    QFETCH(bool, whole);
    KavoSim sim;
    QVERIFY(sim.start(options));
    MessageBoxes boxes;
    auto w = openWindow();
    QVERIFY(w);
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    WindowDriver window(w.get());
    QVERIFY(connectTo(window, sim));
    QVERIFY(boxes.seen.isEmpty());

    auto *box = window.find<QLabel>("lblVersion");
    QCOMPARE(box->text(), reply);
    QCOMPARE(labelTextArea(box).contains(textRect(box, reply)), whole);
    QCOMPARE(box->toolTip(), whole ? QString() : reply);

    // Closed, the box keeps the reply; the module gone, the next Open clears it and finds
    // nothing to show.
    QVERIFY(window.click("cmdOpenCOM"));
    QCOMPARE(box->text(), reply);
    sim.terminate();
    QVERIFY(window.click("cmdOpenCOM"));
    QVERIFY(!window.connected());
    QVERIFY(box->text().isEmpty());
    QVERIFY(box->toolTip().isEmpty());
}

// The version and the card boxes let the user select their text and copy it; they still
// take no place in the Tab order.
void tst_Window::valueBoxesSelectable_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("options");   // of the simulated module
    QTest::addColumn<QString>("text");
    QTest::newRow("lblVersion") << "lblVersion" << QStringList{"--serial", "0001234567890123456789"}
                                << "Kavo v2.07KAV1 SN 0001234567890123456789";
    QTest::newRow("lblStatus") << "lblStatus" << QStringList{"--no-card"} << "E08";
    QTest::newRow("lblCapacity") << "lblCapacity" << QStringList() << "1998848";
    // An empty card of that capacity has all of it free.
    QTest::newRow("lblFreeSpace") << "lblFreeSpace" << QStringList{"--capacity", "1997312"} << "1997312";
}

void tst_Window::valueBoxesSelectable()
{
    QFETCH(QString, name);
    QFETCH(QStringList, options);
    QFETCH(QString, text);
    KavoSim sim;
    QVERIFY(sim.start(options));
    MessageBoxes boxes;
    auto w = openWindow();
    QVERIFY(w);
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    WindowDriver window(w.get());
    auto *box = window.find<QLabel>(name);
    QVERIFY(box);
    QVERIFY(box->textInteractionFlags() & Qt::TextSelectableByMouse);
    QVERIFY(!(box->focusPolicy() & Qt::TabFocus));
    QCOMPARE(box->textFormat(), Qt::PlainText);
    // What the module told, once connected.
    QVERIFY(connectTo(window, sim));
    QCOMPARE(box->text(), text);
    QVERIFY(QTest::qWaitForWindowActive(w.get()));

    // Dragging across the text selects it ...
    const QRect r = textRect(box, text);
    const QPoint from(r.left() - 2, r.top() + 3);
    const QPoint to(r.right() + 2, r.bottom() - 3);
    QTest::mousePress(box, Qt::LeftButton, Qt::NoModifier, from);
    QMouseEvent move(QEvent::MouseMove, QPointF(to), box->mapToGlobal(QPointF(to)), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(box, &move);
    QTest::mouseRelease(box, Qt::LeftButton, Qt::NoModifier, to);
    QCOMPARE(box->selectedText(), text);
    // ... and Ctrl+C copies it.
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), text);
}

// Every message box stays within the screen: long lines wrap, a very long word wraps
// anywhere, a text taller than the screen allows scrolls. The box keeps its plain text.
// The boxes come as the user brings them up in a fresh window: Open with no port chosen,
// Help > About, File > Open Settings... given a file that is not there (the box names it
// whole: the path carries the long texts), and the question before settings changed in the
// window are replaced by a file's (its name carries many lines).
void tst_Window::messageBoxWithinScreen_data()
{
    QTest::addColumn<QString>("action");   // "open", "about", "open a file" or "replace edits"
    QTest::addColumn<QString>("path");     // the file, in a folder of the test's own
    QTest::addColumn<bool>("scrolls");
    QString lines;
    for (int i = 1; i <= 200; ++i)
        lines += QString("Line %1 of a long list\r\n").arg(i);
    QString name;   // as many short lines as a file name holds
    for (int i = 1; i <= 60; ++i)
        name += QString("%1\n").arg(i);
    const QString sentence = "a rather long sentence, ";
    QTest::newRow("short") << "open" << QString() << false;
    QTest::newRow("four lines") << "about" << QString() << false;
    QTest::newRow("long line") << "open a file" << sentence.repeated(30) << false;
    QTest::newRow("very long line") << "open a file" << sentence.repeated(300) << true;
    QTest::newRow("one long word") << "open a file" << QString("folder").repeated(150) << false;
    QTest::newRow("many lines") << "open a file" << lines << true;
    QTest::newRow("question, many lines") << "replace edits" << name + "kavo" << true;
    QTest::newRow("markup stays text") << "open a file" << "<b>not bold</b> &amp;" << false;
}

void tst_Window::messageBoxWithinScreen()
{
    QFETCH(QString, action);
    QFETCH(QString, path);
    QFETCH(bool, scrolls);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    if (!path.isEmpty())
        path = folder.path() + "/" + path;
    auto w = openWindow();
    QVERIFY(w);
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    WindowDriver window(w.get());
    QString chosen;
    w->setFileDialogForTesting([&chosen](bool) { return chosen; });

    MessageBoxes boxes;
    QRect frame;
    QRect screen;
    QString shown;
    bool scrolled = false;
    bool looked = false;
    // With KAVO_WINDOW_PNG set, each box's picture is kept beside the window's.
    QString keep = qEnvironmentVariable("KAVO_WINDOW_PNG");
    if (!keep.isEmpty())
        keep.replace(".png", QString("-box-%1.png").arg(QString(QTest::currentDataTag()).replace(QRegularExpression("[^a-z]+"), "-")));
    boxes.onShown([&](QMessageBox *box) {
        screen = box->screen()->availableGeometry();
        frame = box->frameGeometry();
        if (!keep.isEmpty())
            box->grab().save(keep, "PNG");
        auto *view = box->findChild<QTextEdit *>();
        if (view) {
            shown = view->toPlainText();
            scrolled = view->verticalScrollBar()->maximum() > 0;
        }
        looked = true;
    });
    if (action == "open") {
        QVERIFY(window.click("cmdOpenCOM"));
    } else if (action == "about") {
        QVERIFY(window.trigger("mnuAbout"));
    } else if (action == "open a file") {
        chosen = path;
        QVERIFY(window.trigger("mnuFileOpenSettings"));
    } else {
        // Settings from a file, changed; then another file would replace them.
        chosen = folder.filePath("first.kavo");
        QVERIFY(writeSettingsFile(chosen));
        QVERIFY(window.trigger("mnuFileOpenSettings"));
        QTRY_COMPARE(window.text("outLoopCount"), QString("ST O 1"));
        QVERIFY(window.type("txtLoopCount", "9"));
        QTRY_COMPARE(window.text("outLoopCount"), QString("ST O 9"));
        QVERIFY(writeSettingsFile(path));
        chosen = path;
        boxes.answer(QMessageBox::Cancel);
        QVERIFY(window.trigger("mnuFileOpenSettings"));
    }
    QTRY_VERIFY(looked);
    QCOMPARE(boxes.seen.size(), 1);
    const QString text = boxes.seen[0].text;
    if (action == "open")
        QCOMPARE(text, QString("Please select a COM port"));
    else if (action == "about")
        QCOMPARE(text.count("\r\n"), 3);
    else
        QVERIFY2(text.contains(action == "replace edits" ? QFileInfo(path).fileName() : path), qPrintable(text));
    if (action == "replace edits")
        QVERIFY(boxes.seen[0].buttons & QMessageBox::Cancel);
    QCOMPARE(boxes.seen[0].format, Qt::PlainText);
    QVERIFY2(frame.width() <= screen.width() && frame.height() <= screen.height(),
             qPrintable(QString("%1x%2 on a screen of %3x%4").arg(frame.width()).arg(frame.height())
                            .arg(screen.width()).arg(screen.height())));
    // Wrapped at half the screen's width at most, as short as the text allows.
    QVERIFY(frame.width() <= screen.width() / 2 + 200);
    QString plain = text;
    plain.replace("\r\n", "\n");
    QCOMPARE(shown, plain);
    QCOMPARE(scrolled, scrolls);
    // Answered, the box is gone and the window as it was.
    QTRY_VERIFY(!window.busy());
    if (action == "replace edits")
        QCOMPARE(window.text("outLoopCount"), QString("ST O 9"));
}

// The picture of the window, for a look against the designed arrangement: set
// KAVO_WINDOW_PNG to a file name to keep it.
void tst_Window::grab()
{
    const QPixmap picture = m_window->grab();
    QCOMPARE(picture.size() / picture.devicePixelRatio(), m_window->size());
    const QString keep = qEnvironmentVariable("KAVO_WINDOW_PNG");
    if (keep.isEmpty())
        return;
    QVERIFY(picture.save(keep, "PNG"));
    qInfo("window saved to %s", qPrintable(keep));

    // And once connected, with every box filled in: a module with a 40-character version
    // reply that refuses three settings on Write, for a status text longer than its panel.
    KavoSim sim;
    QVERIFY(sim.start({"--serial", "0001234567890123456789", "--reply", "ST T 20=E05>", "--reply", "ST O 1=E05>",
                       "--reply", "ST U 0="}));
    MessageBoxes boxes;
    auto w = openWindow();
    QVERIFY(w);
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    WindowDriver window(w.get());
    QVERIFY(connectTo(window, sim));
    QCOMPARE(window.text("lblVersion").size(), 40);
    QVERIFY(window.click("cmdWriteSettings"));
    const QString status = window.status();
    QVERIFY2(status.startsWith("Not stored: Write Time-out"), qPrintable(status));
    QCOMPARE(window.toolTip("StatusPanel3"), status);
    QString connected = keep;
    connected.replace(".png", "-connected.png");
    QVERIFY(w->grab().save(connected, "PNG"));
    qInfo("connected window saved to %s", qPrintable(connected));
}

QTEST_MAIN(tst_Window)
#include "tst_window.moc"
