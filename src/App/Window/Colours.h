#pragma once

#include <QColor>
#include <QPalette>

// The system colours and hierarchical styles the window uses, taken from a palette so
// that light and dark themes both read well.
struct Colours {
    QColor secondary, quaternary;
    QColor green, red, accent, onAccent;
    QColor disabledFill, disabledText;
};

Colours coloursFor(const QPalette& palette);

// `colour` with its opacity multiplied by `opacity`.
QColor withOpacity(QColor colour, qreal opacity);
