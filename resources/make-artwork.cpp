// Draws the program icon and the maker's logo. Not part of the build: make-artwork.sh
// compiles it, runs it once and the resulting PNGs are kept in the repository.
//
// Usage: make-artwork OUTPUT_FOLDER

#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

namespace {

const QColor Navy(0x1d, 0x35, 0x57);
const QColor Teal(0x2a, 0x9d, 0x8f);
const QColor Amber(0xf4, 0xa2, 0x61);
const QColor Paper(0xf8, 0xf9, 0xfa);

// A loudspeaker facing right, drawn inside `box`.
void drawSpeaker(QPainter &p, const QRectF &box, const QColor &colour)
{
    const qreal w = box.width();
    const qreal h = box.height();
    QPainterPath path;
    path.moveTo(box.left(), box.top() + h * 0.32);
    path.lineTo(box.left() + w * 0.30, box.top() + h * 0.32);
    path.lineTo(box.left() + w * 0.75, box.top());
    path.lineTo(box.left() + w * 0.75, box.bottom());
    path.lineTo(box.left() + w * 0.30, box.top() + h * 0.68);
    path.lineTo(box.left(), box.top() + h * 0.68);
    path.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPath(path);
}

// Concentric arcs spreading to the right from `centre`.
void drawWaves(QPainter &p, QPointF centre, qreal firstRadius, qreal step, int count,
               qreal penWidth, const QColor &colour)
{
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(colour, penWidth, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < count; ++i) {
        const qreal r = firstRadius + i * step;
        p.drawArc(QRectF(centre.x() - r, centre.y() - r, 2 * r, 2 * r), -50 * 16, 100 * 16);
    }
}

QImage makeIcon()
{
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    // A rounded card with a soft top-to-bottom shade.
    QLinearGradient shade(0, 0, 0, 32);
    shade.setColorAt(0, Teal.lighter(115));
    shade.setColorAt(1, Teal.darker(115));
    p.setPen(QPen(Navy, 1.5));
    p.setBrush(shade);
    p.drawRoundedRect(QRectF(1.5, 1.5, 29, 29), 6, 6);

    drawSpeaker(p, QRectF(5, 8, 13, 16), Paper);
    drawWaves(p, QPointF(14, 16), 6, 4.5, 2, 2.2, Amber);
    return image;
}

QImage makeLogo()
{
    QImage image(150, 200, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    // The mark: a disc with a loudspeaker and its waves.
    const QPointF discCentre(75, 62);
    p.setPen(Qt::NoPen);
    p.setBrush(Navy);
    p.drawEllipse(discCentre, 44, 44);
    drawSpeaker(p, QRectF(48, 40, 34, 44), Paper);
    drawWaves(p, QPointF(73, 62), 16, 10, 2, 5, Amber);

    // The name.
    QFont name(QStringLiteral("DejaVu Sans"));
    name.setPixelSize(44);
    name.setBold(true);
    p.setFont(name);
    p.setPen(Navy);
    p.drawText(QRectF(0, 110, 150, 50), Qt::AlignCenter, QStringLiteral("Kavo"));

    // A thin rule and the line under it.
    p.setPen(QPen(Teal, 2));
    p.drawLine(QPointF(30, 162), QPointF(120, 162));
    QFont tagline(QStringLiteral("DejaVu Sans"));
    tagline.setPixelSize(13);
    p.setFont(tagline);
    p.setPen(Teal.darker(130));
    p.drawText(QRectF(0, 166, 150, 22), Qt::AlignCenter, QStringLiteral("MP3 modules"));
    return image;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: make-artwork OUTPUT_FOLDER\n";
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    if (!makeIcon().save(folder + QStringLiteral("/icon.png"), "PNG", 9))
        return 1;
    if (!makeLogo().save(folder + QStringLiteral("/logo.png"), "PNG", 9))
        return 1;
    return 0;
}
