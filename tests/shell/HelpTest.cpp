// The help engine and its window offscreen, with the help file the build compiled: loading chmlib
// once, its absence, the welcome topic with its pictures and links, every page of the file, and
// close-all from the main window's close.

#include "HelpMenuFrame.h"
#include "shell/HelpViewer.h"

#include <QAbstractTextDocumentLayout>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QToolButton>
#include <QTreeWidget>
#include <gmock/gmock.h>

#include <set>

namespace {

using testing::ElementsAre;

HelpWindow* onlyHelpWindow(HelpMenuFrame& program)
{
    const QList<HelpWindow*> windows = program.help.Windows();
    EXPECT_EQ(windows.size(), 1);
    return windows.size() == 1 ? windows.front() : nullptr;
}

struct PageParts {
    QStringList links;
    QStringList pictures;
};

// The links and pictures of the page the browser shows, as the page writes them.
PageParts partsOf(const QTextDocument& page)
{
    PageParts parts;
    for (QTextBlock block = page.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.isImageFormat())
                parts.pictures << format.toImageFormat().name();
            else if (format.isAnchor() && !format.anchorHref().isEmpty() && !parts.links.contains(format.anchorHref()))
                parts.links << format.anchorHref();
        }
    }
    return parts;
}

// Clicks the link whose text is given, as the user would.
void clickLink(QTextBrowser& browser, const QString& text)
{
    QTextCursor found = browser.document()->find(text);
    ASSERT_FALSE(found.isNull()) << text.toStdString();
    browser.ensureCursorVisible();
    QTextCursor middle(browser.document());
    middle.setPosition((found.selectionStart() + found.selectionEnd()) / 2);
    browser.setTextCursor(middle);
    browser.ensureCursorVisible();
    const QPoint at = browser.cursorRect(middle).center();
    QTest::mouseClick(browser.viewport(), Qt::LeftButton, {}, at);
}

TEST(HelpEngine, HelpTwiceLoadsTheEngineOnceAndShowsTheWelcomeTopicInOneWindowOwnedByTheFrame)
{
    HelpMenuFrame program;
    ASSERT_TRUE(program.start());
    EXPECT_EQ(program.help.Loads(), 0); // nothing before the first use

    program.frame->DecimoraHelp1->trigger();
    program.frame->DecimoraHelp1->trigger();

    EXPECT_EQ(program.help.Loads(), 1);
    EXPECT_NE(program.help.Cookie(), 0U);
    EXPECT_TRUE(program.test.ui.messages.empty());
    HelpWindow* window = onlyHelpWindow(program);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->parentWidget(), program.frame.get());
    EXPECT_TRUE(window->isWindow());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Decimora Help");
    EXPECT_EQ(window->browser()->source(), QUrl("chm:/readme/welcome.doc"));
    EXPECT_EQ(window->browser()->documentTitle(), "Welcome to Decimora");
    ASSERT_NE(window->contents()->currentItem(), nullptr);
    EXPECT_EQ(window->contents()->currentItem()->text(0), "Welcome to Decimora");
}

TEST(HelpEngine, AMissingLibraryOrEntryPointIsReportedOnEveryUseAndStopsTheFramesClose)
{
    struct Case {
        const char* what;
        const char* library;
        const char* message;
    };
    const Case cases[] = {
        { "no library", "libdecimora-no-such-chmlib.so.1", "HHCtrl.OCX not installed!\r HTMLHELP cannot displayed!" },
        { "a library without the entry point", "libm.so.6", "Function HTMLHELP cannot loaded!" },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        HelpMenuFrame program(QString::fromLatin1(test.library));
        ASSERT_TRUE(program.start());
        TForm1& frame = *program.frame;

        frame.DecimoraHelp1->trigger();
        frame.DecimoraHelp1->trigger();

        ASSERT_EQ(program.test.ui.messages.size(), 2U);
        for (const auto& message : program.test.ui.messages) {
            EXPECT_EQ(message.text, test.message);
            EXPECT_EQ(message.caption, "Error Information");
            EXPECT_EQ(message.icon, MessageIcon::Error);
        }
        EXPECT_EQ(program.module().LastErrorText, test.message);
        EXPECT_EQ(program.help.Loads(), 0);
        EXPECT_TRUE(program.help.Windows().isEmpty());

        // Closing the frame: Yes to the question, then the help's close-all fails and the frame stays.
        program.test.ui.messages.clear();
        program.test.ui.answers.push_back(MessageAnswer::Yes);
        frame.close();
        ASSERT_EQ(program.test.ui.messages.size(), 2U);
        EXPECT_EQ(program.test.ui.messages[0].text, "Are You Sure to Exit This Program?");
        EXPECT_EQ(program.test.ui.messages[1].text, test.message);
        EXPECT_FALSE(frame.Ended());
        EXPECT_TRUE(frame.isVisible());

        // File > Exit still ends the program.
        program.test.ui.answers.push_back(MessageAnswer::Yes);
        frame.Exit1->trigger();
        EXPECT_TRUE(frame.Ended());
    }
}

