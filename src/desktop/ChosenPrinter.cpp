#include "desktop/ChosenPrinter.h"

#include <QPrinter>
#include <QPrinterInfo>

namespace {

// A printer that has not been painted on, with what the user chose on the old one.
std::unique_ptr<QPrinter> FreshCopyOf(const QPrinter& old)
{
    auto fresh = std::make_unique<QPrinter>(QPrinter::HighResolution);
    if (old.outputFormat() == QPrinter::PdfFormat) {
        fresh->setOutputFormat(QPrinter::PdfFormat);
        fresh->setOutputFileName(old.outputFileName());
    } else if (!old.printerName().isEmpty()) {
        fresh->setPrinterName(old.printerName());
    }
    fresh->setPageLayout(old.pageLayout());
    fresh->setCopyCount(old.copyCount());
    fresh->setCollateCopies(old.collateCopies());
    fresh->setColorMode(old.colorMode());
    fresh->setDuplex(old.duplex());
    fresh->setPageOrder(old.pageOrder());
    fresh->setPaperSource(old.paperSource());
    fresh->setFullPage(old.fullPage());
    fresh->setDocName(old.docName());
    fresh->setCreator(old.creator());
    return fresh;
}

} // namespace

ChosenPrinter::ChosenPrinter() = default;

ChosenPrinter::~ChosenPrinter() = default;

QPrinter& ChosenPrinter::printer()
{
    if (!printer_)
        printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    else if (printer_->printerState() != QPrinter::Idle && !printer_->paintingActive())
        printer_ = FreshCopyOf(*printer_);
    return *printer_;
}

bool ChosenPrinter::canPrintWithoutAsking()
{
    const QPrinter& chosen = printer();
    if (chosen.outputFormat() == QPrinter::PdfFormat)
        return !chosen.outputFileName().isEmpty();
    const QString name = chosen.printerName().isEmpty() ? QPrinterInfo::defaultPrinterName() : chosen.printerName();
    return !name.isEmpty() && !QPrinterInfo::printerInfo(name).isNull();
}
