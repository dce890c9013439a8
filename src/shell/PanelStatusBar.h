#pragma once

// A status bar of fixed-width panels, each drawn as a sunken field with its text, the way the frame's
// status bar has always looked: panel widths are part of its layout (the progress bar sits over
// panel 2 at a fixed place). A panel may be drawn by its owner instead of showing text.

#include <QStatusBar>
#include <QStringList>

#include <functional>
#include <vector>

class PanelStatusBar final : public QStatusBar {
    Q_OBJECT

public:
    using DrawPanel = std::function<void(QPainter& painter, int panel, const QRect& rect)>;

    PanelStatusBar(std::vector<int> widths, int height, QWidget* parent = nullptr);

    int PanelCount() const { return static_cast<int>(widths_.size()); }
    // The left edge of a panel; the last panel reaches to the bar's right edge.
    QRect PanelRect(int panel) const;
    int PanelLeft(int panel) const;
    int PanelWidth(int panel) const { return widths_.at(static_cast<std::size_t>(panel)); }

    QString PanelText(int panel) const { return texts_.value(panel); }
    void SetPanelText(int panel, const QString& text);
    // The tool tip shown while the mouse rests on the panel; none when empty.
    QString PanelToolTip(int panel) const { return toolTips_.value(panel); }
    void SetPanelToolTip(int panel, const QString& text);

    // Panels listed here are drawn by the owner.
    void SetOwnerDrawn(int panel, DrawPanel draw);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<int> widths_;
    QStringList texts_;
    QStringList toolTips_;
    int ownerDrawnPanel_ = -1;
    DrawPanel draw_;
};
