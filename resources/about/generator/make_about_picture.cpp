// Draws the product picture of the about box: a hand-held sound level meter on a dark backdrop, in
// the colours of the program's own meter panel. The JPEG beside this folder is its output and is
// committed; run it again after a change:
//   cmake --build <build dir> --target decimora_about_picture
// The picture is drawn from simple shapes here and compressed with libjpeg, so it belongs to the
// project.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRandomGenerator>
#include <QtMath>

#include <cstdio>
#include <jpeglib.h>
#include <memory>
#include <vector>

namespace {

// Twice the size of the about box's picture panel, so that the box scales it down, never up.
constexpr int PictureWidth = 290;
constexpr int PictureHeight = 592;
constexpr int JpegQuality = 92;

const QColor PanelGreen(0, 128, 0);
const QColor LitYellow(247, 255, 0);
const QColor Body(52, 56, 60);
const QColor BodyEdge(24, 26, 28);

QLinearGradient vertical(qreal top, qreal bottom, const QColor& upper, const QColor& lower)
{
    QLinearGradient g(0, top, 0, bottom);
    g.setColorAt(0, upper);
    g.setColorAt(1, lower);
    return g;
}

QLinearGradient horizontal(qreal left, qreal right, const QColor& edge, const QColor& middle)
{
    QLinearGradient g(left, 0, right, 0);
    g.setColorAt(0, edge);
    g.setColorAt(0.45, middle);
    g.setColorAt(1, edge);
    return g;
}

// One seven-segment digit in a w x h cell; segments a..g lit as the mask says (bit 0 = a).
void sevenSegmentDigit(QPainter& p, QPointF origin, qreal w, qreal h, int mask, const QColor& lit, const QColor& unlit)
{
    const qreal t = w * 0.2; // segment thickness
    const qreal half = h / 2;
    auto horizontalSegment = [&](qreal y) {
        QPolygonF s;
        s << QPointF(t / 2, y) << QPointF(t, y - t / 2) << QPointF(w - t, y - t / 2) << QPointF(w - t / 2, y)
          << QPointF(w - t, y + t / 2) << QPointF(t, y + t / 2);
        return s;
    };
    auto verticalSegment = [&](qreal x, qreal top, qreal bottom) {
        QPolygonF s;
        s << QPointF(x, top + t / 2) << QPointF(x + t / 2, top + t) << QPointF(x + t / 2, bottom - t)
          << QPointF(x, bottom - t / 2) << QPointF(x - t / 2, bottom - t) << QPointF(x - t / 2, top + t);
        return s;
    };
    const QPolygonF segments[7] = {
        horizontalSegment(t / 2), // a
        verticalSegment(w - t / 2, 0, half), // b
        verticalSegment(w - t / 2, half, h), // c
        horizontalSegment(h - t / 2), // d
        verticalSegment(t / 2, half, h), // e
        verticalSegment(t / 2, 0, half), // f
        horizontalSegment(half), // g
    };
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 7; ++i) {
        // A slant, as on the meter's own display.
        QTransform slant;
        slant.translate(origin.x(), origin.y());
        slant.shear(-0.08, 0);
        slant.translate(h * 0.08, 0);
        p.setBrush((mask >> i) & 1 ? lit : unlit);
        p.drawPolygon(slant.map(segments[i]));
    }
}

// Segment masks of the digits 0..9.
constexpr int DigitMasks[10] = { 0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F };

void backdrop(QPainter& p)
{
    QRadialGradient glow(PictureWidth * 0.5, PictureHeight * 0.42, PictureHeight * 0.62);
    glow.setColorAt(0, QColor(44, 76, 112));
    glow.setColorAt(0.6, QColor(16, 30, 52));
    glow.setColorAt(1, QColor(6, 10, 20));
    p.fillRect(QRect(0, 0, PictureWidth, PictureHeight), glow);

    // Faint sound waves leaving the microphone.
    const QPointF mouth(PictureWidth / 2.0, 92);
    for (int i = 1; i <= 6; ++i) {
        QColor wave(120, 190, 255, 70 - i * 9);
        p.setPen(QPen(wave, 2.2));
        p.setBrush(Qt::NoBrush);
        const qreal r = 50 + i * 22;
        p.drawArc(QRectF(mouth.x() - r, mouth.y() - r, 2 * r, 2 * r), 25 * 16, 130 * 16);
    }
}

