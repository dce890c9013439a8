#include "shell/DataSheetPrinting.h"

#include "core/systemvar.h"
#include "report/ReportEngine.h"

#include <QDir>

namespace {

// The definition the start-up found in the program's folder, whatever the case of its name; the
// shipped name there when the start-up found none.
QString DataSheetDefinitionPath(const TForm6& module)
{
    if (!module.ReportProjectFile.isEmpty())
        return module.ReportProjectFile;
    return QDir(module.Folders().resourceFolder()).filePath(QString::fromLatin1(DataSheetDefinitionName));
}

} // namespace

void PrintDataSheet(TForm6& module, QPrinter& printer, const ReadingTable* table, QWidget* owner)
{
    if (!table)
        return;
    // 1. The message for a table without readings.
    const QString noData = QString::fromLatin1(NoDataToPrintMessage);
    const QString caption = QString::fromLatin1(PrintErrorCaption);
    ReportEngine ReportProject(module.Ui(), module.SystemTime());
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
