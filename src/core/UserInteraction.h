#pragma once

#include <QString>

class QPrinter;
class QWidget;

enum class MessageButtons { Ok, YesNo, YesNoCancel };
enum class MessageIcon { None, Error, Question, Information };
enum class MessageAnswer { Ok, Yes, No, Cancel };

// A file dialog's filter in the program's own "description|pattern|description|pattern" form,
// for example "*.dmr|*.dmr|*.DMR|*.DMR".
struct FileDialogRequest {
    QString filter;
    QString defaultExtension; // without the dot; empty for none
};

// Every question, message and dialog the user sees goes through this service, so that tests can
// answer them from a script. The module stores each message's text and caption in LastErrorText and
// LastErrorCaption before it asks the service (TForm6::ShowMessageBox).
class UserInteraction {
public:
    virtual ~UserInteraction() = default;

    // A "\r" in the text starts a new line on screen.
    virtual MessageAnswer showMessage(
        QWidget* owner, const QString& text, const QString& caption, MessageButtons buttons, MessageIcon icon)
        = 0;
    // The chosen path, or an empty text when the user cancelled.
    virtual QString askSaveFileName(QWidget* owner, const FileDialogRequest& request) = 0;
    virtual QString askOpenFileName(QWidget* owner, const FileDialogRequest& request) = 0;
    // The platform's printer setup dialog; false when cancelled.
    virtual bool askPrinterSetup(QWidget* owner, QPrinter& printer) = 0;
};

// The real dialogs: QMessageBox, QFileDialog, QPageSetupDialog.
class QtUserInteraction final : public UserInteraction {
public:
    MessageAnswer showMessage(
        QWidget* owner, const QString& text, const QString& caption, MessageButtons buttons, MessageIcon icon) override;
    QString askSaveFileName(QWidget* owner, const FileDialogRequest& request) override;
    QString askOpenFileName(QWidget* owner, const FileDialogRequest& request) override;
    bool askPrinterSetup(QWidget* owner, QPrinter& printer) override;
};

// "*.dmr|*.dmr|*.DMR|*.DMR" -> "*.dmr (*.dmr);;*.DMR (*.DMR)"
QString toQtFileFilter(const QString& pipeFilter);
// "\r" and "\r\n" become "\n" for display.
QString toDisplayText(const QString& text);
