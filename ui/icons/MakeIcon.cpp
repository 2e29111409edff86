// Draws the Nelo program icon: a p orbital (two lobes of opposite phase)
// around a nucleus, crossed by an electron orbit, on a night-blue tile.
//
//   nelo_make_icon <output.png> <size>
//
// The committed nelo.png (48 x 48) and nelo-256.png were made with it:
//   QT_QPA_PLATFORM=offscreen build/ui/nelo_make_icon ui/icons/nelo.png 48
//   QT_QPA_PLATFORM=offscreen build/ui/nelo_make_icon ui/icons/nelo-256.png 256

#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cstdio>

namespace {

// One lobe, pointing up from the origin, in a 48-unit design grid.
QPainterPath lobe()
{
    QPainterPath path(QPointF(0, 0));
    path.cubicTo(QPointF(-9, -7), QPointF(-8, -19), QPointF(0, -19));
    path.cubicTo(QPointF(8, -19), QPointF(9, -7), QPointF(0, 0));
    return path;
}

QRadialGradient lobeGradient(const QColor &light, const QColor &dark)
{
    QRadialGradient gradient(QPointF(-3, -13), 14, QPointF(-3, -14));
    gradient.setColorAt(0, light);
    gradient.setColorAt(1, dark);
    return gradient;
}

void drawIcon(QPainter &p, int size)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 48.0, size / 48.0);

    // The tile.
    QLinearGradient tile(0, 0, 0, 48);
    tile.setColorAt(0, QColor(0x2b, 0x4f, 0x8f));
    tile.setColorAt(1, QColor(0x0f, 0x1f, 0x40));
    p.setPen(QPen(QColor(0x0a, 0x14, 0x30), 1));
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(1, 1, 46, 46), 8, 8);

    p.translate(24, 24);

    // The orbit, behind the orbital.
    p.save();
    p.rotate(30);
    p.setPen(QPen(QColor(0xff, 0xe0, 0x66), 1.4));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(0, 0), 20, 7);
    p.restore();

    // The two lobes: positive phase red, negative phase blue.
    p.save();
    p.rotate(-40);
    p.setPen(QPen(QColor(0x7a, 0x14, 0x08), 0.6));
    p.setBrush(lobeGradient(QColor(0xff, 0xb0, 0x8a), QColor(0xd8, 0x32, 0x1e)));
    p.drawPath(lobe());
    p.rotate(180);
    p.setPen(QPen(QColor(0x0b, 0x3f, 0x6e), 0.6));
    p.setBrush(lobeGradient(QColor(0xb8, 0xf4, 0xff), QColor(0x1e, 0x8a, 0xd8)));
    p.drawPath(lobe());
    p.restore();

    // The nucleus and an electron on its orbit.
    p.setPen(QPen(QColor(0x33, 0x33, 0x33), 0.5));
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(0, 0), 2.6, 2.6);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xe0, 0x66));
    p.drawEllipse(QPointF(17.3, 10), 1.8, 1.8);
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: nelo_make_icon <output.png> <size>\n");
        return 2;
    }
    const int size = QString::fromLocal8Bit(argv[2]).toInt();
    if (size < 16 || size > 1024) {
        std::fprintf(stderr, "size must be between 16 and 1024\n");
        return 2;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        drawIcon(painter, size);
    }
    if (!image.convertToFormat(QImage::Format_ARGB32).save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
