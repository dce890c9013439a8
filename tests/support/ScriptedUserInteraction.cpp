#include "ScriptedUserInteraction.h"

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

bool ScriptedUserInteraction::askPrinterSetup(QWidget*, QPrinter&)
{
    ++printerSetupCount;
    return takeFront(printerSetupAnswers, false);
}
