#include "shell/PanelStatusBar.h"

#include <QHelpEvent>
#include <QPainter>
#include <QStyleOption>
#include <QToolTip>
#include <qdrawutil.h>

PanelStatusBar::PanelStatusBar(std::vector<int> widths, int height, QWidget* parent)
    : QStatusBar(parent)
    , widths_(std::move(widths))
{
    for (std::size_t i = 0; i < widths_.size(); ++i) {
        texts_ << QString();
        toolTips_ << QString();
    }
    setSizeGripEnabled(false);
    setFixedHeight(height);
}

int PanelStatusBar::PanelLeft(int panel) const
{
    int left = 0;
    for (int i = 0; i < panel; ++i)
        left += PanelWidth(i);
    return left;
}

QRect PanelStatusBar::PanelRect(int panel) const
{
    const int left = PanelLeft(panel);
    const int right = panel + 1 == PanelCount() ? width() : left + PanelWidth(panel);
    // A two-pixel gap between the panels, as the sunken fields are drawn apart.
    return QRect(left, 2, std::max(0, right - left - 2), std::max(0, height() - 2));
}

void PanelStatusBar::SetPanelText(int panel, const QString& text)
{
    if (panel < 0 || panel >= PanelCount() || texts_[panel] == text)
        return;
    texts_[panel] = text;
    update(PanelRect(panel));
}

void PanelStatusBar::SetPanelToolTip(int panel, const QString& text)
{
    if (panel >= 0 && panel < PanelCount())
        toolTips_[panel] = text;
}

bool PanelStatusBar::event(QEvent* event)
{
    if (event->type() != QEvent::ToolTip)
        return QStatusBar::event(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    for (int i = 0; i < PanelCount(); ++i) {
        if (PanelRect(i).contains(help->pos()) && !toolTips_[i].isEmpty()) {
            QToolTip::showText(help->globalPos(), toolTips_[i], this, PanelRect(i));
            return true;
        }
    }
    QToolTip::hideText();
    event->ignore();
    return true;
}

void PanelStatusBar::SetOwnerDrawn(int panel, DrawPanel draw)
{
    ownerDrawnPanel_ = panel;
    draw_ = std::move(draw);
}

void PanelStatusBar::paintEvent(QPaintEvent* event)
{
    (void)event;
    QPainter painter(this);
    for (int i = 0; i < PanelCount(); ++i) {
        const QRect rect = PanelRect(i);
        qDrawShadePanel(&painter, rect, palette(), true, 1);
        const QRect inside = rect.adjusted(1, 1, -1, -1);
        painter.save();
        painter.setClipRect(inside);
        if (i == ownerDrawnPanel_ && draw_) {
            draw_(painter, i, inside);
        } else {
            painter.setPen(palette().color(QPalette::WindowText));
            painter.drawText(inside.adjusted(3, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter, texts_[i]);
        }
        painter.restore();
    }
}