TEST(HelpWindow, TheWelcomeTopicShowsItsPicturesAndALinkInsideItIsFollowed)
{
    HelpMenuFrame program;
    ASSERT_TRUE(program.start());
    program.frame->DecimoraHelp1->trigger();
    HelpWindow* window = onlyHelpWindow(program);
    ASSERT_NE(window, nullptr);
    ChmBrowser& browser = *window->browser();

    const PageParts welcome = partsOf(*browser.document());
    ASSERT_THAT(welcome.pictures, ElementsAre("../images/decimora-about.jpg"));
    // Laid out, the picture has been read from the file and decoded at its size on the page.
    browser.document()->documentLayout()->documentSize();
    const QVariant picture = browser.document()->resource(QTextDocument::ImageResource, QUrl(welcome.pictures[0]));
    EXPECT_EQ(picture.value<QImage>().size(), QSize(290, 592));

    QToolButton* back = window->findChild<QToolButton*>("BackButton");
    ASSERT_NE(back, nullptr);
    EXPECT_FALSE(back->isEnabled());

    clickLink(browser, QStringLiteral("Getting started"));

    EXPECT_EQ(browser.source(), QUrl("chm:/topics/getting-started.html"));
    EXPECT_EQ(browser.documentTitle(), "Getting started");
    ASSERT_NE(window->contents()->currentItem(), nullptr);
    EXPECT_EQ(window->contents()->currentItem()->text(0), "Getting started");
    // That page's tool-button pictures come out of the file too.
    const PageParts started = partsOf(*browser.document());
    ASSERT_EQ(started.pictures.size(), 10);
    browser.document()->documentLayout()->documentSize();
    for (const QString& name : started.pictures) {
        const QVariant image = browser.document()->resource(QTextDocument::ImageResource, QUrl(name));
        EXPECT_EQ(image.value<QImage>().size(), QSize(32, 32)) << name.toStdString();
    }

    ASSERT_TRUE(back->isEnabled());
    QTest::mouseClick(back, Qt::LeftButton);
    EXPECT_EQ(browser.source(), QUrl("chm:/readme/welcome.doc"));
}

TEST(HelpWindow, EveryPageOfTheHelpFileIsListedAndItsLinksAndPicturesAreInTheFile)
{
    HelpMenuFrame program;
    ASSERT_TRUE(program.start());
    program.frame->DecimoraHelp1->trigger();
    HelpWindow* window = onlyHelpWindow(program);
    ASSERT_NE(window, nullptr);

    QStringList titles;
    std::vector<QUrl> pages;
    for (int i = 0; i < window->contents()->topLevelItemCount(); ++i) {
        titles << window->contents()->topLevelItem(i)->text(0);
        pages.push_back(window->contents()->topLevelItem(i)->data(0, Qt::UserRole).toUrl());
    }
    EXPECT_EQ(titles,
        QStringList({ "Welcome to Decimora", "Getting started", "Giving your user access to the meter",
            "Measuring live, and the alarms", "Importing the meter's memory", "Comparing saved runs",
            "Setting up the meter and the program", "Exporting and printing", "Files the program keeps",
            "When something goes wrong" }));

    ChmBrowser& browser = *window->browser();
    std::set<QString> linked;
    for (const QUrl& page : pages) {
        SCOPED_TRACE(page.toString().toStdString());
        window->contents()->setCurrentItem(nullptr);
        browser.setSource(page);
        ASSERT_EQ(browser.source(), page);
        // A page that was found has its own title; a missing one would say "Page not found".
        EXPECT_FALSE(browser.documentTitle().isEmpty());
        EXPECT_NE(browser.documentTitle(), "Page not found");
        const PageParts parts = partsOf(*browser.document());
        for (const QString& link : parts.links) {
            const QUrl target = page.resolved(QUrl(link)).adjusted(QUrl::RemoveFragment);
            EXPECT_EQ(target.scheme(), "chm") << link.toStdString();
            EXPECT_FALSE(browser.loadResource(QTextDocument::ImageResource, target).isNull()) << link.toStdString();
            linked.insert(target.path());
        }
        for (const QString& name : parts.pictures) {
            const QVariant image = browser.loadResource(QTextDocument::ImageResource, page.resolved(QUrl(name)));
            EXPECT_FALSE(QImage::fromData(image.toByteArray()).isNull()) << name.toStdString();
        }
    }
    // Every page can be reached from the others, not only from the contents.
    for (const QUrl& page : pages)
        EXPECT_EQ(linked.count(page.path()), 1U) << page.toString().toStdString();
}

