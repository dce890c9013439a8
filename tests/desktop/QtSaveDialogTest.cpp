// The real save dialog, driven as a user would: choose a filter, type a bare name, press Save. The
// name must end with the suffix of the filter chosen, whichever the dialog opened with.
#include "desktop/QtUserInteraction.h"

#include <QApplication>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

constexpr char ExportLikeFilter[] = "*.XLS|*.XLS|*.xls|*.xls|*.xlsx|*.xlsx|*.csv|*.csv";

// Waits for the dialog to be up, then answers it from inside its own event loop.
void AnswerSaveDialog(const QString& filter, const QString& typedPath)
{
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, filter, typedPath] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        if (!filter.isEmpty())
            dialog->selectNameFilter(filter);
        dialog->selectFile(typedPath);
        QMetaObject::invokeMethod(dialog, "accept");
    });
    poll->start(10);
}

TEST(QtSaveDialog, ABareNameTakesTheSuffixOfTheChosenFilter)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const struct {
        const char* filter; // empty: the filter the dialog opened with
        const char* typed;
        const char* returned;
    } cases[] = {
        { "", "name", "name.XLS" },
        { "*.xls (*.xls)", "name", "name.xls" },
        { "*.xlsx (*.xlsx)", "name", "name.xlsx" },
        { "*.csv (*.csv)", "name", "name.csv" },
        // A name that has a suffix keeps it, whatever the filter.
        { "*.xlsx (*.xlsx)", "name.csv", "name.csv" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(QStringLiteral("%1 / %2").arg(c.filter, c.typed).toStdString());
        AnswerSaveDialog(QString::fromLatin1(c.filter), dir.filePath(QString::fromLatin1(c.typed)));
        QtUserInteraction ui;
        const QString path
            = ui.askSaveFileName(nullptr, { QString::fromLatin1(ExportLikeFilter), QStringLiteral("XLS") });
        EXPECT_EQ(path, dir.filePath(QString::fromLatin1(c.returned)));
    }
}

TEST(QtSaveDialog, FiltersWithoutOneSuffixFallBackToTheDefault)
{
    const struct {
        const char* filter;
        const char* returned;
    } cases[] = {
        { "All files (*)", "/tmp/name.dmr" },
        { "Data (*.dmr *.DMR)", "/tmp/name.dmr" },
        { "Any (*.*)", "/tmp/name.dmr" },
        { "", "/tmp/name.dmr" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(WithDefaultSuffix("/tmp/name", QString::fromLatin1(c.filter), "dmr"), c.returned) << c.filter;
    EXPECT_EQ(WithDefaultSuffix("/tmp/name", "All files (*)", QString()), "/tmp/name");
    EXPECT_EQ(WithDefaultSuffix(QString(), "*.csv (*.csv)", "XLS"), QString());
}

} // namespace
