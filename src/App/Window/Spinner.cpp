#include "Spinner.h"

#include <QPainter>

Spinner::Spinner(QWidget* parent) : QWidget(parent) {
    setFixedSize(size, size);
    setAccessibleName(tr("In progress"));
    turn_.setInterval(1000 / spokes);
    QObject::connect(&turn_, &QTimer::timeout, this, [this] {
        step_ = (step_ + 1) % spokes;
        update();
    });
}

void Spinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    QColor ink = palette().color(QPalette::WindowText);
    QPen pen(ink, size / 9.0, Qt::SolidLine, Qt::RoundCap);
    for (int spoke = 0; spoke < spokes; ++spoke) {
        // The leading spoke darkest, the ones behind it fading out.
        int age = (step_ - spoke + spokes) % spokes;
        ink.setAlphaF(1.0f - 0.8f * float(age) / float(spokes));
        pen.setColor(ink);
        painter.setPen(pen);
        painter.drawLine(QPointF(0, -size * 0.25), QPointF(0, -size * 0.44));
        painter.rotate(360.0 / spokes);
    }
}
