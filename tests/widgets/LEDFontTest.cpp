#include "widgets/LEDFont.h"

#include <QApplication>
#include <QImage>
#include <QPolygonF>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>
#include <set>
#include <vector>

namespace {

// The cell at (0, 0) with WordWidth 17, WordHeight 29, Thick 3, worked out by hand: segments 0..6
// and the point.
const std::vector<QPolygon> workedExample = {
    QPolygon({ { 2, 0 }, { 4, 2 }, { 8, 2 }, { 10, 0 } }),
    QPolygon({ { 12, 1 }, { 10, 3 }, { 10, 11 }, { 12, 13 } }),
    QPolygon({ { 12, 15 }, { 10, 17 }, { 10, 25 }, { 12, 27 } }),
    QPolygon({ { 10, 28 }, { 8, 26 }, { 4, 26 }, { 2, 28 } }),
    QPolygon({ { 0, 27 }, { 2, 25 }, { 2, 17 }, { 0, 15 } }),
    QPolygon({ { 0, 13 }, { 2, 11 }, { 2, 3 }, { 0, 1 } }),
    QPolygon({ { 3, 13 }, { 2, 14 }, { 3, 15 }, { 9, 15 }, { 10, 14 }, { 9, 13 } }),
    QPolygon({ { 14, 26 }, { 14, 29 }, { 17, 29 }, { 17, 26 } }),
};
constexpr int PointIndex = 7;

const QColor background(0, 0, 0);
const QColor lit(247, 255, 0);
const QColor unlit(99, 99, 99);

bool onSegment(QPoint a, QPoint b, QPoint p)
{
    const qint64 cross = qint64(b.x() - a.x()) * (p.y() - a.y()) - qint64(b.y() - a.y()) * (p.x() - a.x());
    return cross == 0 && p.x() >= std::min(a.x(), b.x()) && p.x() <= std::max(a.x(), b.x())
        && p.y() >= std::min(a.y(), b.y()) && p.y() <= std::max(a.y(), b.y());
}

// A polygon filled and outlined with a one-pixel pen covers the pixels inside it and on its edges.
bool covers(const QPolygon& polygon, QPoint pixel)
{
    for (qsizetype i = 0; i < polygon.size(); ++i) {
        if (onSegment(polygon.at(i), polygon.at((i + 1) % polygon.size()), pixel))
            return true;
    }
    return QPolygonF(polygon).containsPoint(QPointF(pixel), Qt::OddEvenFill);
}

// A shown window holding one display, as in the measurement window's read-out panel.
class LEDFontTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window.resize(400, 200);
        display = new TLEDFontNum(&window);
        display->installEventFilter(&paintCounter);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        settle();
    }

    // Lets pending repaints and the resize they may cause run.
    static void settle()
    {
        for (int i = 0; i < 3; ++i)
            QApplication::processEvents();
    }

    QImage image() const { return display->grab().toImage().convertToFormat(QImage::Format_RGB32); }

    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject* /*watched*/, QEvent* event) override
        {
            if (event->type() == QEvent::Paint)
                ++paints;
            return false;
        }
    };

    QWidget window;
    TLEDFontNum* display = nullptr;
    PaintCounter paintCounter;
};

TEST_F(LEDFontTest, StartsWithItsCreationValues)
{
    const TLEDFontNum fresh;
    EXPECT_EQ(fresh.size(), QSize(47, 38));
    struct Expected {
        const char* property;
        QVariant value;
    };
    const Expected expected[] = {
        { "OffSetX", 4 },
        { "OffSetY", 4 },
        { "WordWidth", 17 },
        { "WordHeight", 29 },
        { "Thick", 3 },
        { "Space", 4 },
        { "Text", QStringLiteral("00") },
        { "BGColor", QColor(74, 66, 74) },
        { "LightColor", QColor(247, 255, 0) },
        { "DarkColor", QColor(99, 99, 99) },
        { "AutoSize", true },
    };
    for (const Expected& e : expected)
        EXPECT_EQ(fresh.property(e.property), e.value) << e.property;
}

