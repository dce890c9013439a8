#include "shell/DataSheetPrinting.h"

#include "core/EventPump.h"
#include "core/systemvar.h"
#include "report/ReportEngine.h"

#include <QDir>
#include <QProgressDialog>

#include <algorithm>
#include <climits>
#include <memory>

namespace {

// The definition the start-up found in the program's folder, whatever the case of its name; the
// shipped name there when the start-up found none.
QString DataSheetDefinitionPath(const TForm6& module)
{
    if (!module.ReportProjectFile.isEmpty())
        return module.ReportProjectFile;
    return QDir(module.Folders().resourceFolder()).filePath(QString::fromLatin1(DataSheetDefinitionName));
}

// The window that shows how far a print has got; made at the first page, shown once the print has
// taken half a second.
class PrintProgress {
public:
    explicit PrintProgress(QWidget* owner)
        : owner_(owner)
    {
    }

    void operator()(qint64 rowsPrinted, qint64 rows)
    {
        if (!window_) {
            window_ = std::make_unique<QProgressDialog>(
                QString::fromLatin1(DataSheetProgressText), QString(), 0, 0, owner_);
            window_->setObjectName(QStringLiteral("DataSheetProgress"));
            window_->setWindowTitle(QStringLiteral("Print Data Sheet"));
            window_->setWindowModality(Qt::ApplicationModal);
            window_->setCancelButton(nullptr);
            window_->setMinimumDuration(ShowAfterMs);
        }
        if (!pump_.due())
            return;
        window_->setMaximum(int(std::min<qint64>(rows, INT_MAX)));
        window_->setValue(int(std::min<qint64>(rowsPrinted, INT_MAX)));
        pump_();
    }

private:
    static constexpr int ShowAfterMs = 500;
    QWidget* owner_;
    std::unique_ptr<QProgressDialog> window_;
    EventPump pump_;
};

} // namespace

void PrintDataSheet(TForm6& module, QPrinter& printer, const ReadingTable* table, QWidget* owner)
{
    if (!table)
        return;
    // 1. The message for a table without readings.
    const QString noData = QString::fromLatin1(NoDataToPrintMessage);
    const QString caption = QString::fromLatin1(PrintErrorCaption);
    ReportEngine ReportProject(module.Ui(), module.SystemTime());
    PrintProgress progress(owner);
    ReportProject.setProgress([&progress](qint64 rowsPrinted, qint64 rows) { progress(rowsPrinted, rows); });
    module.RunOrReport(
        caption, owner,
        [&] {
            // 2. The definition, read afresh: it may have been edited since the last print.
            ReportProject.open(DataSheetDefinitionPath(module));
            // 3.
            ReportProject.bind(QString::fromLatin1(ReportDataConnection1), *table);
            if (table->isEmpty()) {
                ReportProject.close();
                module.ShowMessageBox(noData, caption, MessageButtons::Ok, MessageIcon::Error, owner);
                return;
            }
            // 4.
            ReportProject.run(printer, owner);
            ReportProject.close();
        },
        [&] { ReportProject.close(); });
}
