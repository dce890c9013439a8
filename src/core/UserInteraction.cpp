#include "UserInteraction.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPrinter>
#include <QStringList>

QString toQtFileFilter(const QString& pipeFilter)
{
    const QStringList parts = pipeFilter.split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        entries << QStringLiteral("%1 (%2)").arg(parts[i], parts[i + 1]);
    return entries.join(QStringLiteral(";;"));
}

QString toDisplayText(const QString& text)
{
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

namespace {

QMessageBox::Icon toQtIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Error:
        return QMessageBox::Critical;
    case MessageIcon::Question:
        return QMessageBox::Question;
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons toQtButtons(MessageButtons buttons)
{
    switch (buttons) {
    case MessageButtons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
    case MessageButtons::YesNoCancel:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case MessageButtons::Ok:
        break;
    }
    return QMessageBox::Ok;
}

} // namespace

MessageAnswer QtUserInteraction::showMessage(
    QWidget* owner, const QString& text, const QString& caption, MessageButtons buttons, MessageIcon icon)
{
    QMessageBox box(toQtIcon(icon), caption, toDisplayText(text), toQtButtons(buttons), owner);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return MessageAnswer::Yes;
    case QMessageBox::No:
        return MessageAnswer::No;
    case QMessageBox::Cancel:
        return MessageAnswer::Cancel;
    default:
        break;
    }
    // Closing a Yes/No/Cancel box with its close button answers Cancel; an OK box answers OK.
    return buttons == MessageButtons::YesNoCancel ? MessageAnswer::Cancel : MessageAnswer::Ok;
}

QString QtUserInteraction::askSaveFileName(QWidget* owner, const FileDialogRequest& request)
{
    QFileDialog dialog(owner);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(toQtFileFilter(request.filter));
    dialog.setDefaultSuffix(request.defaultExtension);
    // The program asks its own replace question.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QString QtUserInteraction::askOpenFileName(QWidget* owner, const FileDialogRequest& request)
{
    return QFileDialog::getOpenFileName(owner, QString(), QString(), toQtFileFilter(request.filter));
}

bool QtUserInteraction::askPrinterSetup(QWidget* owner, QPrinter& printer)
{
    QPageSetupDialog dialog(&printer, owner);
    return dialog.exec() == QDialog::Accepted;
}
