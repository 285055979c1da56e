// Draws icon-110.svg's shapes with QPainter into the PNG sizes the program loads. Not part of the
// build; run it after changing the SVG:
//   g++ -std=c++20 -fPIC render-icon.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/render-icon
//   QT_QPA_PLATFORM=offscreen /tmp/render-icon .
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

static void Draw(QPainter& p) {
    p.setPen(QPen(QColor(0x1a4a99), 1));
    p.setBrush(QColor(0x2563c9));
    p.drawRoundedRect(QRectF(2.5, 2.5, 43, 43), 8, 8);

    QPainterPath sheet;
    sheet.moveTo(13, 9);
    sheet.lineTo(29, 9);
    sheet.lineTo(36, 16);
    sheet.lineTo(36, 39);
    sheet.lineTo(13, 39);
    sheet.closeSubpath();
    p.setPen(QPen(QColor(0xc9d6ea), 1, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
    p.setBrush(Qt::white);
    p.drawPath(sheet);

    QPainterPath fold;
    fold.moveTo(29, 9);
    fold.lineTo(29, 16);
    fold.lineTo(36, 16);
    fold.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xdbe5f5));
    p.drawPath(fold);

    p.setPen(QPen(QColor(0x9fb3d1), 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(17, 20), QPointF(26, 20));
    p.drawLine(QPointF(17, 25), QPointF(31, 25));
    p.drawLine(QPointF(17, 30), QPointF(24, 30));

    const QPointF tick[] = {{22, 31}, {27.5, 36.5}, {39, 24}};
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, 8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(tick, 3);
    p.setPen(QPen(QColor(0x22a34a), 4.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(tick, 3);
}

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    for (int size : {16, 24, 32, 48, 64, 256}) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 48.0, size / 48.0);
        Draw(p);
        p.end();
        image.save(QStringLiteral("%1/icon-110-%2.png").arg(folder).arg(size));
    }
    return 0;
}
