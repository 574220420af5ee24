// The program's message boxes: OK alone (or Yes and No), no icon, plain text, shown at once
// without waiting for them (what comes after a box runs when it is closed). A box never
// grows past the screen: its text is shown in a view of its own, at most half the screen
// wide, where long lines wrap (at blanks, or anywhere in a word wider than the box) and a
// text taller than half the screen scrolls.
#include "app/frmserialdata.h"

#include <QAbstractButton>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTextEdit>
#include <QTextDocument>
#include <QtMath>
#include <algorithm>

namespace {

QRect screenArea(const QWidget *parent)
{
    const QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 640, 480);
}

// Puts a read-only text view in the place of the box's own label (which keeps the text, so
// the box's text() is the message). The view looks like the label: no frame, the window's
// colours, no margin; its text can be selected with the mouse.
void showWithinScreen(QMessageBox *box, const QString &text, const QRect &screen)
{
    auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
    auto *grid = qobject_cast<QGridLayout *>(box->layout());
    if (!label || !grid)
        return;

    auto *view = new QTextEdit(box);
    view->setObjectName(QStringLiteral("messageText"));
    view->setReadOnly(true);
    view->setTextInteractionFlags(Qt::TextSelectableByMouse);
    view->setFocusPolicy(Qt::NoFocus);
    view->setFrameShape(QFrame::NoFrame);
    view->setLineWrapMode(QTextEdit::WidgetWidth);
    view->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    QPalette pal = view->palette();
    pal.setColor(QPalette::Base, box->palette().color(QPalette::Window));
    pal.setColor(QPalette::Text, box->palette().color(QPalette::WindowText));
    view->setPalette(pal);
    view->document()->setDocumentMargin(0);
    QString plain = text;
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    view->setPlainText(plain);

    // As wide as the longest line, up to half the screen (and no more than 500 pixels);
    // as high as the wrapped text, up to half the screen. Measured on a document of its own
    // with the view's font and wrapping.
    QTextDocument measure;
    measure.setDefaultFont(view->font());
    measure.setDocumentMargin(0);
    QTextOption wrapping = measure.defaultTextOption();
    wrapping.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    measure.setDefaultTextOption(wrapping);
    measure.setPlainText(plain);
    const int widest = std::min(screen.width() / 2, 500);
    // A few pixels more than the text's own width, so that the view does not wrap a line
    // that was measured to fit.
    const int width = std::min(qCeil(measure.idealWidth()) + 4, widest);
    measure.setTextWidth(width);
    const int textHeight = qCeil(measure.size().height()) + 2;
    const int highest = screen.height() / 2;
    if (textHeight > highest) {
        const int bar = view->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, view->verticalScrollBar());
        view->setFixedSize(width + bar, highest);
    } else {
        view->setFixedSize(width, textHeight);
    }

    delete grid->replaceWidget(label, view);
    label->hide();
}

// A box of the program, shown window-modal at once; `answered` gets the button chosen (or
// the escape button's when it is closed otherwise) once it is closed, and the box goes.
void showBox(QWidget *parent, const QString &title, const QString &text, QMessageBox::StandardButtons buttons,
             const std::function<void(QMessageBox *)> &dress, std::function<void(int button)> answered)
{
    auto *box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::NoIcon);
    box->setWindowTitle(title);
    box->setTextFormat(Qt::PlainText);
    box->setText(text);
    box->setStandardButtons(buttons);
    showWithinScreen(box, text, screenArea(parent));
    if (dress)
        dress(box);
    QObject::connect(box, &QMessageBox::finished, box, [box, answered = std::move(answered)](int) {
        QAbstractButton *clicked = box->clickedButton();
        const int button = clicked ? int(box->standardButton(clicked)) : int(QMessageBox::NoButton);
        if (answered)
            answered(button);
    });
    box->open();
}

} // namespace

void frmSerialData::MsgBox(const QString &text, const QString &title, std::function<void()> then)
{
    if (m_closing) {
        if (then)
            then();
        return;
    }
    showBox(this, title, text, QMessageBox::Ok, {}, [then = std::move(then)](int) {
        if (then)
            then();
    });
}

void frmSerialData::showMessages(QStringList messages, std::function<void()> then)
{
    // One after another, then what comes next.
    if (messages.isEmpty() || m_closing) {
        if (then)
            then();
        return;
    }
    const QString first = messages.takeFirst();
    MsgBox(first, QStringLiteral("KavoConfig"), [this, messages, then]() { showMessages(messages, then); });
}

void frmSerialData::AskYesNo(const QString &text, std::function<void(bool yes)> then)
{
    if (m_closing) {
        then(false);
        return;
    }
    showBox(
        this, QStringLiteral("KavoConfig"), text, QMessageBox::Yes | QMessageBox::No,
        [](QMessageBox *box) { box->setDefaultButton(QMessageBox::Yes); },
        [this, then = std::move(then)](int button) { then(button == QMessageBox::Yes && !m_closing); });
}

void frmSerialData::AskAboutEdits(const QString &text, bool offerWrite, bool offerSave, std::function<void(EditsChoice)> then)
{
    if (m_closing) {
        then(EditsChoice::Discard);
        return;
    }
    QMessageBox::StandardButtons buttons = QMessageBox::Discard | QMessageBox::Cancel;
    if (offerWrite)
        buttons |= QMessageBox::Apply;
    if (offerSave)
        buttons |= QMessageBox::Save;
    showBox(
        this, QStringLiteral("KavoConfig"), text, buttons,
        [offerWrite, offerSave](QMessageBox *box) {
            if (offerWrite)
                box->button(QMessageBox::Apply)->setText(QStringLiteral("Write"));
            if (offerSave)
                box->button(QMessageBox::Save)->setText(QStringLiteral("Save Settings..."));
            box->setDefaultButton(QMessageBox::Cancel);
            box->setEscapeButton(QMessageBox::Cancel);
        },
        [then = std::move(then)](int button) {
            switch (button) {
            case QMessageBox::Apply: then(EditsChoice::Write); break;
            case QMessageBox::Save: then(EditsChoice::Save); break;
            case QMessageBox::Discard: then(EditsChoice::Discard); break;
            default: then(EditsChoice::Cancel); break;
            }
        });
}
