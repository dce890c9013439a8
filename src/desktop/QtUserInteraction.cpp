#include "desktop/QtUserInteraction.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QStringList>

#include <algorithm>

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

// An existing folder for the first PDF file: documents, else home.
QString DefaultPdfFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QFileInfo(documents).isDir())
        return documents;
    return QDir::homePath();
}

bool FolderExists(const QString& path)
{
    return QFileInfo(QFileInfo(path).absolutePath()).isDir();
}

} // namespace

QtUserInteraction::QtUserInteraction(QString firstPdfFolder)
    : firstPdfFolder_(std::move(firstPdfFolder))
{
}

QString QtUserInteraction::proposedPdfPath(const QString& reportTitle) const
{
    const QString fileName = (reportTitle.isEmpty() ? QStringLiteral("Report") : reportTitle) + QStringLiteral(".pdf");
    const QString last = lastPdfFiles_.value(reportTitle);
    if (!last.isEmpty() && FolderExists(last))
        return last;
    for (const QString& folder : { lastPdfFolder_, firstPdfFolder_ }) {
        if (!folder.isEmpty() && QFileInfo(folder).isDir())
            return QDir(folder).filePath(fileName);
    }
    return QDir(DefaultPdfFolder()).filePath(fileName);
}

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

namespace {

// The one plain suffix a filter names ("*.xlsx (*.xlsx)" -> "xlsx"); empty for any other filter.
QString SuffixOfFilter(const QString& qtFilter)
{
    // "*.xlsx (*.xlsx)": the patterns are inside the last parentheses, blank-separated.
    const qsizetype open = qtFilter.lastIndexOf(QLatin1Char('('));
    const qsizetype close = qtFilter.lastIndexOf(QLatin1Char(')'));
    if (open < 0 || close < open)
        return {};
    const QStringList patterns = qtFilter.mid(open + 1, close - open - 1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (patterns.size() != 1 || !patterns[0].startsWith(QLatin1String("*.")))
        return {};
    const QString suffix = patterns[0].mid(2);
    const bool plain = !suffix.isEmpty()
        && std::none_of(suffix.begin(), suffix.end(), [](QChar c) { return QStringLiteral("*?[].").contains(c); });
    return plain ? suffix : QString();
}

} // namespace

QString WithDefaultSuffix(const QString& path, const QString& chosenFilter, const QString& defaultSuffix)
{
    if (path.isEmpty() || !QFileInfo(path).suffix().isEmpty())
        return path;
    const QString fromFilter = SuffixOfFilter(chosenFilter);
    const QString suffix = fromFilter.isEmpty() ? defaultSuffix : fromFilter;
    return suffix.isEmpty() ? path : path + QLatin1Char('.') + suffix;
}

QString QtUserInteraction::askSaveFileName(QWidget* owner, const FileDialogRequest& request)
{
    QFileDialog dialog(owner);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(toQtFileFilter(request.filter));
    // A bare name gets the suffix of the filter chosen when the dialog closes, not the one it opened
    // with: the dialog's own default suffix would make "name" under "*.xlsx" a "name.XLS".
    dialog.setDefaultSuffix(QString());
    // The program asks its own replace question.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return WithDefaultSuffix(
        dialog.selectedFiles().constFirst(), dialog.selectedNameFilter(), request.defaultExtension);
}

QString QtUserInteraction::askOpenFileName(QWidget* owner, const FileDialogRequest& request)
{
    return QFileDialog::getOpenFileName(owner, QString(), QString(), toQtFileFilter(request.filter));
}

QStringList QtUserInteraction::askOpenFileNames(QWidget* owner, const FileDialogRequest& request)
{
    return QFileDialog::getOpenFileNames(owner, QString(), QString(), toQtFileFilter(request.filter));
}

bool QtUserInteraction::askPrinterSetup(QWidget* owner, QPrinter& printer)
{
    // Qt on Linux has no printer setup dialog of its own: its print dialog chooses the printer, and
    // the printer's properties the paper and orientation. Accepting it prints nothing; it only
    // leaves the choice on the printer, so its button says so.
    QPrintDialog dialog(&printer, owner);
    dialog.setWindowTitle(QStringLiteral("Printer Setup"));
    // Printing to a PDF file is one of the printers to choose from, also where none is installed.
    dialog.setOptions(QAbstractPrintDialog::PrintShowPageSize | QAbstractPrintDialog::PrintToFile);
    for (QDialogButtonBox* buttons : dialog.findChildren<QDialogButtonBox*>()) {
        if (QPushButton* accept = buttons->button(QDialogButtonBox::Ok))
            accept->setText(QStringLiteral("OK"));
    }
    return dialog.exec() == QDialog::Accepted;
}

