#pragma once

#include "core/UserInteraction.h"

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

// Answers the program's questions and dialogs from a script and records what was shown.
class ScriptedUserInteraction final : public UserInteraction {
public:
    struct Message {
        QString text;
        QString caption;
        MessageButtons buttons;
        MessageIcon icon;
    };

    // Queued answers, used in order; with none left a message box answers Ok / Cancel and a file
    // dialog is cancelled.
    std::deque<MessageAnswer> answers;
    std::deque<QString> saveFileNames; // an empty text means "cancelled"
    std::deque<QString> openFileNames;
    // Answers of open dialogs in which several files are chosen at once, used before openFileNames.
    std::deque<QStringList> openFileNameLists;
    std::deque<bool> printerSetupAnswers;
    // What the user picks in an accepted printer setup dialog.
    std::function<void(QPrinter&)> printerSetupChoice;
    // Answers of report output dialogs; with none left the dialog is cancelled.
    std::deque<ReportOutputChoice> reportOutputs;
    // Where a preview's pages are written as PDF, so that a test can read what the preview showed;
    // empty: the preview paints nothing.
    QString previewPdfPath;

    std::vector<Message> messages;
    std::vector<FileDialogRequest> saveDialogs;
    std::vector<FileDialogRequest> openDialogs;
    int printerSetupCount = 0;
    // The report titles the output dialogs named.
    QStringList reportOutputDialogs;
    int previewCount = 0;

    MessageAnswer showMessage(
        QWidget* owner, const QString& text, const QString& caption, MessageButtons buttons, MessageIcon icon) override;
    QString askSaveFileName(QWidget* owner, const FileDialogRequest& request) override;
    QString askOpenFileName(QWidget* owner, const FileDialogRequest& request) override;
    QStringList askOpenFileNames(QWidget* owner, const FileDialogRequest& request) override;
    bool askPrinterSetup(QWidget* owner, QPrinter& printer) override;
    ReportOutputChoice askReportOutput(QWidget* owner, const QString& reportTitle, const QPrinter& printer) override;
    void showPrintPreview(QWidget* owner, QPrinter& printer, const std::function<void(QPrinter&)>& paint) override;
};
