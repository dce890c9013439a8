#include "desktop/ChosenPrinter.h"

#include <QPrinter>

ChosenPrinter::ChosenPrinter() = default;

ChosenPrinter::~ChosenPrinter() = default;

QPrinter& ChosenPrinter::printer()
{
    if (!printer_)
        printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *printer_;
}
