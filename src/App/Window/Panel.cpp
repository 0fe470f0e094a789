#include "Panel.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>

Panel::Panel(QWidget* content, QMargins padding, QWidget* parent)
    : QWidget(parent), content_(content), row_(new QHBoxLayout(this)) {
    row_->setContentsMargins(padding);
    row_->setSpacing(0);
    row_->addWidget(content);
}

void Panel::setDecoration(QSize size, int spacing, Alignment alignment, Decoration decoration) {
    alignment_ = alignment;
    decoration_ = std::move(decoration);
    slot_ = new QSpacerItem(size.width(), size.height(), QSizePolicy::Fixed, QSizePolicy::Fixed);
    row_->insertItem(0, slot_);
    row_->insertSpacing(1, spacing);
    if (alignment == Alignment::centre)
        row_->setAlignment(content_, Qt::AlignVCenter);
}

void Panel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (fill_.alpha() > 0) {
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
        painter.fillPath(shape, fill_);
    }
    if (!decoration_)
        return;
    QRectF area(slot_->geometry().topLeft(), slot_->sizeHint());
    if (alignment_ == Alignment::firstLine)
        area.moveTop(content_->y() + (content_->fontMetrics().height() - area.height()) / 2);
    else
        area.moveTop((height() - area.height()) / 2);
    decoration_(painter, area);
}
