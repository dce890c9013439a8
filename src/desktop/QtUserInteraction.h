#pragma once

#include "core/UserInteraction.h"

// The real dialogs: QMessageBox, QFileDialog, QPrintDialog, QPrintPreviewDialog and the report's
// output dialog.
class QtUserInteraction final : public UserInteraction {
public:
    MessageAnswer showMessage(
        QWidget* owner, const QString& text, const QString& caption, MessageButtons buttons, MessageIcon icon) override;
    QString askSaveFileName(QWidget* owner, const FileDialogRequest& request) override;
    QString askOpenFileName(QWidget* owner, const FileDialogRequest& request) override;
    bool askPrinterSetup(QWidget* owner, QPrinter& printer) override;
    ReportOutputChoice askReportOutput(QWidget* owner, const QString& reportTitle, const QPrinter& printer) override;
    void showPrintPreview(QWidget* owner, QPrinter& printer, const std::function<void(QPrinter&)>& paint) override;
};

// "*.dmr|*.dmr|*.DMR|*.DMR" -> "*.dmr (*.dmr);;*.DMR (*.DMR)"
QString toQtFileFilter(const QString& pipeFilter);
// "\r" and "\r\n" become "\n" for display.
QString toDisplayText(const QString& text);
// A save dialog's answer with no suffix gets that of the filter chosen (a Qt filter such as
// "*.xlsx (*.xlsx)"), or defaultSuffix when the filter names no single one.
QString WithDefaultSuffix(const QString& path, const QString& chosenFilter, const QString& defaultSuffix);
