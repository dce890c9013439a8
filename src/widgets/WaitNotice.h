#pragma once

#include <QLabel>

// "Please Wait a Moment......", white on green, over a chart while a download or a load runs. It
// keeps to its parent's bottom-right corner as the window is resized, and starts hidden.
class WaitNotice final : public QLabel {
public:
    explicit WaitNotice(QWidget* chart);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void placeInCorner();
};