// The foam ball over the microphone, with its pores.
void windscreen(QPainter& p, QPointF centre, qreal radius)
{
    QRadialGradient foam(centre.x() - radius * 0.35, centre.y() - radius * 0.4, radius * 1.4);
    foam.setColorAt(0, QColor(120, 124, 130));
    foam.setColorAt(0.55, QColor(64, 66, 70));
    foam.setColorAt(1, QColor(22, 23, 25));
    p.setPen(QPen(QColor(14, 14, 16), 1.5));
    p.setBrush(foam);
    p.drawEllipse(centre, radius, radius);

    QRandomGenerator pores(731); // fixed seed: the same picture on every run
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 420; ++i) {
        const qreal a = pores.bounded(2 * M_PI);
        const qreal d = radius * std::sqrt(pores.bounded(1.0)) * 0.94;
        const QPointF at(centre.x() + d * std::cos(a), centre.y() + d * std::sin(a));
        const int shade = 10 + pores.bounded(40);
        p.setBrush(QColor(shade, shade, shade + 4, 150));
        p.drawEllipse(at, 1.4, 1.4);
    }
}

QPainterPath meterOutline()
{
    // Wide at the display, narrowing into a grip, rounded at both ends.
    QPainterPath body;
    body.moveTo(86, 150);
    body.cubicTo(86, 138, 96, 132, 110, 132);
    body.lineTo(180, 132);
    body.cubicTo(194, 132, 204, 138, 204, 150);
    body.lineTo(210, 360);
    body.cubicTo(211, 380, 196, 392, 190, 404);
    body.lineTo(184, 540);
    body.cubicTo(183, 556, 170, 564, 145, 564);
    body.cubicTo(120, 564, 107, 556, 106, 540);
    body.lineTo(100, 404);
    body.cubicTo(94, 392, 79, 380, 80, 360);
    body.closeSubpath();
    return body;
}

