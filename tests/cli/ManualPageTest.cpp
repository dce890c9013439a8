// The manual page decimora-cli(1) against the tool's own option tables: every option a command takes
// stands in that command's synopsis, and every meter option in the page's METER OPTIONS.

#include "cli/CliCommands.h"
#include "support/TestFiles.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

// The page's text with the roff escapes of a dash undone: "\-\-max\-hold" reads "--max-hold".
QString ManualPage()
{
    return QString::fromUtf8(readFile(QStringLiteral(DECIMORA_CLI_MANUAL_PAGE))).replace(QLatin1String("\\-"), "-");
}

// The text between a heading or synopsis line and the next line that starts with end.
QString Section(const QString& page, const QString& start, const QString& end)
{
    const qsizetype from = page.indexOf(start);
    if (from < 0)
        return {};
    const qsizetype to = page.indexOf(end, from + start.size());
    return page.mid(from, to < 0 ? -1 : to - from);
}

// "--trace" as a whole word: "--mqtt" is not found in "--mqtt-queue".
bool Names(const QString& text, const char* option)
{
    const QRegularExpression word(QStringLiteral("--%1(?![A-Za-z-])").arg(QRegularExpression::escape(option)));
    return word.match(text).hasMatch();
}

TEST(ManualPage, EveryOptionOfEveryCommandStandsInItsSynopsis)
{
    const QString page = ManualPage();
    ASSERT_FALSE(page.isEmpty());
    const QString synopsis = Section(page, QStringLiteral(".SH SYNOPSIS"), QStringLiteral("\n.SH "));
    ASSERT_FALSE(synopsis.isEmpty());
    for (const CliCommand* command : CliCommandTable()) {
        SCOPED_TRACE(command->name);
        const QString entry
            = Section(synopsis, QStringLiteral(".B decimora-cli %1\n").arg(QLatin1String(command->name)), "\n.br");
        ASSERT_FALSE(entry.isEmpty()) << "no synopsis";
        for (const CliOption& option : command->options) {
            if (!option.hidden) {
                EXPECT_TRUE(Names(entry, option.name)) << "--" << option.name;
            }
        }
        for (const CliArgument& argument : command->arguments)
            EXPECT_TRUE(entry.contains(QLatin1String(argument.name))) << argument.name;
        EXPECT_EQ(entry.contains(QLatin1String("meter-options")), command->talksToMeter);
    }
    const QString meterOptions = Section(page, QStringLiteral(".SH METER OPTIONS"), QStringLiteral("\n.SH "));
    ASSERT_FALSE(meterOptions.isEmpty());
    for (const CliOption& option : MeterOptionTable()) {
        if (!option.hidden) {
            EXPECT_TRUE(Names(meterOptions, option.name)) << "--" << option.name;
        }
    }
}

} // namespace
