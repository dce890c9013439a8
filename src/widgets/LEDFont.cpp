#include "widgets/LEDFont.h"

#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <span>

namespace {

// The segments each character lights, in the order they are drawn.
std::span<const int> litSegments(QChar character)
{
    static constexpr int zero[] = { 0, 1, 2, 3, 4, 5 };
    static constexpr int one[] = { 1, 2 };
    static constexpr int two[] = { 0, 1, 6, 4, 3 };
    static constexpr int three[] = { 0, 1, 6, 2, 3 };
    static constexpr int four[] = { 5, 6, 1, 2 };
    static constexpr int five[] = { 0, 5, 6, 2, 3 };
    static constexpr int six[] = { 0, 5, 4, 3, 2, 6 };
    static constexpr int seven[] = { 0, 1, 2 };
    static constexpr int eight[] = { 0, 1, 2, 3, 4, 5, 6 };
    static constexpr int nine[] = { 6, 5, 0, 1, 2, 3 };
    static constexpr int minus[] = { 6 };
    switch (character.unicode()) {
    case '0':
        return zero;
    case '1':
        return one;
    case '2':
        return two;
    case '3':
        return three;
    case '4':
        return four;
    case '5':
        return five;
    case '6':
        return six;
    case '7':
        return seven;
    case '8':
        return eight;
    case '9':
        return nine;
    case '-':
        return minus;
    default:
        return {};
    }
}

// Filled and outlined in the painter's colour: the polygon covers its border pixels as well as its
// inside. Qt's aliased outline skips a corner pixel where a diagonal edge runs into a vertical one
// (the lower end of the right-hand bars), so the corners are set as points too.
void fillAndOutline(QPainter& painter, const QPolygon& polygon)
{
    painter.drawPolygon(polygon);
    painter.drawPoints(polygon);
}

bool isDigit(QChar character)
{
    return character >= QLatin1Char('0') && character <= QLatin1Char('9');
}

} // namespace

TLEDFontNum::TLEDFontNum(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(47, 38);
}

void TLEDFontNum::setOffSetX(int value)
{
    if (value == m_offSetX)
        return;
    m_offSetX = value;
    update();
}

void TLEDFontNum::setOffSetY(int value)
{
    if (value == m_offSetY)
        return;
    m_offSetY = value;
    update();
}

void TLEDFontNum::setSpace(int value)
{
    if (value == m_space)
        return;
    m_space = value;
    update();
}

void TLEDFontNum::setBGColor(const QColor& value)
{
    if (value == m_bgColor)
        return;
    m_bgColor = value;
    update();
}

void TLEDFontNum::setLightColor(const QColor& value)
{
    if (value == m_lightColor)
        return;
    m_lightColor = value;
    update();
}

void TLEDFontNum::setDarkColor(const QColor& value)
{
    if (value == m_darkColor)
        return;
    m_darkColor = value;
    update();
}

void TLEDFontNum::setWordWidth(int value)
{
    // The segments need room for two thicknesses side by side.
    if (value == m_wordWidth || value <= 2 * m_thick)
        return;
    m_wordWidth = value;
    update();
}

void TLEDFontNum::setWordHeight(int value)
{
    if (value == m_wordHeight || value <= 4 * m_thick - 1)
        return;
    // The upper and lower bars must be the same length: an even remainder is bumped to odd.
    m_wordHeight = (value - 4 * m_thick + 1) % 2 == 0 ? value : value + 1;
    update();
}

void TLEDFontNum::setThick(int value)
{
    if (value == m_thick || 2 * value >= m_wordWidth || 4 * value - 1 >= m_wordHeight
        || (m_wordHeight - 4 * value + 1) % 2 != 0)
        return;
    m_thick = value;
    update();
}

void TLEDFontNum::setText(const QString& value)
{
    if (value == m_text)
        return;
    m_text = value;
    draw();
}

void TLEDFontNum::setAutoSize(bool value)
{
    if (value == m_autoSize)
        return;
    m_autoSize = value;
    if (m_autoSize)
        applySizeRule();
}

