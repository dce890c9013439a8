#include "support/ScriptedUserInteraction.h"

#include <QPrinter>

namespace {
template <typename T> T takeFront(std::deque<T>& queue, T fallback)
{
    if (queue.empty())
        return fallback;
    T value = queue.front();
    queue.pop_front();
    return value;
}
} // namespace

MessageAnswer ScriptedUserInteraction::showMessage(
    QWidget*, const QString& text, const QString& caption, MessageButtons buttons, MessageIcon icon)
{
    messages.push_back({ text, caption, buttons, icon });
    const MessageAnswer fallback = buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
    return takeFront(answers, fallback);
}

QString ScriptedUserInteraction::askSaveFileName(QWidget*, const FileDialogRequest& request)
{
    saveDialogs.push_back(request);
    return takeFront(saveFileNames, QString());
}

QString ScriptedUserInteraction::askOpenFileName(QWidget*, const FileDialogRequest& request)
{
    openDialogs.push_back(request);
    return takeFront(openFileNames, QString());
}

QStringList ScriptedUserInteraction::askOpenFileNames(QWidget* owner, const FileDialogRequest& request)
{
    if (openFileNameLists.empty())
        return UserInteraction::askOpenFileNames(owner, request);
    openDialogs.push_back(request);
    return takeFront(openFileNameLists, QStringList());
}

bool ScriptedUserInteraction::askPrinterSetup(QWidget*, QPrinter& printer)
{
    ++printerSetupCount;
    const bool accepted = takeFront(printerSetupAnswers, false);
    if (accepted && printerSetupChoice)
        printerSetupChoice(printer);
    return accepted;
}

ReportOutputChoice ScriptedUserInteraction::askReportOutput(QWidget*, const QString& reportTitle, const QPrinter&)
{
    reportOutputDialogs << reportTitle;
    return takeFront(reportOutputs, ReportOutputChoice {});
}

void ScriptedUserInteraction::showPrintPreview(QWidget*, QPrinter& printer, const std::function<void(QPrinter&)>& paint)
{
    ++previewCount;
    if (previewPdfPath.isEmpty())
        return;
    QPrinter pages(QPrinter::HighResolution);
    pages.setOutputFormat(QPrinter::PdfFormat);
    pages.setOutputFileName(previewPdfPath);
    pages.setPageLayout(printer.pageLayout());
    paint(pages);
}
