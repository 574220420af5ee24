// The program's message boxes: OK alone (or Yes and No), no icon, plain text.
#include "app/frmserialdata.h"

#include <QMessageBox>

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

void frmSerialData::showMessages(const QStringList &messages)
{
    for (const QString &message : messages)
        MsgBox(message);
}
