#pragma once

#include <QString>
#include <QStringList>

#include <functional>

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

// Where a report's pages go, as chosen in the report's output dialog.
enum class ReportDestination { Cancel, Printer, Preview, PdfFile };
struct ReportOutputChoice {
    ReportDestination destination = ReportDestination::Cancel;
    // Printer: the printer to print on this once; empty for the printer the dialog was given.
    QString printerName;
    // PdfFile: the file to write.
    QString pdfPath;
};

// Every question, message and dialog the user sees goes through this service, so that tests can
// answer them from a script. The module stores each message's text and caption in LastErrorText and
// LastErrorCaption before it asks the service (TForm6::ShowMessageBox). The real dialogs
// (QtUserInteraction) live in the desktop library: QWidget and QPrinter are only named here, so that
// a program without a display can implement the service without linking either.
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
    // An open dialog in which several files may be chosen at once, in the order the dialog gives
    // them; empty when the user cancelled. A service without one asks for a single file.
    virtual QStringList askOpenFileNames(QWidget* owner, const FileDialogRequest& request)
    {
        const QString path = askOpenFileName(owner, request);
        return path.isEmpty() ? QStringList() : QStringList { path };
    }
    // The platform's printer setup dialog (printer, paper, orientation); false when cancelled.
    virtual bool askPrinterSetup(QWidget* owner, QPrinter& printer) = 0;
    // A report's output dialog: a printer (the given one offered first), a preview on screen or a
    // PDF file. The title names the report.
    virtual ReportOutputChoice askReportOutput(QWidget* owner, const QString& reportTitle, const QPrinter& printer) = 0;
    // Shows pages on screen until the user closes the preview. paint draws all the pages on the
    // printer it is handed, as often as the preview needs them (the preview may print them too);
    // it must not throw.
    virtual void showPrintPreview(QWidget* owner, QPrinter& printer, const std::function<void(QPrinter&)>& paint) = 0;
};

// The text and caption of the message box about to be shown (or of a failed write to the meter,
// which shows none): the module's record of the last message.
struct LastMessageRecord {
    QString LastErrorText;
    QString LastErrorCaption;
};
