#include "Colours.h"

QColor withOpacity(QColor colour, qreal opacity) {
    colour.setAlphaF(float(colour.alphaF() * opacity));
    return colour;
}

Colours coloursFor(const QPalette& palette) {
    QColor text = palette.color(QPalette::WindowText);
    bool dark = palette.color(QPalette::Window).lightnessF() < 0.5;
    return {
        .secondary = withOpacity(text, dark ? 0.55 : 0.5),
        .quaternary = withOpacity(text, 0.1),
        // The system green and red, each in its shade for the theme.
        .green = dark ? QColor(48, 209, 88) : QColor(52, 199, 89),
        .red = dark ? QColor(255, 69, 58) : QColor(255, 59, 48),
        .accent = palette.color(QPalette::Highlight),
        .onAccent = palette.color(QPalette::HighlightedText),
        .disabledFill = withOpacity(text, 0.1),
        .disabledText = withOpacity(text, 0.3),
    };
}
