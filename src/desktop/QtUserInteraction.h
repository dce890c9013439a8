#pragma once

#include "core/UserInteraction.h"

#include <QHash>

// The real dialogs: QMessageBox, QFileDialog, QPrintDialog, QPrintPreviewDialog and the report's
// output dialog.
class QtUserInteraction final : public UserInteraction {
public:
    // The folder a PDF file is first proposed in: the user's documents folder when it exists, else
    // the home folder. Tests give another.
    explicit QtUserInteraction(QString firstPdfFolder = {});

    MessageAnswer showMessage(
        QWidget* owner, const QString& text, const QString& caption, MessageButtons buttons, MessageIcon icon) override;
    QString askSaveFileName(QWidget* owner, const FileDialogRequest& request) override;
    QString askOpenFileName(QWidget* owner, const FileDialogRequest& request) override;
    QStringList askOpenFileNames(QWidget* owner, const FileDialogRequest& request) override;
    bool askPrinterSetup(QWidget* owner, QPrinter& printer) override;
    ReportOutputChoice askReportOutput(QWidget* owner, const QString& reportTitle, const QPrinter& printer) override;
    void showPrintPreview(QWidget* owner, QPrinter& printer, const std::function<void(QPrinter&)>& paint) override;

    // The PDF file the report output dialog proposes for a report of this title: the file last
    // chosen for it while its folder exists, else a file named after it in the folder last written
    // to, else in the first folder.
    QString proposedPdfPath(const QString& reportTitle) const;

private:
    QString firstPdfFolder_;
    QString lastPdfFolder_;
    QHash<QString, QString> lastPdfFiles_;
};

// "*.dmr|*.dmr|*.DMR|*.DMR" -> "*.dmr (*.dmr);;*.DMR (*.DMR)"
QString toQtFileFilter(const QString& pipeFilter);
// "\r" and "\r\n" become "\n" for display.
QString toDisplayText(const QString& text);
// A save dialog's answer with no suffix gets that of the filter chosen (a Qt filter such as
// "*.xlsx (*.xlsx)"), or defaultSuffix when the filter names no single one.
QString WithDefaultSuffix(const QString& path, const QString& chosenFilter, const QString& defaultSuffix);
