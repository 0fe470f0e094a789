#pragma once

#include <QColor>
#include <QWidget>

#include <functional>

class QBoxLayout;
class QSpacerItem;

// A row of content with an optional rounded fill behind it and an optional leading
// decoration. The decoration is painted by the panel, not a child widget, so assistive
// technology never meets it.
class Panel : public QWidget {
  public:
    using Decoration = std::function<void(QPainter&, const QRectF&)>;
    // Where the decoration sits: centred on the row, or on the content's first line.
    enum class Alignment { centre, firstLine };

    explicit Panel(QWidget* content, QMargins padding = {}, QWidget* parent = nullptr);

    void setFill(QColor fill) { fill_ = fill, update(); }
    void setDecoration(QSize size, int spacing, Alignment alignment, Decoration decoration);

    static constexpr qreal cornerRadius = 10;

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    QWidget* content_;
    QBoxLayout* row_;
    QSpacerItem* slot_ = nullptr;
    Alignment alignment_ = Alignment::centre;
    Decoration decoration_;
    QColor fill_ = Qt::transparent;
};
