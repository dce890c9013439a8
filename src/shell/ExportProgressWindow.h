#pragma once

// The wait window of a spreadsheet export: a small black borderless window in the middle of the
// screen with a raised panel, the text "正在导出数据，请稍候......" and a blue gauge of the records
// written. Every export shows it. While it is up the program's other windows wait for the export, and
// the program keeps handling its events (paints, the window manager), so that it does not seem to
// hang on a long export.

#include "core/EventPump.h"
#include "output/DBGridToExcel.h"

#include <QWidget>

#include <memory>

class QFrame;
class QLabel;
class QProgressBar;

class ExportProgressWindow final : public QWidget, public ExportProgress {
    Q_OBJECT

public:
    // The gauge runs from 0 to recordCount.
    explicit ExportProgressWindow(qint64 recordCount);

    void setPosition(qint64 recordNumber) override;
    void stillWorking() override;

    QFrame* Panel() const { return panel_; }
    QLabel* Label() const { return label_; }
    QProgressBar* Gauge() const { return gauge_; }

private:
    QFrame* panel_ = nullptr;
    QLabel* label_ = nullptr;
    QProgressBar* gauge_ = nullptr;
    EventPump pump_;
};

// Shows and paints the window (before the writer creates its file).
std::unique_ptr<ExportProgress> ShowExportProgressWindow(qint64 recordCount);