TLEDFontNum::CellPolygons TLEDFontNum::cellPolygons(int x, int y, int wordWidth, int wordHeight, int thick)
{
    const int w = wordWidth;
    const int h = wordHeight;
    const int t = thick;
    const int m = (h - 1) / 2;
    const int k = (h + 1) / 2;
    CellPolygons cell;
    cell[0]
        = QPolygon({ { x + 2, y }, { x + t + 1, y + t - 1 }, { x + w - 2 * t - 3, y + t - 1 }, { x + w - t - 4, y } });
    cell[1] = QPolygon({ { x + w - t - 2, y + 1 }, { x + w - 2 * t - 1, y + t }, { x + w - 2 * t - 1, y + m - t },
        { x + w - t - 2, y + m - 1 } });
    cell[2] = QPolygon({ { x + w - t - 2, y + m + 1 }, { x + w - 2 * t - 1, y + m + t },
        { x + w - 2 * t - 1, y + h - t - 1 }, { x + w - t - 2, y + h - 2 } });
    cell[3] = QPolygon({ { x + w - t - 4, y + h - 1 }, { x + w - 2 * t - 3, y + h - t }, { x + t + 1, y + h - t },
        { x + 2, y + h - 1 } });
    cell[4] = QPolygon({ { x, y + h - 2 }, { x + t - 1, y + h - t - 1 }, { x + t - 1, y + m + t }, { x, y + m + 1 } });
    cell[5] = QPolygon({ { x, y + m - 1 }, { x + t - 1, y + m - t }, { x + t - 1, y + t }, { x, y + 1 } });
    QPolygon middle({ { x + t, y + k - t + 1 }, { x + 2, y + k - 1 }, { x + t, y + k + t - 3 },
        { x + w - 2 * t - 2, y + k + t - 3 }, { x + w - t - 4, y + k - 1 }, { x + w - 2 * t - 2, y + k - t + 1 } });
    if (t == 1) {
        // At thickness 1 the hexagon's pointed ends would point inward and the bar would be three
        // pixels high; moving its four flank corners by one pixel flattens it to a one-pixel line.
        middle[0] += QPoint(1, -1);
        middle[2] += QPoint(1, 1);
        middle[3] += QPoint(-1, 1);
        middle[5] += QPoint(-1, -1);
    }
    cell[6] = middle;
    cell[PointPolygon]
        = QPolygon({ { x + w - t, y + h - t }, { x + w - t, y + h }, { x + w, y + h }, { x + w, y + h - t } });
    return cell;
}

bool TLEDFontNum::visibleFlag() const
{
    if (parentWidget() != nullptr)
        return isVisibleTo(parentWidget());
    return isVisible();
}

QString TLEDFontNum::cellText() const
{
    QString cells = m_text;
    const qsizetype point = cells.indexOf(QLatin1Char('.'));
    if (point >= 0)
        cells.remove(point, 1);
    return cells;
}

QSize TLEDFontNum::autoSizeFor(int cellCount) const
{
    return { cellCount * m_wordWidth + (cellCount - 1) * m_space + 2 * m_offSetX, 2 * m_offSetY + m_wordHeight };
}

void TLEDFontNum::draw()
{
    if (!visibleFlag())
        return;
    // repaint() paints now when the display is on screen; the size rule must hold even before that.
    repaint();
    applySizeRule();
}

QImage TLEDFontNum::renderBitmap() const
{
    QImage bitmap(size(), QImage::Format_RGB32);
    bitmap.fill(m_bgColor);
    if (bitmap.isNull())
        return bitmap;

    QPainter painter(&bitmap);
    painter.setRenderHint(QPainter::Antialiasing, false);
    const auto useColour = [&painter](const QColor& colour) {
        painter.setPen(QPen(colour, 1));
        painter.setBrush(colour);
    };

    const qsizetype pointAt = m_text.indexOf(QLatin1Char('.'));
    const QString cells = cellText();
    int x = 0;
    int y = 0;
    for (qsizetype cell = 0; cell < cells.size(); ++cell) {
        if (cell == 0) {
            x += m_offSetX;
            y += m_offSetY;
        } else {
            x += m_wordWidth + m_space;
        }
        const CellPolygons polygons = cellPolygons(x, y, m_wordWidth, m_wordHeight, m_thick);
        if (m_darkColor != m_bgColor) {
            useColour(m_darkColor);
            for (const QPolygon& polygon : polygons)
                fillAndOutline(painter, polygon);
        }
        const QChar character = cells.at(cell);
        if (character == QLatin1Char(' ') || m_lightColor == m_bgColor)
            continue;
        useColour(m_lightColor);
        for (const int segment : litSegments(character))
            fillAndOutline(painter, polygons.at(static_cast<std::size_t>(segment)));
        // The "." lights the point of the digit it follows, and only of a digit.
        if (isDigit(character) && pointAt == cell + 1)
            fillAndOutline(painter, polygons[PointPolygon]);
    }
    return bitmap;
}

void TLEDFontNum::applySizeRule()
{
    if (!m_autoSize)
        return;
    const QSize wanted = autoSizeFor(static_cast<int>(cellText().size()));
    // Only the width is compared: a display whose width already fits keeps its height.
    if (width() != wanted.width())
        resize(wanted);
}

QSize TLEDFontNum::sizeHint() const
{
    return m_autoSize ? autoSizeFor(static_cast<int>(cellText().size())) : size();
}

void TLEDFontNum::paintEvent(QPaintEvent* /*event*/)
{
    if (!visibleFlag())
        return;
    {
        const QImage bitmap = renderBitmap();
        QPainter painter(this);
        painter.drawImage(0, 0, bitmap);
    }
    applySizeRule();
}

void TLEDFontNum::mousePressEvent(QMouseEvent* event)
{
    m_pressed = event->button() == Qt::LeftButton;
    emit mousePressed(event->button(), event->position().toPoint());
}

void TLEDFontNum::mouseReleaseEvent(QMouseEvent* event)
{
    emit mouseReleased(event->button(), event->position().toPoint());
    if (m_pressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    m_pressed = false;
}

void TLEDFontNum::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        emit doubleClicked();
    QWidget::mouseDoubleClickEvent(event);
}