TEST(HelpEngine, CloseAllClosesEveryHelpWindowAndTheFramesCloseRunsIt)
{
    HelpMenuFrame program;
    ASSERT_TRUE(program.start());
    program.frame->DecimoraHelp1->trigger();
    // A second window, without an owner, on the same file.
    const std::intptr_t second
        = program.help.HtmlHelp(nullptr, program.helpFile() + "::/topics/files.html", HH_DISPLAY_TOPIC, 0);
    ASSERT_NE(second, 0);
    ASSERT_EQ(program.help.Windows().size(), 2);

    EXPECT_EQ(program.help.HtmlHelp(nullptr, QString(), HH_CLOSE_ALL, 0), 0);
    EXPECT_TRUE(TestModule::waitUntil([&] { return program.help.Windows().isEmpty(); }));

    // The frame's close, answered Yes, closes the help windows and ends the program.
    program.frame->DecimoraHelp1->trigger();
    ASSERT_EQ(program.help.Windows().size(), 1);
    QPointer<HelpWindow> window = program.help.Windows().front();
    program.test.ui.answers.push_back(MessageAnswer::Yes);
    program.frame->close();
    EXPECT_TRUE(program.frame->Ended());
    EXPECT_TRUE(TestModule::waitUntil([&] { return window.isNull(); }));
    EXPECT_EQ(program.help.Loads(), 1);
}

TEST(HelpEngine, AMissingHelpFileOrTopicIsReportedInTheHelpWindowAndTheResultIgnored)
{
    struct Case {
        const char* what;
        bool withHelpFile;
        QString topic;
        const char* says;
    };
    const Case cases[] = {
        { "no help file", false, QStringLiteral("/readme\\welcome.doc"), "cannot be read" },
        { "a topic the file lacks", true, QStringLiteral("/readme\\missing.doc"), "has no page /readme/missing.doc" },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        HelpMenuFrame program(QString::fromLatin1(ChmLibraryName), test.withHelpFile);
        ASSERT_TRUE(program.start());
        const std::intptr_t result
            = program.help.HtmlHelp(program.frame.get(), program.helpFile() + "::" + test.topic, HH_DISPLAY_TOPIC, 0);
        // The window's identity while the file can be read, else nothing.
        EXPECT_EQ(result != 0, test.withHelpFile);
        EXPECT_TRUE(program.test.ui.messages.empty());
        HelpWindow* window = onlyHelpWindow(program);
        ASSERT_NE(window, nullptr);
        EXPECT_THAT(window->browser()->toPlainText().toStdString(), testing::HasSubstr(test.says));

        // Help > Decimora Help says no more than the window does.
        program.frame->DecimoraHelp1->trigger();
        EXPECT_TRUE(program.test.ui.messages.empty());
    }
}

TEST(HelpContents, NestedListsOfSitemapObjectsBecomeATree)
{
    const QString sitemap = QStringLiteral(R"(<HTML><BODY>
<OBJECT type="text/site properties"><param name="Window Styles" value="0x800025"></OBJECT>
<UL>
  <LI><OBJECT type="text/sitemap"><param name="Name" value="Welcome"><param name="Local" value="readme/welcome.doc"></OBJECT>
  <ul>
    <li><object TYPE='text/sitemap'><PARAM NAME=Name VALUE="Live &amp; alarms"><param name="Local" value="topics\live.html#alarms"></object>
    <li><OBJECT type="text/sitemap"><param name="Name" value="Import"></OBJECT>
  </ul>
  <LI><OBJECT type="text/sitemap"><param name="Name" value="Files"><param name="Local" value="topics/files.html"></OBJECT>
</UL></BODY></HTML>)");
    const std::vector<ContentsEntry> top = ParseContents(sitemap);
    ASSERT_EQ(top.size(), 2U);
    EXPECT_EQ(top[0].name, "Welcome");
    EXPECT_EQ(top[0].local, "readme/welcome.doc");
    ASSERT_EQ(top[0].children.size(), 2U);
    EXPECT_EQ(top[0].children[0].name, "Live & alarms");
    EXPECT_EQ(HelpUrl(top[0].children[0].local), QUrl("chm:/topics/live.html#alarms"));
    EXPECT_EQ(top[0].children[1].name, "Import");
    EXPECT_TRUE(top[0].children[1].local.isEmpty());
    EXPECT_EQ(top[1].name, "Files");
    EXPECT_TRUE(top[1].children.empty());
}

} // namespace
