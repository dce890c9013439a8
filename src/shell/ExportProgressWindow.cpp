#include "shell/ExportProgressWindow.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>

#include <algorithm>
#include <limits>

namespace {

int gaugeValue(qint64 records)
{
    return int(std::clamp<qint64>(records, 0, std::numeric_limits<int>::max()));
}

} // namespace

ExportProgressWindow::ExportProgressWindow(qint64 recordCount)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint)
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFixedSize(300, 100);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);
    setFont(QFont(QStringLiteral("宋体"), 9));

    // The window's 1-pixel border shows black around the panel.
    panel_ = new QFrame(this);
    panel_->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel_->setGeometry(1, 1, 298, 98);
    panel_->setAutoFillBackground(true);
    QPalette panelPalette = panel_->palette();
    panelPalette.setColor(QPalette::Window, QGuiApplication::palette().color(QPalette::Window));
    panel_->setPalette(panelPalette);

    label_ = new QLabel(QString::fromUtf8(ProgressText), panel_);
    QFont bold = label_->font();
    bold.setBold(true);
    label_->setFont(bold);
    label_->move(25, 25);
    label_->adjustSize();

    gauge_ = new QProgressBar(panel_);
    gauge_->setGeometry(20, 50, 260, 13);
    gauge_->setRange(0, gaugeValue(recordCount));
    gauge_->setValue(0);
    gauge_->setTextVisible(false);
    QPalette blue = gauge_->palette();
    blue.setColor(QPalette::Highlight, Qt::blue);
    gauge_->setPalette(blue);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
}

void ExportProgressWindow::setPosition(qint64 recordNumber)
{
    // Painted as the events are handled, every few dozen milliseconds.
    gauge_->setValue(gaugeValue(recordNumber));
    pump_();
}

void ExportProgressWindow::stillWorking()
{
    pump_();
}

std::unique_ptr<ExportProgress> ShowExportProgressWindow(qint64 recordCount)
{
    auto window = std::make_unique<ExportProgressWindow>(recordCount);
    window->setWindowModality(Qt::ApplicationModal);
    window->show();
    window->repaint();
    return window;
}
