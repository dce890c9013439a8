// The module's own helpers for the windows: reporting a failed action, and the child-window registry
// the frame's refresh reads.
#include "core/ReadingTable.h"
#include "support/TestModule.h"

#include <gtest/gtest.h>

#include <QObject>
#include <QWidget>

#include <functional>
#include <stdexcept>

namespace {

TEST(Module, RunOrReportPutsThingsRightThenShowsTheErrorsOwnWords)
{
    struct Case {
        const char* name;
        std::function<void()> action;
        bool succeeds;
        QString shown;
    };
    const Case cases[] = {
        { "an action that works", [] {}, true, {} },
        // The text reaches the box as the error carried it: not through the locale's encoding.
        { "a table error", [] { throw TableError(QStringLiteral("Cannot write Messreihe \u00fc\u00df\u00e9 \u6e2c")); },
            false, QStringLiteral("Cannot write Messreihe \u00fc\u00df\u00e9 \u6e2c") },
        { "a standard exception, UTF-8", [] { throw std::runtime_error("disque plein \xc3\xa9"); }, false,
            QStringLiteral("disque plein \u00e9") },
    };
    for (const Case& c : cases) {
        TestModule fixture;
        TForm6& m = *fixture.module;
        QWidget owner;
        std::size_t messagesWhenPutRight = 99;
        const bool result = m.RunOrReport(QStringLiteral("Error Information"), &owner, c.action,
            [&] { messagesWhenPutRight = fixture.ui.messages.size(); });

        EXPECT_EQ(result, c.succeeds) << c.name;
        if (c.succeeds) {
            EXPECT_TRUE(fixture.ui.messages.empty()) << c.name;
            EXPECT_EQ(messagesWhenPutRight, 99U) << c.name << ": nothing to put right";
            continue;
        }
        EXPECT_EQ(messagesWhenPutRight, 0U) << c.name << ": put right before the box";
        ASSERT_EQ(fixture.ui.messages.size(), 1U) << c.name;
        EXPECT_EQ(fixture.ui.messages[0].text, c.shown) << c.name;
        EXPECT_EQ(fixture.ui.messages[0].caption, "Error Information") << c.name;
        EXPECT_EQ(fixture.ui.messages[0].icon, MessageIcon::Error) << c.name;
        EXPECT_EQ(m.LastErrorText, c.shown) << c.name;
        EXPECT_EQ(m.LastErrorCaption, "Error Information") << c.name;
    }
}

// Each kind keeps its own row: window, handle, drop flag, and its command flag (the analysis window
// has an open flag instead).
TEST(Module, ChildWindowRegistryRowsFollowOpenCloseAndCancelledClose)
{
    struct Row {
        bool open;
        bool handle;
        bool drop;
        bool command;
    };
    struct Case {
        ChildWindowKind kind;
        std::function<Row(const TForm6&)> read;
    };
    const Case cases[] = {
        { ChildWindowKind::Measure,
            [](const TForm6& m) {
                return Row { m.ChildWindowOpen(ChildWindowKind::Measure), !m.MeasureWindowHandle.isNull(),
                    m.DropMeasureMenuItem, m.MeasureCommandEnabled };
            } },
        { ChildWindowKind::Import,
            [](const TForm6& m) {
                return Row { m.ChildWindowOpen(ChildWindowKind::Import), !m.ImportWindowHandle.isNull(),
                    m.DropImportMenuItem, m.ImportCommandEnabled };
            } },
        { ChildWindowKind::Analysis,
            [](const TForm6& m) {
                return Row { m.AnalysisWindowOpen, !m.AnalysisWindowHandle.isNull(), m.DropAnalysisMenuItem, false };
            } },
    };
    for (const Case& c : cases) {
        const int kind = static_cast<int>(c.kind);
        TestModule fixture;
        TForm6& m = *fixture.module;
        // As the module's start-up leaves them.
        m.MeasureCommandEnabled = m.ImportCommandEnabled = true;
        m.DropMeasureMenuItem = m.DropImportMenuItem = m.DropAnalysisMenuItem = true;
        QObject window;

        m.ChildWindowOpened(c.kind, &window);
        Row row = c.read(m);
        EXPECT_TRUE(row.open && row.handle) << kind;
        EXPECT_FALSE(row.drop) << kind;
        EXPECT_EQ(m.ChildWindow(c.kind), &window) << kind;

        m.ChildWindowClosed(c.kind);
        row = c.read(m);
        EXPECT_FALSE(row.open || row.handle) << kind;
        EXPECT_TRUE(row.drop) << kind;
        EXPECT_EQ(row.command, c.kind != ChildWindowKind::Analysis) << kind;

        // The user kept the window at the unsaved-data question: listed again, command off, and its
        // Window-menu item no longer due to be dropped, so the next refresh keeps it.
        m.ChildWindowCloseCancelled(c.kind, &window);
        row = c.read(m);
        EXPECT_TRUE(row.open && row.handle) << kind;
        EXPECT_FALSE(row.drop) << kind;
        EXPECT_FALSE(row.command) << kind;
    }
}

} // namespace
