// The about box opened from the main window offscreen: its texts, places and picture, the machine's
// lines, and the bookkeeping that keeps one box at a time.

#include "HelpMenuFrame.h"

#include <QFontInfo>
#include <QFrame>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <gmock/gmock.h>

namespace {

QMdiSubWindow* subWindowOf(QWidget* child)
{
    return child ? qobject_cast<QMdiSubWindow*>(child->parentWidget()) : nullptr;
}

TForm3* openAboutBox(HelpMenuFrame& program)
{
    program.frame->About1->trigger();
    return qobject_cast<TForm3*>(program.module().AboutWindow.data());
}

template <typename Widget> Widget* part(QWidget* box, const char* name)
{
    auto* found = box->findChild<Widget*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

// MemTotal of /proc/meminfo, in KB as the kernel counts it there.
QString memTotalKb()
{
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (!meminfo.open(QIODevice::ReadOnly))
        return {};
    const QRegularExpression line(QStringLiteral("^MemTotal:\\s+(\\d+) kB$"), QRegularExpression::MultilineOption);
    return line.match(QString::fromLatin1(meminfo.readAll())).captured(1);
}

TEST(AboutBox, OpensAt539By324PlacedByTheFrameWithItsTextsAtTheirPlaces)
{
    HelpMenuFrame program;
    ASSERT_TRUE(program.start());
    TForm1& frame = *program.frame;
    TForm3* box = openAboutBox(program);
    ASSERT_NE(box, nullptr);
    QMdiSubWindow* sub = subWindowOf(box);
    ASSERT_NE(sub, nullptr);

    EXPECT_EQ(box->objectName(), "Form3");
    EXPECT_EQ(sub->windowTitle(), "About Decimora");
    EXPECT_EQ(frame.ActiveChild(), box);
    EXPECT_EQ(sub->geometry(), QRect((frame.width() - 539) / 2, (frame.height() - 324) / 4, 539, 324));
    const Qt::WindowFlags flags = sub->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));

    // Times New Roman, or the face with its metrics.
    EXPECT_THAT(QFontInfo(box->font()).family().toStdString(), testing::AnyOf("Times New Roman", "Liberation Serif"));

    struct Place {
        const char* name;
        QPoint topLeft;
        const char* text; // null: filled from the system
    };
    const Place places[] = {
        { "ProductName", { 176, 16 }, "Decimora" },
        { "Version", { 176, 56 }, "Version: 1.3 (Build 09.0105)" },
        { "OSVersion", { 176, 144 }, nullptr },
        { "PhysMem", { 176, 184 }, nullptr },
    };
    for (const Place& place : places) {
        SCOPED_TRACE(place.name);
        QLabel* label = part<QLabel>(box, place.name);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->pos(), place.topLeft);
        EXPECT_TRUE(label->isVisible());
        if (place.text)
            EXPECT_EQ(label->text(), place.text);
        else
            EXPECT_FALSE(label->text().isEmpty());
        // Every line fits inside the box.
        EXPECT_LE(label->geometry().right(), box->width());
    }

    // The product name: a heavy face, larger than the rest.
    const QFont name = part<QLabel>(box, "ProductName")->font();
    EXPECT_GE(QFontInfo(name).weight(), int(QFont::Bold));
    EXPECT_GT(QFontInfo(name).pixelSize(), QFontInfo(part<QLabel>(box, "Version")->font()).pixelSize());

    QPushButton* ok = part<QPushButton>(box, "OKButton");
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), "&OK");
    EXPECT_EQ(ok->geometry(), QRect(300, 248, 73, 25));

    auto* bevel = part<QFrame>(box, "Bevel1");
    ASSERT_NE(bevel, nullptr);
    EXPECT_EQ(bevel->frameShape(), QFrame::HLine);
    EXPECT_EQ(bevel->geometry().topLeft(), QPoint(152, 129));
    EXPECT_EQ(bevel->geometry().right(), box->width() - 1);

    auto* panel = part<QFrame>(box, "Panel1");
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->geometry(), QRect(0, 0, 145, box->height()));
    EXPECT_EQ(panel->frameShadow(), QFrame::Sunken);
    // The picture fills the panel's inside: the panel shows the decoded picture, scaled.
    const QImage shown = panel->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRect inside = panel->contentsRect();
    const QImage expected = AboutPicture()
                                .scaled(inside.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                .convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(expected.isNull());
    for (const QPointF at : { QPointF(0.5, 0.12), QPointF(0.5, 0.4), QPointF(0.3, 0.8), QPointF(0.05, 0.05) }) {
        const QPoint inPicture(int(at.x() * inside.width()), int(at.y() * inside.height()));
        const QColor a = shown.pixelColor(inside.topLeft() + inPicture);
        const QColor b = expected.pixelColor(inPicture);
        EXPECT_NEAR(a.red(), b.red(), 24) << at.x() << "," << at.y();
        EXPECT_NEAR(a.green(), b.green(), 24) << at.x() << "," << at.y();
        EXPECT_NEAR(a.blue(), b.blue(), 24) << at.x() << "," << at.y();
    }
}

TEST(AboutBox, TheMemoryLineGivesTheMachinesPhysicalMemoryInKB)
{
    HelpMenuFrame program;
    ASSERT_TRUE(program.start());
    TForm3* box = openAboutBox(program);
    ASSERT_NE(box, nullptr);
    const QString kb = memTotalKb();
    ASSERT_FALSE(kb.isEmpty());
    EXPECT_EQ(part<QLabel>(box, "PhysMem")->text(), "Memory Available to Windows: " + kb + "KB");
    // The box sets FormsReady again once it has been filled.
    EXPECT_TRUE(program.module().FormsReady);

    struct Case {
        std::uint64_t bytes;
        const char* line;
    };
    const Case cases[] = {
        { 524288ULL * 1024, "Memory Available to Windows: 524288KB" },
        // Beyond 4 GB, which a 32-bit count could not hold.
        { 64ULL << 30, "Memory Available to Windows: 67108864KB" },
        // Whole KB only.
        { 2047, "Memory Available to Windows: 1KB" },
    };
    for (const Case& test : cases)
        EXPECT_EQ(MemoryLineText(test.bytes), test.line) << test.bytes;
}

