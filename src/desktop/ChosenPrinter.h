#pragma once

#include <memory>

class QPrinter;

// The printer the user chose with File > Printer Setup: the data sheet and every graph print on it.
// It is made at its first use, so that a start that never prints does not ask the print system for
// its printers.
class ChosenPrinter {
public:
    ChosenPrinter();
    ~ChosenPrinter();

    ChosenPrinter(const ChosenPrinter&) = delete;
    ChosenPrinter& operator=(const ChosenPrinter&) = delete;

    QPrinter& printer();

private:
    std::unique_ptr<QPrinter> printer_;
};