TEST_F(LEDFontTest, SettersAcceptAdjustOrRefuse)
{
    struct Case {
        const char* name;
        std::function<void(TLEDFontNum&)> prepare;
        std::function<void(TLEDFontNum&)> set;
        int width, height, thick;
        bool repaints;
    };
    const auto none = [](TLEDFontNum&) {};
    const Case cases[] = {
        { "even height becomes the next odd one", none, [](auto& d) { d.setWordHeight(48); }, 17, 49, 3, true },
        { "odd height is kept", none, [](auto& d) { d.setWordHeight(31); }, 17, 31, 3, true },
        { "height of 4T-1 is refused", none, [](auto& d) { d.setWordHeight(11); }, 17, 29, 3, false },
        { "height just above 4T-1 is made odd", none, [](auto& d) { d.setWordHeight(12); }, 17, 13, 3, true },
        { "same height does nothing", none, [](auto& d) { d.setWordHeight(29); }, 17, 29, 3, false },
        { "width of 2T is refused", none, [](auto& d) { d.setWordWidth(6); }, 17, 29, 3, false },
        { "width above 2T is taken", none, [](auto& d) { d.setWordWidth(7); }, 7, 29, 3, true },
        { "thickness too wide for width 13", [](auto& d) { d.setWordWidth(13); }, [](auto& d) { d.setThick(8); }, 13,
            29, 3, false },
        { "thickness too tall for height 29", none, [](auto& d) { d.setThick(8); }, 17, 29, 3, false },
        { "thickness that fits", none, [](auto& d) { d.setThick(7); }, 17, 29, 7, true },
        { "thickness 6 set before width and height", none,
            [](auto& d) {
                d.setThick(8);
                d.setWordWidth(28);
                d.setWordHeight(48);
            },
            28, 49, 3, true },
        { "width, height, then thickness", none,
            [](auto& d) {
                d.setWordWidth(28);
                d.setWordHeight(48);
                d.setThick(8);
            },
            28, 49, 8, true },
        { "range read-out sizes", none,
            [](auto& d) {
                d.setWordWidth(13);
                d.setWordHeight(17);
                d.setThick(3);
            },
            13, 17, 3, true },
        { "new margin repaints", none, [](auto& d) { d.setOffSetX(6); }, 17, 29, 3, true },
        { "same margin does nothing", none, [](auto& d) { d.setOffSetY(4); }, 17, 29, 3, false },
        { "new gap repaints", none, [](auto& d) { d.setSpace(2); }, 17, 29, 3, true },
        { "new colour repaints", none, [](auto& d) { d.setDarkColor(Qt::red); }, 17, 29, 3, true },
        { "same colour does nothing", none, [](auto& d) { d.setBGColor(QColor(74, 66, 74)); }, 17, 29, 3, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TLEDFontNum* tested = new TLEDFontNum(&window);
        tested->show();
        c.prepare(*tested);
        settle();
        PaintCounter counter;
        tested->installEventFilter(&counter);
        c.set(*tested);
        settle();
        EXPECT_EQ(tested->WordWidth(), c.width);
        EXPECT_EQ(tested->WordHeight(), c.height);
        EXPECT_EQ(tested->Thick(), c.thick);
        EXPECT_EQ(counter.paints > 0, c.repaints);
        delete tested;
    }
}

// Texts drawn with the worked-example cell (17 x 29, thickness 3) and the default margins and gap:
// every pixel is compared with the polygons the text should light.
TEST_F(LEDFontTest, DrawsTheCellsPolygonsPixelExactly)
{
    struct Cell {
        std::set<int> segments;
        bool point;
    };
    struct Case {
        const char* text;
        bool drawUnlit;
        bool drawLit;
        std::vector<Cell> cells;
    };
    const std::set<int> five = { 0, 5, 6, 2, 3 };
    const Case cases[] = {
        { "8.", true, true, { { { 0, 1, 2, 3, 4, 5, 6 }, true } } },
        { "8.", false, true, { { { 0, 1, 2, 3, 4, 5, 6 }, true } } },
        { "1.", true, true, { { { 1, 2 }, true } } },
        { "0123456789", false, true,
            { { { 0, 1, 2, 3, 4, 5 }, false }, { { 1, 2 }, false }, { { 0, 1, 6, 4, 3 }, false },
                { { 0, 1, 6, 2, 3 }, false }, { { 5, 6, 1, 2 }, false }, { five, false },
                { { 0, 5, 4, 3, 2, 6 }, false }, { { 0, 1, 2 }, false }, { { 0, 1, 2, 3, 4, 5, 6 }, false },
                { { 6, 5, 0, 1, 2, 3 }, false } } },
        { "-5", true, true, { { { 6 }, false }, { five, false } } },
        { "-.5", true, true, { { { 6 }, false }, { five, false } } },
        { ".5", true, true, { { five, false } } },
        { "5.5.", true, true, { { five, true }, { five, false }, { {}, false } } },
        { " 7", true, true, { { {}, false }, { { 0, 1, 2 }, false } } },
        { "A", true, true, { { {}, false } } },
        { "88", true, false, { { { 0, 1, 2, 3, 4, 5, 6 }, false }, { { 0, 1, 2, 3, 4, 5, 6 }, false } } },
    };
    display->setBGColor(background);
    display->setLightColor(lit);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        display->setDarkColor(c.drawUnlit ? unlit : background);
        display->setLightColor(c.drawLit ? lit : background);
        display->setText(QString::fromLatin1(c.text));
        settle();
        const QImage drawn = image();
        const int cellCount = static_cast<int>(c.cells.size());
        ASSERT_EQ(drawn.size(), QSize(cellCount * 17 + (cellCount - 1) * 4 + 8, 37));

        int mismatches = 0;
        for (int y = 0; y < drawn.height(); ++y) {
            for (int x = 0; x < drawn.width(); ++x) {
                bool inLit = false;
                bool inCell = false;
                for (int cell = 0; cell < cellCount; ++cell) {
                    const QPoint pixel(x - 4 - cell * 21, y - 4);
                    for (int polygon = 0; polygon <= PointIndex; ++polygon) {
                        if (!covers(workedExample[polygon], pixel))
                            continue;
                        inCell = true;
                        const Cell& expected = c.cells[cell];
                        if (polygon == PointIndex ? expected.point : expected.segments.contains(polygon))
                            inLit = true;
                    }
                }
                QColor want = background;
                if (inLit && c.drawLit)
                    want = lit;
                else if (inCell && c.drawUnlit)
                    want = unlit;
                if (drawn.pixelColor(x, y) != want && ++mismatches <= 5)
                    ADD_FAILURE() << "pixel " << x << "," << y << " is " << drawn.pixelColor(x, y).name().toStdString()
                                  << ", expected " << want.name().toStdString();
            }
        }
        EXPECT_EQ(mismatches, 0);
    }
}

