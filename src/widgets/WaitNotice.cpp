#include "widgets/WaitNotice.h"

#include <QEvent>

WaitNotice::WaitNotice(QWidget* chart)
    : QLabel(QStringLiteral("Please Wait a Moment......"), chart)
{
    setObjectName(QStringLiteral("WaitNotice"));
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, QColor(0, 128, 0));
    colours.setColor(QPalette::WindowText, Qt::white);
    setPalette(colours);
    setContentsMargins(8, 4, 8, 4);
    adjustSize();
    chart->installEventFilter(this);
    placeInCorner();
    hide();
}

bool WaitNotice::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        placeInCorner();
    return QLabel::eventFilter(watched, event);
}

void WaitNotice::placeInCorner()
{
    move(parentWidget()->width() - width(), parentWidget()->height() - height());
}
