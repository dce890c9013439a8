#include "windowkit/DataFileSave.h"

#include "core/systemvar.h"
#include "datafile/DataFile.h"

#include <QAbstractButton>
#include <QFileInfo>
#include <QLineEdit>

DataFileChoice AskDataFileName(TForm6& module, QWidget* owner, const QString& filter,
    const std::function<QString(const QString& path)>& replaceQuestion)
{
    const QString chosen = module.Ui().askSaveFileName(owner, FileDialogRequest { filter, QString() });
    if (chosen.isEmpty())
        return { DataFileChoice::Outcome::Cancelled, {} };
    const QString path = DataFilePathForSave(chosen);
    if (QFileInfo::exists(path)) {
        const MessageAnswer answer = module.ShowMessageBox(replaceQuestion(path), QStringLiteral("Query Information"),
            MessageButtons::YesNo, MessageIcon::Question, owner);
        if (answer != MessageAnswer::Yes)
            return { DataFileChoice::Outcome::Declined, path };
    }
    return { DataFileChoice::Outcome::Chosen, path };
}

bool WriteReadingsFile(TForm6& module, QWidget* owner, const QString& errorCaption, const ReadingTable* table,
    const QString& path, QAbstractButton* saveButton, QLineEdit* nameBox)
{
    const bool written = module.RunOrReport(
        errorCaption, owner,
        [&] {
            if (table)
                WriteDataFile(*table, path);
        },
        [&] {
            module.MeasureSaved = false;
            saveButton->setEnabled(true);
            nameBox->clear();
        });
    if (written)
        module.MeasureSaved = true;
    return written;
}