void display(QPainter& p, const QRectF& glass)
{
    p.setPen(QPen(QColor(10, 10, 10), 2));
    p.setBrush(QColor(18, 20, 22));
    p.drawRoundedRect(glass.adjusted(-6, -6, 6, 6), 8, 8);
    p.setPen(Qt::NoPen);
    p.setBrush(vertical(glass.top(), glass.bottom(), PanelGreen.lighter(125), PanelGreen.darker(115)));
    p.drawRoundedRect(glass, 4, 4);

    // The arc of level ticks, most of them lit.
    const QPointF centre(glass.center().x(), glass.top() + 44);
    for (int i = 0; i < 13; ++i) {
        const qreal a = qDegreesToRadians(150.0 - i * 10.0);
        const QPointF dir(std::cos(a), -std::sin(a));
        p.setPen(QPen(i < 9 ? LitYellow : PanelGreen.lighter(160), 3.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(centre + dir * 27, centre + dir * 37);
    }

    // The level: 65.3 dB.
    const qreal digitW = 17;
    const qreal digitH = 30;
    const qreal top = glass.top() + 50;
    const QColor unlit = PanelGreen.lighter(112);
    qreal x = glass.left() + 8;
    for (int digit : { 6, 5 }) {
        sevenSegmentDigit(p, QPointF(x, top), digitW, digitH, DigitMasks[digit], LitYellow, unlit);
        x += digitW + 5;
    }
    p.setPen(Qt::NoPen);
    p.setBrush(LitYellow);
    p.drawEllipse(QPointF(x - 1, top + digitH - 2), 2.4, 2.4);
    x += 5;
    sevenSegmentDigit(p, QPointF(x, top), digitW, digitH, DigitMasks[3], LitYellow, unlit);

    QFont small(QStringLiteral("DejaVu Sans"));
    small.setPixelSize(10);
    small.setBold(true);
    p.setFont(small);
    p.setPen(LitYellow);
    p.drawText(QRectF(glass.right() - 24, top + digitH + 2, 20, 12), Qt::AlignRight, QStringLiteral("dB"));
    small.setPixelSize(9);
    p.setFont(small);
    p.drawText(QRectF(glass.left() + 6, glass.bottom() - 16, 40, 12), Qt::AlignLeft, QStringLiteral("FAST"));
    p.drawText(QRectF(glass.center().x() - 14, glass.bottom() - 16, 28, 12), Qt::AlignHCenter, QStringLiteral("A"));
    p.drawText(QRectF(glass.right() - 46, glass.bottom() - 16, 40, 12), Qt::AlignRight, QStringLiteral("MAX"));
}

void buttons(QPainter& p)
{
    // Two rows of round keys under the display.
    const QColor keyColours[] = { QColor(200, 40, 40), QColor(90, 96, 104), QColor(90, 96, 104) };
    for (int row = 0; row < 2; ++row) {
        for (int col = 0; col < 3; ++col) {
            const QPointF c(112 + col * 33, 310 + row * 28);
            QRadialGradient key(c.x() - 3, c.y() - 4, 13);
            const QColor base = row == 0 && col == 0 ? keyColours[0] : keyColours[1];
            key.setColorAt(0, base.lighter(160));
            key.setColorAt(1, base.darker(130));
            p.setPen(QPen(QColor(12, 12, 12), 1.4));
            p.setBrush(key);
            p.drawEllipse(c, 10, 10);
        }
    }
}

void grip(QPainter& p)
{
    // Ribs across the grip.
    p.setPen(QPen(QColor(30, 32, 35), 2.4, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 9; ++i) {
        const qreal y = 420 + i * 13;
        const qreal inset = 9 + i * 0.45;
        p.drawLine(QPointF(100 + inset + 4, y), QPointF(190 - inset - 4, y));
    }
}

void meter(QPainter& p)
{
    // Its shadow on the backdrop.
    p.save();
    p.translate(8, 10);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 90));
    p.drawPath(meterOutline());
    p.restore();

    // The microphone's neck, then the body over it.
    p.setPen(QPen(BodyEdge, 1.5));
    p.setBrush(horizontal(128, 162, QColor(30, 32, 34), QColor(150, 154, 160)));
    p.drawRect(QRectF(130, 100, 30, 40));

    p.setPen(QPen(BodyEdge, 2.5));
    p.setBrush(horizontal(80, 210, Body.darker(150), Body.lighter(150)));
    p.drawPath(meterOutline());

    // A lighter face plate around display and keys.
    p.setPen(QPen(QColor(20, 22, 24), 1.5));
    p.setBrush(vertical(148, 366, QColor(78, 84, 90), QColor(56, 60, 64)));
    p.drawRoundedRect(QRectF(92, 146, 106, 214), 10, 10);

    display(p, QRectF(100, 160, 90, 124));
    buttons(p);
    grip(p);
    windscreen(p, QPointF(145, 74), 46);

    // A highlight along the body's left edge.
    QPainterPath shine;
    shine.moveTo(92, 160);
    shine.lineTo(97, 355);
    p.setPen(QPen(QColor(255, 255, 255, 60), 3, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(shine);
}

bool writeJpeg(const QImage& picture, const QString& path)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    std::FILE* file = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!file) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    jpeg_compress_struct info {};
    jpeg_error_mgr errors {};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = static_cast<JDIMENSION>(rgb.width());
    info.image_height = static_cast<JDIMENSION>(rgb.height());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, JpegQuality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        // libjpeg takes non-const rows; it does not write to them.
        auto* row = const_cast<JSAMPLE*>(rgb.constScanLine(static_cast<int>(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return std::fclose(file) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output JPEG file>\n", argv[0]);
        return 2;
    }
    QImage picture(PictureWidth, PictureHeight, QImage::Format_RGB32);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    backdrop(p);
    meter(p);
    p.end();
    return writeJpeg(picture, QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
