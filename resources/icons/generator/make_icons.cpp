// Draws Decimora's own images: the ten tool-bar images, the two status images and the program icon.
// The PNG files beside this folder are its output and are committed; run it again after a change:
//   cmake --build <build dir> --target decimora_icons
// Everything is drawn from simple shapes here, so the images belong to the project.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

#include <cstdio>
#include <functional>

namespace {

const QColor Outline(46, 52, 54);
const QColor MeterGreen(0, 128, 0);
const QColor LitYellow(247, 255, 0);

using Drawing = std::function<void(QPainter&)>;

// Draws on a 32 x 32 canvas scaled to the requested size.
QImage render(int size, const Drawing& draw)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.scale(size / 32.0, size / 32.0);
    draw(p);
    return image;
}

QPen outlinePen(qreal width = 1.2)
{
    return QPen(Outline, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

QLinearGradient vertical(qreal top, qreal bottom, const QColor& light, const QColor& dark)
{
    QLinearGradient g(0, top, 0, bottom);
    g.setColorAt(0, light);
    g.setColorAt(1, dark);
    return g;
}

void arrow(QPainter& p, QPointF from, QPointF to, const QColor& colour, qreal width)
{
    const QLineF line(from, to);
    const qreal head = width * 1.9;
    const QLineF back = QLineF(to, from).unitVector();
    const QPointF dir = (back.p2() - back.p1());
    const QPointF normal(-dir.y(), dir.x());
    QPainterPath shaft;
    p.setPen(QPen(colour.darker(140), 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(colour);
    const QPointF base = to + dir * head * 1.2;
    QPolygonF body;
    body << from + normal * width / 2 << base + normal * width / 2 << base + normal * head << to << base - normal * head
         << base - normal * width / 2 << from - normal * width / 2;
    p.drawPolygon(body);
    (void)line;
}

// The dial of the meter: green face, a yellow arc of ticks and a needle.
void dial(QPainter& p, QRectF face, int litTicks, bool needle)
{
    p.setPen(outlinePen());
    p.setBrush(vertical(face.top(), face.bottom(), MeterGreen.lighter(130), MeterGreen.darker(120)));
    p.drawRoundedRect(face, 3, 3);
    const QPointF centre(face.center().x(), face.bottom() - 2);
    const qreal outer = face.height() - 5;
    const qreal inner = outer - 5;
    for (int i = 0; i < 11; ++i) {
        const qreal a = qDegreesToRadians(150.0 - i * 12.0);
        const QPointF dir(qCos(a), -qSin(a));
        p.setPen(QPen(i < litTicks ? LitYellow : MeterGreen.lighter(160), 1.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(centre + dir * inner, centre + dir * outer);
    }
    if (needle) {
        const qreal a = qDegreesToRadians(150.0 - (litTicks - 1) * 12.0);
        p.setPen(QPen(QColor(220, 30, 30), 1.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(centre, centre + QPointF(qCos(a), -qSin(a)) * (outer - 1));
        p.setPen(Qt::NoPen);
        p.setBrush(Outline);
        p.drawEllipse(centre, 1.8, 1.8);
    }
}

void handheldMeter(QPainter& p, QRectF body)
{
    p.setPen(outlinePen());
    p.setBrush(vertical(body.top(), body.bottom(), QColor(120, 126, 130), QColor(70, 76, 80)));
    p.drawRoundedRect(body, 3, 3);
    const QRectF screen(body.left() + 2.5, body.top() + 3, body.width() - 5, body.height() * 0.38);
    p.setPen(Qt::NoPen);
    p.setBrush(MeterGreen);
    p.drawRect(screen);
    p.setPen(QPen(LitYellow, 1.4));
    const qreal y = screen.center().y();
    p.drawLine(QPointF(screen.left() + 2, y), QPointF(screen.right() - 2, y));
    // microphone ball on top
    p.setPen(outlinePen());
    p.setBrush(QColor(200, 200, 200));
    p.drawEllipse(QPointF(body.center().x(), body.top() - 1.5), 3.2, 3.2);
    // buttons
    p.setBrush(QColor(230, 230, 230));
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 3; ++i)
        p.drawRoundedRect(QRectF(body.left() + 2.5 + i * (body.width() - 5) / 3.0, screen.bottom() + 3,
                              (body.width() - 5) / 3.0 - 1.2, 2.4),
            0.8, 0.8);
}

void sheet(QPainter& p, QRectF r)
{
    p.setPen(outlinePen());
    p.setBrush(QColor(252, 252, 250));
    QPainterPath page;
    page.moveTo(r.topLeft());
    page.lineTo(r.right() - 5, r.top());
    page.lineTo(r.right(), r.top() + 5);
    page.lineTo(r.bottomRight());
    page.lineTo(r.bottomLeft());
    page.closeSubpath();
    p.drawPath(page);
    p.setBrush(QColor(220, 220, 215));
    p.drawPolygon(QPolygonF() << QPointF(r.right() - 5, r.top()) << QPointF(r.right() - 5, r.top() + 5)
                              << QPointF(r.right(), r.top() + 5));
}

void roundBadge(QPainter& p, const QColor& colour, const QString& glyph)
{
    p.setPen(QPen(colour.darker(150), 1.2));
    QRadialGradient g(QPointF(12, 10), 18);
    g.setColorAt(0, colour.lighter(140));
    g.setColorAt(1, colour.darker(110));
    p.setBrush(g);
    p.drawEllipse(QRectF(2.5, 2.5, 27, 27));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(20);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(2.5, 2.5, 27, 27), Qt::AlignCenter, glyph);
}

const Drawing RealTimeMeasure = [](QPainter& p) {
    dial(p, QRectF(2.5, 6.5, 27, 19), 8, true);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(230, 30, 30));
    p.drawEllipse(QPointF(26, 5.5), 3.3, 3.3);
};

const Drawing ImportData = [](QPainter& p) {
    handheldMeter(p, QRectF(3.5, 5.5, 12, 22));
    p.setPen(outlinePen());
    p.setBrush(QColor(245, 240, 225));
    p.drawRoundedRect(QRectF(18.5, 22.5, 11, 6), 1.5, 1.5);
    arrow(p, QPointF(17, 9), QPointF(25, 21), QColor(52, 101, 164), 3.2);
};

const Drawing Open = [](QPainter& p) {
    p.setPen(outlinePen());
    p.setBrush(vertical(6, 26, QColor(233, 185, 110), QColor(193, 125, 17)));
    QPainterPath back;
    back.moveTo(2.5, 26.5);
    back.lineTo(2.5, 7.5);
    back.lineTo(11, 7.5);
    back.lineTo(13.5, 10);
    back.lineTo(26.5, 10);
    back.lineTo(26.5, 26.5);
    back.closeSubpath();
    p.drawPath(back);
    sheet(p, QRectF(7.5, 5.5, 16, 14));
    p.setBrush(vertical(13, 27, QColor(252, 220, 140), QColor(237, 170, 40)));
    QPainterPath flap;
    flap.moveTo(2.5, 26.5);
    flap.lineTo(7, 14.5);
    flap.lineTo(30.5, 14.5);
    flap.lineTo(26.5, 26.5);
    flap.closeSubpath();
    p.drawPath(flap);
};

const Drawing Save = [](QPainter& p) {
    p.setPen(outlinePen());
    p.setBrush(vertical(3, 29, QColor(114, 159, 207), QColor(32, 74, 135)));
    QPainterPath disk;
    disk.moveTo(3.5, 3.5);
    disk.lineTo(25, 3.5);
    disk.lineTo(28.5, 7);
    disk.lineTo(28.5, 28.5);
    disk.lineTo(3.5, 28.5);
    disk.closeSubpath();
    p.drawPath(disk);
    p.setBrush(QColor(250, 250, 250));
    p.drawRect(QRectF(7.5, 3.5, 16, 10));
    p.setPen(QPen(QColor(170, 170, 170), 1));
    for (int i = 0; i < 3; ++i)
        p.drawLine(QPointF(9.5, 6.5 + i * 2.5), QPointF(21.5, 6.5 + i * 2.5));
    p.setPen(outlinePen());
    p.setBrush(vertical(18, 28, QColor(211, 215, 207), QColor(136, 138, 133)));
    p.drawRect(QRectF(9.5, 18.5, 13, 10));
    p.setBrush(QColor(32, 74, 135));
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(12, 20.5, 3, 6));
};

const Drawing ExportToExcel = [](QPainter& p) {
    sheet(p, QRectF(3.5, 2.5, 19, 26));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(78, 154, 6));
    p.drawRect(QRectF(5, 7, 14, 3.5));
    p.setPen(QPen(QColor(140, 140, 140), 0.9));
    for (int row = 0; row < 5; ++row)
        p.drawLine(QPointF(5, 13.5 + row * 3), QPointF(19.5, 13.5 + row * 3));
    p.drawLine(QPointF(10, 10.5), QPointF(10, 25.5));
    p.drawLine(QPointF(15, 10.5), QPointF(15, 25.5));
    arrow(p, QPointF(15, 20), QPointF(30, 20), QColor(78, 154, 6), 3.6);
};

const Drawing PrintDataSheet = [](QPainter& p) {
    sheet(p, QRectF(8.5, 2.5, 15, 14));
    p.setPen(QPen(QColor(120, 120, 120), 1));
    for (int i = 0; i < 3; ++i)
        p.drawLine(QPointF(10.5, 6.5 + i * 2.5), QPointF(20.5, 6.5 + i * 2.5));
    p.setPen(outlinePen());
    p.setBrush(vertical(12, 24, QColor(211, 215, 207), QColor(136, 138, 133)));
    p.drawRoundedRect(QRectF(2.5, 12.5, 27, 12), 2.5, 2.5);
    p.setBrush(QColor(85, 87, 83));
    p.drawRect(QRectF(6.5, 21.5, 19, 3));
    sheet(p, QRectF(8.5, 22.5, 15, 7));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(115, 210, 22));
    p.drawEllipse(QPointF(25.5, 16), 1.5, 1.5);
};

const Drawing SystemOption = [](QPainter& p) {
    QPainterPath gear;
    const QPointF c(16, 16);
    const int teeth = 8;
    QPolygonF outline;
    for (int i = 0; i < teeth * 4; ++i) {
        const qreal a = 2 * M_PI * i / (teeth * 4) + M_PI / (teeth * 4);
        const qreal r = (i % 4 == 0 || i % 4 == 1) ? 13.5 : 10.5;
        outline << c + QPointF(qCos(a) * r, qSin(a) * r);
    }
    gear.addPolygon(outline);
    gear.closeSubpath();
    gear.addEllipse(c, 4.5, 4.5);
    gear.setFillRule(Qt::OddEvenFill);
    p.setPen(outlinePen());
    QRadialGradient g(QPointF(12, 11), 18);
    g.setColorAt(0, QColor(238, 238, 236));
    g.setColorAt(1, QColor(136, 138, 133));
    p.setBrush(g);
    p.drawPath(gear);
};

const Drawing Help = [](QPainter& p) { roundBadge(p, QColor(52, 101, 164), QStringLiteral("?")); };

const Drawing About = [](QPainter& p) { roundBadge(p, QColor(6, 152, 154), QStringLiteral("i")); };

const Drawing Exit = [](QPainter& p) {
    p.setPen(outlinePen());
    p.setBrush(QColor(85, 87, 83));
    p.drawRect(QRectF(4.5, 3.5, 16, 26));
    p.setBrush(vertical(3, 29, QColor(193, 125, 17), QColor(143, 89, 2)));
    p.drawPolygon(QPolygonF() << QPointF(4.5, 3.5) << QPointF(14.5, 6.5) << QPointF(14.5, 29.5) << QPointF(4.5, 29.5));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(252, 233, 79));
    p.drawEllipse(QPointF(12, 17), 1.2, 1.2);
    arrow(p, QPointF(16, 16.5), QPointF(30.5, 16.5), QColor(204, 0, 0), 4);
};

// Status image 1, always shown: the computer.
const Drawing Computer = [](QPainter& p) {
    p.setPen(outlinePen(1.6));
    p.setBrush(QColor(211, 215, 207));
    p.drawRoundedRect(QRectF(2.5, 3.5, 27, 19), 2, 2);
    p.setBrush(vertical(6, 20, QColor(114, 159, 207), QColor(52, 101, 164)));
    p.drawRect(QRectF(5.5, 6.5, 21, 13));
    p.setBrush(QColor(136, 138, 133));
    p.drawPolygon(QPolygonF() << QPointF(12, 22.5) << QPointF(20, 22.5) << QPointF(22, 27.5) << QPointF(10, 27.5));
    p.drawRect(QRectF(7.5, 27.5, 17, 2));
};

// Status image 0, shown while the meter is connected: the meter with a lit display.
const Drawing MeterConnected = [](QPainter& p) {
    handheldMeter(p, QRectF(7.5, 6.5, 17, 23));
    p.setPen(QPen(QColor(78, 154, 6).darker(130), 1.2));
    p.setBrush(QColor(115, 210, 22));
    p.drawEllipse(QPointF(25, 25), 5, 5);
    p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF() << QPointF(22.5, 25) << QPointF(24.5, 27) << QPointF(27.8, 22.8));
};

