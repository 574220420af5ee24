#include "app/trafficwindow.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include "link/tracer.h"
#include "settings/outputfile.h"

TrafficWindow::TrafficWindow(Tracer *tracer, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_tracer(tracer)
    , m_view(new QPlainTextEdit(this))
    , m_save(new QPushButton(QStringLiteral("Save..."), this))
    , m_clear(new QPushButton(QStringLiteral("Clear"), this))
    , m_refresh(new QTimer(this))
{
    setObjectName(QStringLiteral("frmTraffic"));
    setWindowTitle(QStringLiteral("Traffic"));
    m_view->setObjectName(QStringLiteral("txtTraffic"));
    m_view->setReadOnly(true);
    m_view->setLineWrapMode(QPlainTextEdit::NoWrap);
    // A line in view shows the whole exchange; the ring of the tracer bounds what is kept.
    m_view->setMaximumBlockCount(tracer->capacity());
    QFont fixed = m_view->font();
    fixed.setFamily(QStringLiteral("monospace"));
    fixed.setStyleHint(QFont::Monospace);
    m_view->setFont(fixed);
    m_save->setObjectName(QStringLiteral("cmdSaveTraffic"));
    m_clear->setObjectName(QStringLiteral("cmdClearTraffic"));

    auto *legend = new QLabel(QStringLiteral("Time, seconds since the port opened, port, bit rate, S sent / R received / "
                                             "D dropped / * port, bytes"),
                              this);
    legend->setTextFormat(Qt::PlainText);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(legend, 1);
    buttons->addWidget(m_save);
    buttons->addWidget(m_clear);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_view, 1);
    layout->addLayout(buttons);
    resize(720, 360);

    m_refresh->setInterval(RefreshMs);
    connect(m_refresh, &QTimer::timeout, this, &TrafficWindow::takeNew);
    connect(m_save, &QPushButton::clicked, this, &TrafficWindow::save);
    connect(m_clear, &QPushButton::clicked, this, &TrafficWindow::clear);
}

void TrafficWindow::showEvent(QShowEvent *event)
{
    // Everything kept so far, then what is new as it comes.
    m_view->clear();
    m_seen = 0;
    takeNew();
    m_refresh->start();
    QWidget::showEvent(event);
}

void TrafficWindow::hideEvent(QHideEvent *event)
{
    m_refresh->stop();
    QWidget::hideEvent(event);
}

void TrafficWindow::takeNew()
{
    quint64 recorded = 0;
    quint64 lost = 0;
    const QList<TraceEntry> fresh = m_tracer->since(m_seen, &recorded, &lost);
    m_seen = recorded;
    if (fresh.isEmpty())
        return;
    // The view follows the newest line, unless the user scrolled back to read.
    QScrollBar *bar = m_view->verticalScrollBar();
    const bool following = bar->value() >= bar->maximum();
    QByteArray lines;
    lines.reserve(fresh.size() * 64);
    if (lost > 0) {
        // More came between two looks than the ring keeps: say how many are not shown.
        TraceEntry gap = fresh.first();
        gap.kind = TraceEntry::Kind::Missed;
        gap.bytes.clear();
        gap.followed = qint64(lost);
        gap.appendLine(lines);
        lines += '\n';
    }
    for (const TraceEntry &entry : fresh) {
        entry.appendLine(lines);
        lines += '\n';
    }
    lines.chop(1);
    const QString text = QString::fromLatin1(lines);
    const int back = bar->value();
    m_view->appendPlainText(text);
    if (following)
        bar->setValue(bar->maximum());
    else
        bar->setValue(back);
}

void TrafficWindow::save()
{
    if (m_fileDialogForTesting) {
        saveTo(m_fileDialogForTesting());
        return;
    }
    auto *dialog = new QFileDialog(this, QStringLiteral("Save Traffic"), QString(), QStringLiteral("Traffic (*.log *.txt)"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(QStringLiteral("log"));
    connect(dialog, &QFileDialog::fileSelected, this, &TrafficWindow::saveTo);
    dialog->open();
}

void TrafficWindow::saveTo(const QString &path)
{
    if (path.isEmpty())
        return;
    QByteArray text;
    for (const TraceEntry &entry : m_tracer->entries()) {
        entry.appendLine(text);
        text += '\n';
    }
    QString error;
    const std::unique_ptr<OutputFile> file = OutputFile::open(path, &error);
    if (!file || !file->write(text, &error)) {
        auto *box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("KavoConfig"),
                                    QStringLiteral("The traffic was not saved:\r\n%1").arg(error), QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setTextFormat(Qt::PlainText);
        box->open();
    }
}

void TrafficWindow::clear()
{
    m_tracer->clear();
    m_view->clear();
}