// The worked example pins the geometry; at the read-outs' other sizes the drawn pixels must still be
// exactly the polygons, filled and outlined.
TEST_F(LEDFontTest, DrawsEverySizeAsItsClosedPolygons)
{
    struct Size {
        int width, height, thick;
    };
    const Size sizes[] = { { 28, 49, 6 }, { 13, 17, 3 }, { 10, 11, 1 }, { 9, 13, 2 }, { 40, 61, 9 } };
    display->setBGColor(background);
    display->setDarkColor(background);
    display->setLightColor(lit);
    display->setText(QStringLiteral("8."));
    for (const Size& size : sizes) {
        SCOPED_TRACE(testing::Message() << size.width << "x" << size.height << " T" << size.thick);
        display->setThick(1);
        display->setWordWidth(size.width);
        display->setWordHeight(size.height);
        display->setThick(size.thick);
        settle();
        ASSERT_EQ(display->Thick(), size.thick);
        const auto polygons = TLEDFontNum::cellPolygons(4, 4, size.width, size.height, size.thick);
        const QImage drawn = image();
        int mismatches = 0;
        for (int y = 0; y < drawn.height(); ++y) {
            for (int x = 0; x < drawn.width(); ++x) {
                const bool inside = std::any_of(
                    polygons.begin(), polygons.end(), [&](const QPolygon& p) { return covers(p, QPoint(x, y)); });
                if (drawn.pixelColor(x, y) != (inside ? lit : background))
                    ++mismatches;
            }
        }
        EXPECT_EQ(mismatches, 0);
    }
}