// The program: the meter's green display with its arc and "dB".
const Drawing ProgramIcon = [](QPainter& p) {
    p.setPen(QPen(Outline, 1.0));
    p.setBrush(vertical(1, 31, QColor(60, 66, 70), QColor(30, 34, 36)));
    p.drawRoundedRect(QRectF(1.5, 1.5, 29, 29), 6, 6);
    p.setPen(Qt::NoPen);
    p.setBrush(MeterGreen);
    p.drawRoundedRect(QRectF(4, 4, 24, 24), 3.5, 3.5);
    const QPointF centre(16, 25);
    for (int i = 0; i < 15; ++i) {
        const qreal a = qDegreesToRadians(160.0 - i * 10.0);
        const QPointF dir(qCos(a), -qSin(a));
        p.setPen(QPen(i < 10 ? LitYellow : MeterGreen.lighter(150), 1.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(centre + dir * 13, centre + dir * 18.5);
    }
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(9);
    p.setFont(font);
    p.setPen(LitYellow);
    p.drawText(QRectF(4, 14, 24, 12), Qt::AlignCenter, QStringLiteral("dB"));
};

bool save(const QImage& image, const QString& path)
{
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    bool ok = out.mkpath(QStringLiteral("."));

    // Tool-bar images in the order of their index.
    const Drawing toolBar[]
        = { RealTimeMeasure, ImportData, Open, Save, ExportToExcel, PrintDataSheet, SystemOption, Help, About, Exit };
    for (int i = 0; i < 10; ++i)
        ok = save(render(32, toolBar[i]), out.filePath(QStringLiteral("tool-%1.png").arg(i))) && ok;

    ok = save(render(16, MeterConnected), out.filePath(QStringLiteral("status-0.png"))) && ok;
    ok = save(render(16, Computer), out.filePath(QStringLiteral("status-1.png"))) && ok;

    for (int size : { 16, 32, 48, 64, 128, 256 })
        ok = save(render(size, ProgramIcon), out.filePath(QStringLiteral("decimora-%1.png").arg(size))) && ok;
    return ok ? 0 : 1;
}
