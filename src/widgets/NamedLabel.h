#pragma once

// A label with its component name as object name, the way every window makes its captions, figures and
// flags (the tests and the windows' own code find them by that name).

#include <QLabel>
#include <QPoint>
#include <QString>

inline QLabel* MakeNamedLabel(QWidget* parent, const char* name, const QString& text)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    return label;
}

// The same, placed at position and sized to its text, for the panels laid out by hand.
inline QLabel* MakeNamedLabel(QWidget* parent, const char* name, const QString& text, QPoint position)
{
    QLabel* label = MakeNamedLabel(parent, name, text);
    label->move(position);
    label->adjustSize();
    return label;
}
