#include "support/ScriptedUserInteraction.h"

#include <QEventLoop>
#include <QPointer>
#include <QPrinter>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

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

void ScriptedUserInteraction::stayOpen(QWidget* owner)
{
    const QPointer<QWidget> watchedOwner(owner);
    QEventLoop box;
    for (const std::function<void()>& work : everySecond)
        QTimer::singleShot(0, &box, work);
    if (!whileOpen.empty()) {
        QTimer::singleShot(0, &box, whileOpen.front());
        whileOpen.pop_front();
    }
    QTimer::singleShot(boxOpenMs, &box, &QEventLoop::quit);
    box.exec();
    if (owner && !watchedOwner)
        ADD_FAILURE() << "A box's owner was destroyed while the box was open; a real box would have been destroyed "
                         "with it, under the code that waits for its answer.";
}

MessageAnswer ScriptedUserInteraction::showMessage(
    QWidget* owner, const QString& text, const QString& caption, MessageButtons buttons, MessageIcon icon)
{
    messages.push_back({ text, caption, buttons, icon });
    stayOpen(owner);
    const MessageAnswer fallback = buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
    return takeFront(answers, fallback);
}

QString ScriptedUserInteraction::askSaveFileName(QWidget* owner, const FileDialogRequest& request)
{
    saveDialogs.push_back(request);
    stayOpen(owner);
    return takeFront(saveFileNames, QString());
}

QString ScriptedUserInteraction::askOpenFileName(QWidget* owner, const FileDialogRequest& request)
{
    openDialogs.push_back(request);
    stayOpen(owner);
    return takeFront(openFileNames, QString());
}

QStringList ScriptedUserInteraction::askOpenFileNames(QWidget* owner, const FileDialogRequest& request)
{
    if (openFileNameLists.empty())
        return UserInteraction::askOpenFileNames(owner, request);
    openDialogs.push_back(request);
    stayOpen(owner);
    return takeFront(openFileNameLists, QStringList());
}

bool ScriptedUserInteraction::askPrinterSetup(QWidget* owner, QPrinter& printer)
{
    ++printerSetupCount;
    stayOpen(owner);
    const bool accepted = takeFront(printerSetupAnswers, false);
    if (accepted && printerSetupChoice)
        printerSetupChoice(printer);
    return accepted;
}

ReportOutputChoice ScriptedUserInteraction::askReportOutput(QWidget* owner, const QString& reportTitle, const QPrinter&)
{
    reportOutputDialogs << reportTitle;
    stayOpen(owner);
    return takeFront(reportOutputs, ReportOutputChoice {});
}

void ScriptedUserInteraction::showPrintPreview(
    QWidget* owner, QPrinter& printer, const std::function<void(QPrinter&)>& paint)
{
    ++previewCount;
    stayOpen(owner);
    if (previewPdfPath.isEmpty())
        return;
    QPrinter pages(QPrinter::HighResolution);
    pages.setOutputFormat(QPrinter::PdfFormat);
    pages.setOutputFileName(previewPdfPath);
    pages.setPageLayout(printer.pageLayout());
    paint(pages);
}