TEST(AboutBox, TheSystemLineNamesTheKernelsMajorVersionAndTheDistribution)
{
    struct Case {
        const char* system;
        const char* kernelRelease;
        const char* osRelease;
        const char* line;
    };
    const Case cases[] = {
        { "Debian", "6.1.0-18-amd64",
            "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n# NAME=\"not this\"\nNAME=\"Debian GNU/Linux\"\n"
            "VERSION_ID=\"12\"\nVERSION=\"12 (bookworm)\"\nID=debian\n",
            "Linux 6 ( Debian GNU/Linux 12 )" },
        { "Ubuntu", "5.15.0-91-generic", "NAME=\"Ubuntu\"\nVERSION_ID=\"22.04\"\n", "Linux 5 ( Ubuntu 22.04 )" },
        { "a rolling release without a version", "6.7.4-arch1-1", "NAME=\"Arch Linux\"\nBUILD_ID=rolling\n",
            "Linux 6 ( Arch Linux )" },
        { "unquoted and single-quoted values", "10.2.1", "NAME=Gentoo\nVERSION_ID='2.15'\n",
            "Linux 10 ( Gentoo 2.15 )" },
        { "escapes inside double quotes", "6.6.0", "NAME=\"Our \\\"Own\\\" OS\"\nVERSION_ID=\"1\"\n",
            "Linux 6 ( Our \"Own\" OS 1 )" },
        { "no os-release file", "4.19.0", "", "Linux 4 ( Linux )" },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.system);
        SystemDescription system;
        system.kernelRelease = QString::fromLatin1(test.kernelRelease);
        system.osRelease = QString::fromUtf8(test.osRelease);
        EXPECT_EQ(SystemLineText(system), test.line);
    }

    // This machine: the kernel's own word for its release.
    HelpMenuFrame program;
    ASSERT_TRUE(program.start());
    TForm3* box = openAboutBox(program);
    ASSERT_NE(box, nullptr);
    QFile release(QStringLiteral("/proc/sys/kernel/osrelease"));
    ASSERT_TRUE(release.open(QIODevice::ReadOnly));
    const QString major = QString::fromLatin1(release.readAll()).section(QLatin1Char('.'), 0, 0);
    const QRegularExpressionMatch line = QRegularExpression(QStringLiteral("^Linux (\\d+) \\( (\\S.*\\S) \\)$"))
                                             .match(part<QLabel>(box, "OSVersion")->text());
    ASSERT_TRUE(line.hasMatch()) << part<QLabel>(box, "OSVersion")->text().toStdString();
    EXPECT_EQ(line.captured(1), major);
}

TEST(AboutBox, AboutIsDisabledWhileTheBoxIsOpenAndEnabledAgainOnEveryWayOfClosingIt)
{
    struct Case {
        const char* way;
        std::function<void(TForm3&)> close;
    };
    const Case cases[] = {
        { "&OK", [](TForm3& box) { QTest::mouseClick(box.findChild<QPushButton*>("OKButton"), Qt::LeftButton); } },
        { "the close box", [](TForm3& box) { subWindowOf(&box)->close(); } },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.way);
        HelpMenuFrame program;
        ASSERT_TRUE(program.start());
        TForm1& frame = *program.frame;
        ASSERT_TRUE(frame.About1->isEnabled());

        TForm3* box = openAboutBox(program);
        ASSERT_NE(box, nullptr);
        EXPECT_FALSE(frame.About1->isEnabled());
        EXPECT_FALSE(program.module().AboutCommandEnabled);
        frame.Timer1Timer();
        EXPECT_FALSE(frame.About1->isEnabled());
        // The command and its tool button do nothing while disabled: still one box.
        frame.About1->trigger();
        EXPECT_EQ(frame.MdiArea()->subWindowList().size(), 1);

        test.close(*box);
        EXPECT_TRUE(program.module().AboutCommandEnabled);
        // The box is destroyed once control is back in the event loop.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(program.module().AboutWindow.isNull());
        EXPECT_TRUE(frame.MdiArea()->subWindowList().isEmpty());
        frame.Timer1Timer();
        EXPECT_TRUE(frame.About1->isEnabled());

        // And it opens again.
        EXPECT_NE(openAboutBox(program), nullptr);
        EXPECT_EQ(frame.MdiArea()->subWindowList().size(), 1);
    }
}

TEST(AboutBox, TheJpegDecoderReadsTheProductPictureAndRefusesWhatIsNoJpeg)
{
    const QImage picture = AboutPicture();
    EXPECT_EQ(picture.size(), QSize(290, 592));

    QFile file(QStringLiteral(":/about/decimora-about.jpg"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray jpeg = file.readAll();
    struct Case {
        const char* data;
        QByteArray bytes;
    };
    const Case cases[] = {
        { "nothing", QByteArray() },
        { "text", QByteArray("this is no picture") },
        { "a PNG", QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) },
        { "the JPEG's first 40 bytes", jpeg.left(40) },
    };
    for (const Case& test : cases)
        EXPECT_TRUE(DecodeJpeg(test.bytes).isNull()) << test.data;
}

} // namespace
