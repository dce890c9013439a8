#pragma once

#include <memory>

class QPrinter;

// The printer the user chose with File > Printer Setup: the data sheet and every graph print on it.
// It is made at its first use, so that a start that never prints does not ask the print system for
// its printers.
//
// A QPrinter whose print job could not start stays "active" for good: it refuses every later change
// (Printer Setup's choice of a PDF file among them) and every later job. The printer handed out here
// is never such a one: one left that way is replaced by a fresh printer with the same choices.
class ChosenPrinter {
public:
    ChosenPrinter();
    ~ChosenPrinter();

    ChosenPrinter(const ChosenPrinter&) = delete;
    ChosenPrinter& operator=(const ChosenPrinter&) = delete;

    QPrinter& printer();

    // Whether a job sent to the printer now has somewhere to go without asking the user: a PDF file
    // was chosen, or the printer (the system's default one when none was chosen) is installed. False
    // on a system without a print server or printer.
    bool canPrintWithoutAsking();

private:
    std::unique_ptr<QPrinter> printer_;
};
