#pragma once

// An .xlsx workbook written as a stream: each sheet's rows become SpreadsheetML as soon as they are
// complete, so a million rows take no more memory than ten. Rows must therefore come in order; the
// cells of rows not yet done wait here. Texts are inline strings, numbers plain numbers, no styles:
// what a reader needs of a table of readings and nothing more.
//
// The XML is made on the caller's thread; deflating it into the ZIP container and writing the file
// (most of the work) run on a thread of its own, which lives as long as this object. The caller goes
// on reading the next rows meanwhile, and while it waits for the thread it calls whileWaiting, so
// that it can keep its windows answering. A failure on the thread is thrown at the caller's next call.

#include "output/SheetCells.h"

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class ZipStream;

class XlsxSheet final : public SheetCells {
public:
    // whileWaiting runs every few dozen milliseconds while the caller waits for the writer thread.
    // The first sheet is called "Sheet1". Throws SpreadsheetExportError when the file cannot be made.
    XlsxSheet(const QString& path, const QString& shownPath, std::function<void()> whileWaiting = {});
    ~XlsxSheet() override;

    XlsxSheet(const XlsxSheet&) = delete;
    XlsxSheet& operator=(const XlsxSheet&) = delete;

    // Ends the sheet; the cells that follow go to a new sheet of this name, from its row 0.
    void startSheet(const QString& name);
    // Keeps the rows above this one in view while the rest scrolls. Before the sheet's first cell.
    void freezeRowsAbove(std::uint32_t row);
    // Writes the waiting cells and the workbook's file. Throws SpreadsheetExportError with the
    // system's reason when the file cannot be written.
    void finish();

    void label(std::uint32_t row, std::uint32_t col, const QString& text) override;
    void number(std::uint32_t row, std::uint32_t col, double value) override;
    void integer(std::uint32_t row, std::uint32_t col, std::int32_t value) override;
    void blank(std::uint32_t row, std::uint32_t col) override;
    void rowsDone(std::uint32_t belowRow) override;

private:
    struct Cell {
        std::uint32_t row = 0;
        std::uint32_t col = 0;
        bool isText = false;
        double number = 0.0;
        QByteArray text;
    };
    struct Sheet {
        QString name;
        std::optional<std::uint32_t> frozenRows;
        bool started = false;
    };
    // What the writer thread does next: start the ZIP entry of this name, or write these bytes to
    // the current one, or (neither) end the file.
    struct Step {
        QString entry;
        QByteArray bytes;
        bool finish = false;
    };

    // The caller's side.
    void beginSheetXml();
    void endSheetXml();
    void appendCell(const Cell& cell);
    void sendXml(bool whole);
    void send(Step step);
    void waitFor(std::unique_lock<std::mutex>& lock, const std::function<bool()>& ready);
    void throwFailure();

    // The writer thread's side.
    void write();

    QString shownPath_;
    std::function<void()> whileWaiting_;
    std::unique_ptr<ZipStream> zip_;
    std::vector<Sheet> sheets_;
    std::vector<Cell> waiting_;
    QByteArray xml_;
    qint64 openRow_ = -1;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Step> queue_;
    bool stop_ = false;
    bool finished_ = false;
    std::optional<QString> failure_;
    std::thread writer_;
};
