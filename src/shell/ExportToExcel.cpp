#include "shell/ExportToExcel.h"

#include "core/systemvar.h"
#include "output/DBGridToExcel.h"
#include "shell/ExportProgressWindow.h"
#include "widgets/ReadingGridView.h"
#include "windowkit/ReadingsWindow.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QTableView>

namespace {

const QString ErrorCaption = QStringLiteral("Error Information");

} // namespace

GridDescription DescribeGrid(const QAbstractItemView* grid, ExportDataSet& dataSet)
{
    if (!grid || !grid->model())
        return ReadingsGridDescription(dataSet);
    const QHeaderView* header = nullptr;
    if (const auto* readings = qobject_cast<const ReadingGridView*>(grid))
        header = readings->horizontalHeader();
    else if (const auto* table = qobject_cast<const QTableView*>(grid))
        header = table->horizontalHeader();
    const QAbstractItemModel* model = grid->model();
    GridDescription description;
    description.dataSet = &dataSet;
    for (int shown = 0; shown < model->columnCount(); ++shown) {
        const int column = header ? header->logicalIndex(shown) : shown;
        const QString title = model->headerData(column, Qt::Horizontal).toString();
        description.columns.push_back(GridColumn { title, title, !(header && header->isSectionHidden(column)), {} });
    }
    return description;
}

void ExportToExcel(TForm6& m, ReadingsWindow& window)
{
    ReadingTable* table = window.readingsTable();
    if (!table)
        return;
    const QString path = m.Ui().askSaveFileName(
        &window, FileDialogRequest { QLatin1String(ExportFilter), QLatin1String(ExportDefaultExtension) });
    if (path.isEmpty())
        return;

    const SpreadsheetFormat format = SpreadsheetFormatOf(path);
    ReadingTableDataSet dataSet(*table, LevelsAs(format));
    const GridDescription grid = DescribeGrid(window.readingsGrid(), dataSet);
    ExportSheetHooks hooks;
    hooks.ask = [&m, &window](const QString& text, const QString& caption, MessageButtons buttons, MessageIcon icon) {
        return m.ShowMessageBox(text, caption, buttons, icon, &window);
    };
    hooks.busyCursor = [](bool busy) {
        if (busy)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QApplication::restoreOverrideCursor();
    };
    hooks.showProgress = ShowExportProgressWindow;
    TDBGridToExcel writer(hooks);
    writer.DBGrid = &grid;
    // A long export shows how far it has got, and the program keeps answering meanwhile.
    writer.ShowProgress = true;
    writer.FileName = path;
    writer.Format = format;
    // The Statistics sheet of an .xlsx counts the readings above the alarm level the user set.
    writer.HighAlarmLevel = m.SystemHighAlarm;
    // Asked below, before the writer starts.
    writer.AskBeforeReplacing = false;

    // A table the format cannot hold is refused before the user is asked anything more.
    if (!m.RunOrReport(ErrorCaption, &window, [&] { writer.CheckSheetFits(); }))
        return;
    const bool existed = QFileInfo::exists(path);
    if (existed
        && m.ShowMessageBox(path + QStringLiteral("  already exists!\rDo you want to replace it?"),
               QStringLiteral("Query  Information"), MessageButtons::YesNo, MessageIcon::Question, &window)
            != MessageAnswer::Yes)
        return;

    const qint64 records = table->rowCount();
    const bool exported = m.RunOrReport(ErrorCaption, &window, [&] {
        writer.ExportSheet();
        // The old file is replaced by the new one only when it is complete; an empty table writes
        // none, and the file the user agreed to replace goes all the same.
        if (existed && records == 0 && QFileInfo::exists(path)) {
            QFile old(path);
            if (!old.remove())
                throw SpreadsheetExportError(QStringLiteral("Cannot replace %1: %2").arg(path, old.errorString()));
        }
    });
    if (!exported)
        return;
    m.ShowMessageBox(QStringLiteral("Exported  %1  records total. \r").arg(records) + path,
        QStringLiteral("Export Data"), MessageButtons::Ok, MessageIcon::Information, &window);
}