TEST_F(LEDFontTest, ThicknessOneFlattensTheMiddleBarToALine)
{
    // Thickness first: a height of 11 does not fit thickness 3.
    display->setWordWidth(10);
    display->setThick(1);
    display->setWordHeight(11);
    display->setDarkColor(background);
    display->setBGColor(background);
    display->setLightColor(lit);
    display->setText(QStringLiteral("-"));
    settle();
    ASSERT_EQ(display->Thick(), 1);
    const QImage drawn = image();
    ASSERT_EQ(drawn.size(), QSize(18, 19));
    // Row k - 1 = 5 of the cell, from x + 2 to x + W - 5, shifted by the margins of 4.
    for (int y = 0; y < drawn.height(); ++y) {
        for (int x = 0; x < drawn.width(); ++x) {
            const bool onBar = y == 4 + 5 && x >= 4 + 2 && x <= 4 + 5;
            EXPECT_EQ(drawn.pixelColor(x, y), onBar ? lit : background) << x << "," << y;
        }
    }
}

TEST_F(LEDFontTest, LevelReadoutOfFortyFiveSix)
{
    const QColor green(0, 128, 0);
    display->setBGColor(green);
    display->setDarkColor(green);
    display->setLightColor(lit);
    display->setWordWidth(28);
    display->setWordHeight(48);
    display->setThick(6);
    display->setSpace(4);
    display->setText(QStringLiteral("45.6"));
    settle();
    EXPECT_EQ(display->WordHeight(), 49);
    EXPECT_EQ(display->width(), 100);
    EXPECT_EQ(display->height(), 57);

    const QImage drawn = image();
    // The point squares of the three cells span x + 22 .. x + 28 and y + 43 .. y + 49.
    const int pointY = 4 + 46;
    EXPECT_EQ(drawn.pixelColor(4 + 25, pointY), green) << "no point after the 4";
    EXPECT_EQ(drawn.pixelColor(36 + 25, pointY), lit) << "point after the 5";
    EXPECT_EQ(drawn.pixelColor(68 + 25, pointY), green) << "no point after the 6";
    // The middle bars of the 4, 5 and 6 are lit: row k - 1 = 24 of each cell, at its middle.
    for (const int cellX : { 4, 36, 68 })
        EXPECT_EQ(drawn.pixelColor(cellX + 11, 4 + 24), lit) << "cell at " << cellX;
}

TEST_F(LEDFontTest, EmptyTextDrawsOnlyTheBackground)
{
    display->setText(QString());
    settle();
    EXPECT_EQ(display->width(), 2 * 4 - 4);
    EXPECT_EQ(display->height(), 2 * 4 + 29);
    const QImage drawn = image();
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x)
            EXPECT_EQ(drawn.pixelColor(x, y), QColor(74, 66, 74));
}

TEST_F(LEDFontTest, NewTextDrawsAndResizesAtOnceTheSameTextDoesNothing)
{
    const int before = paintCounter.paints;
    display->setText(QStringLiteral("123"));
    EXPECT_GT(paintCounter.paints, before) << "drawn without waiting for the event loop";
    EXPECT_EQ(display->width(), 3 * 17 + 2 * 4 + 8);

    settle();
    const int afterSettle = paintCounter.paints;
    display->setText(QStringLiteral("123"));
    settle();
    EXPECT_EQ(paintCounter.paints, afterSettle);
}

TEST_F(LEDFontTest, HiddenDisplayNeitherDrawsNorResizes)
{
    display->hide();
    const QSize before = display->size();
    const int paints = paintCounter.paints;
    display->setText(QStringLiteral("12345"));
    settle();
    EXPECT_EQ(display->size(), before);
    EXPECT_EQ(paintCounter.paints, paints);
}

TEST_F(LEDFontTest, TurningAutoSizeOnSizesToTheTextAtOnce)
{
    display->setAutoSize(false);
    display->setText(QStringLiteral("1234"));
    settle();
    EXPECT_EQ(display->width(), 2 * 17 + 4 + 8) << "kept the size it had for \"00\"";

    display->setAutoSize(true);
    EXPECT_EQ(display->size(), QSize(4 * 17 + 3 * 4 + 8, 37));
}

} // namespace
