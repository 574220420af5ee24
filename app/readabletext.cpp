#include "app/readabletext.h"

#include <QFontMetrics>
#include <QLabel>

namespace ReadableText {

namespace {

// Where the label draws its text: its contents less margin and indent. A framed label
// without an indent of its own keeps half an 'x' from the sides its text is aligned to.
QRect textArea(const QLabel *label)
{
    const int margin = label->margin();
    QRect area = label->contentsRect().adjusted(margin, margin, -margin, -margin);
    int indent = label->indent();
    if (indent < 0 && label->frameWidth() > 0)
        indent = label->fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2 - margin;
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

} // namespace

bool fits(const QLabel *label, const QString &text)
{
    if (text.isEmpty())
        return true;
    const QRect area = textArea(label);
    const int flags = int(label->alignment()) | (label->wordWrap() ? int(Qt::TextWordWrap) : 0);
    return area.contains(label->fontMetrics().boundingRect(area, flags, text));
}

void show(QLabel *label, const QString &text)
{
    label->setText(text);
    refit(label);
}

void refit(QLabel *label)
{
    const QString text = label->text();
    label->setToolTip(fits(label, text) ? QString() : text);
}

} // namespace ReadableText