ReportOutputChoice QtUserInteraction::askReportOutput(
    QWidget* owner, const QString& reportTitle, const QPrinter& printer)
{
    QDialog dialog(owner);
    dialog.setWindowTitle(
        reportTitle.isEmpty() ? QStringLiteral("Print") : QStringLiteral("Print %1").arg(reportTitle));

    auto* toPrinter = new QRadioButton(QStringLiteral("&Printer:"), &dialog);
    auto* printers = new QComboBox(&dialog);
    auto* toPreview = new QRadioButton(QStringLiteral("Pre&view on screen"), &dialog);
    auto* toPdf = new QRadioButton(QStringLiteral("PDF &file:"), &dialog);
    auto* pdfPath = new QLineEdit(&dialog);
    auto* browse = new QPushButton(QStringLiteral("&Browse..."), &dialog);
    dialog.setObjectName(QStringLiteral("ReportOutputDialog"));
    toPrinter->setObjectName(QStringLiteral("ToPrinter"));
    toPreview->setObjectName(QStringLiteral("ToPreview"));
    toPdf->setObjectName(QStringLiteral("ToPdf"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);

    // The printer as Printer Setup left it is chosen at first, also when that was a PDF file (an
    // entry with no printer name: print on the printer as it is).
    const bool toFile = printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty();
    if (toFile)
        printers->addItem(QStringLiteral("PDF file %1").arg(QDir::toNativeSeparators(printer.outputFileName())));
    for (const QString& name : QPrinterInfo::availablePrinterNames())
        printers->addItem(name, name);
    const QString current
        = printer.printerName().isEmpty() ? QPrinterInfo::defaultPrinterName() : printer.printerName();
    const int currentIndex = printers->findData(current);
    if (!toFile && currentIndex >= 0)
        printers->setCurrentIndex(currentIndex);
    const bool anyPrinter = printers->count() > 0;
    if (!anyPrinter) {
        printers->addItem(QStringLiteral("(no printer installed)"));
        toPrinter->setEnabled(false);
        printers->setEnabled(false);
    }
    (anyPrinter ? toPrinter : toPreview)->setChecked(true);

    pdfPath->setObjectName(QStringLiteral("PdfPath"));
    pdfPath->setText(QDir::toNativeSeparators(proposedPdfPath(reportTitle)));

    const auto updateOk = [&] {
        buttons->button(QDialogButtonBox::Ok)->setEnabled(!toPdf->isChecked() || !pdfPath->text().trimmed().isEmpty());
    };
    QObject::connect(printers, &QComboBox::activated, &dialog, [&] { toPrinter->setChecked(true); });
    QObject::connect(pdfPath, &QLineEdit::textEdited, &dialog, [&] { toPdf->setChecked(true); });
    QObject::connect(pdfPath, &QLineEdit::textChanged, &dialog, updateOk);
    QObject::connect(toPdf, &QRadioButton::toggled, &dialog, updateOk);
    QObject::connect(browse, &QPushButton::clicked, &dialog, [&] {
        const QString chosen = QFileDialog::getSaveFileName(
            &dialog, QStringLiteral("PDF File"), pdfPath->text(), QStringLiteral("PDF files (*.pdf)"));
        if (chosen.isEmpty())
            return;
        pdfPath->setText(QDir::toNativeSeparators(chosen));
        toPdf->setChecked(true);
    });
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

    auto* layout = new QGridLayout(&dialog);
    layout->addWidget(toPrinter, 0, 0);
    layout->addWidget(printers, 0, 1, 1, 2);
    layout->addWidget(toPreview, 1, 0, 1, 3);
    layout->addWidget(toPdf, 2, 0);
    layout->addWidget(pdfPath, 2, 1);
    layout->addWidget(browse, 2, 2);
    layout->addWidget(buttons, 3, 0, 1, 3);
    layout->setColumnMinimumWidth(1, 320);

    if (dialog.exec() != QDialog::Accepted)
        return {};
    ReportOutputChoice choice;
    if (toPrinter->isChecked()) {
        choice.destination = ReportDestination::Printer;
        choice.printerName = printers->currentData().toString();
    } else if (toPreview->isChecked()) {
        choice.destination = ReportDestination::Preview;
    } else {
        choice.destination = ReportDestination::PdfFile;
        choice.pdfPath = QDir::fromNativeSeparators(pdfPath->text().trimmed());
        if (QFileInfo(choice.pdfPath).suffix().isEmpty())
            choice.pdfPath += QStringLiteral(".pdf");
        // Proposed again next time, and its folder for reports of other titles.
        choice.pdfPath = QFileInfo(choice.pdfPath).absoluteFilePath();
        lastPdfFiles_.insert(reportTitle, choice.pdfPath);
        lastPdfFolder_ = QFileInfo(choice.pdfPath).absolutePath();
    }
    return choice;
}

void QtUserInteraction::showPrintPreview(QWidget* owner, QPrinter& printer, const std::function<void(QPrinter&)>& paint)
{
    QPrintPreviewDialog preview(&printer, owner);
    QObject::connect(
        &preview, &QPrintPreviewDialog::paintRequested, &preview, [&paint](QPrinter* target) { paint(*target); });
    preview.exec();
}
