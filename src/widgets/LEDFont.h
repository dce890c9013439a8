#pragma once

#include <QColor>
#include <QPolygon>
#include <QString>
#include <QWidget>
#include <array>

class QImage;

// A short text of digits drawn as seven-segment LED cells, each with its own decimal point, in three
// colours (background, unlit and lit segments). Every shape is a polygon computed from four integers
// (cell width, cell height, segment thickness, gap), so one routine serves the large level read-out
// and the small range read-outs alike. Drawing is pixel-exact: no antialiasing, each polygon filled
// and outlined with a one-pixel pen of the same colour.
//
// The setters keep the cell geometry drawable: a width or thickness that would not fit is refused
// silently, and a height is made odd. Because the checks look at the current values, the order of
// setting matters: width, then height, then thickness.
class TLEDFontNum : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int OffSetX READ OffSetX WRITE setOffSetX)
    Q_PROPERTY(int OffSetY READ OffSetY WRITE setOffSetY)
    Q_PROPERTY(int WordWidth READ WordWidth WRITE setWordWidth)
    Q_PROPERTY(int WordHeight READ WordHeight WRITE setWordHeight)
    Q_PROPERTY(int Thick READ Thick WRITE setThick)
    Q_PROPERTY(int Space READ Space WRITE setSpace)
    Q_PROPERTY(QString Text READ Text WRITE setText)
    Q_PROPERTY(QColor BGColor READ BGColor WRITE setBGColor)
    Q_PROPERTY(QColor LightColor READ LightColor WRITE setLightColor)
    Q_PROPERTY(QColor DarkColor READ DarkColor WRITE setDarkColor)
    Q_PROPERTY(bool AutoSize READ AutoSize WRITE setAutoSize)

public:
    // Segments 0..6 (top, upper right, lower right, bottom, lower left, upper left, middle) and the
    // decimal point, which is index 7.
    static constexpr int PointPolygon = 7;
    using CellPolygons = std::array<QPolygon, 8>;

    explicit TLEDFontNum(QWidget* parent = nullptr);

    int OffSetX() const { return m_offSetX; }
    int OffSetY() const { return m_offSetY; }
    int WordWidth() const { return m_wordWidth; }
    int WordHeight() const { return m_wordHeight; }
    int Thick() const { return m_thick; }
    int Space() const { return m_space; }
    QString Text() const { return m_text; }
    QColor BGColor() const { return m_bgColor; }
    QColor LightColor() const { return m_lightColor; }
    QColor DarkColor() const { return m_darkColor; }
    bool AutoSize() const { return m_autoSize; }

    void setOffSetX(int value);
    void setOffSetY(int value);
    void setSpace(int value);
    void setBGColor(const QColor& value);
    void setLightColor(const QColor& value);
    void setDarkColor(const QColor& value);
    // Accepted only when value > 2 x Thick.
    void setWordWidth(int value);
    // Accepted only when value > 4 x Thick - 1; stored so that WordHeight - 4 x Thick + 1 is even.
    void setWordHeight(int value);
    // Accepted only when the thickness fits the current width and height.
    void setThick(int value);
    // Draws at once rather than at the next repaint, so a new reading shows without delay.
    void setText(const QString& value);
    // Turning it on sizes the control to the text at once.
    void setAutoSize(bool value);

    // The eight polygons of the cell whose top left corner is (x, y).
    static CellPolygons cellPolygons(int x, int y, int wordWidth, int wordHeight, int thick);

    QSize sizeHint() const override;

signals:
    void clicked();
    void doubleClicked();
    void mousePressed(Qt::MouseButton button, QPoint position);
    void mouseReleased(Qt::MouseButton button, QPoint position);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    // The control's own visible flag: a display on a window that is not shown yet still counts as
    // visible, one that was hidden does not.
    bool visibleFlag() const;
    void draw();
    QImage renderBitmap() const;
    void applySizeRule();
    // The text without its first ".", which takes no cell of its own.
    QString cellText() const;
    QSize autoSizeFor(int cellCount) const;

    int m_offSetX = 4;
    int m_offSetY = 4;
    int m_wordWidth = 17;
    int m_wordHeight = 29;
    int m_thick = 3;
    int m_space = 4;
    QString m_text = QStringLiteral("00");
    QColor m_bgColor = QColor(74, 66, 74);
    QColor m_lightColor = QColor(247, 255, 0);
    QColor m_darkColor = QColor(99, 99, 99);
    bool m_autoSize = true;
    bool m_pressed = false;
};
