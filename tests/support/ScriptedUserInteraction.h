#pragma once

#include "core/UserInteraction.h"

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

// Answers the program's questions and dialogs from a script and records what was shown.
//
// Like a real modal box, every box and dialog answers from inside an event loop of its own: while
// it is open, timers fire, windows close, deferred deletes run and the work registered in
// everySecond (the frame's one-second refresh) comes round once. A box whose owner is destroyed
// while it is open fails the test: a real box, a child of its owner on the caller's stack, would
// be freed with it.
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

    // How long each box stays open: long enough for the work that was waiting to run.
    int boxOpenMs = 20;
    // Work that the program does once a second (the frame's refresh): a user takes at least that
    // long to answer, so each runs once inside every box.
    std::vector<std::function<void()>> everySecond;
    // What the user does while a box is open, before answering it: one action per box, in order.
    std::deque<std::function<void()>> whileOpen;

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

private:
    // Runs the box's event loop until the user answers.
    void stayOpen(QWidget* owner);
};
