#include "Artwork.h"

#include "Platform/Bundle.h"

#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

namespace {

void paintTinted(QSvgRenderer& renderer, QPainter& painter, const QRectF& rect,
                 std::optional<QColor> tint) {
    if (!renderer.isValid())
        return;
    QSizeF fitted = QSizeF(renderer.defaultSize()).scaled(rect.size(), Qt::KeepAspectRatio);
    QRectF target(rect.center() - QPointF(fitted.width(), fitted.height()) / 2, fitted);
    // Rendered at the device's density first, so a tint can replace the ink's colour.
    qreal scale = painter.device() ? painter.device()->devicePixelRatioF() : 1;
    QImage image((fitted * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    {
        QPainter imagePainter(&image);
        imagePainter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&imagePainter, QRectF(QPointF(), fitted));
        if (tint) {
            imagePainter.setCompositionMode(QPainter::CompositionMode_SourceIn);
            imagePainter.fillRect(QRectF(QPointF(), fitted), *tint);
        }
    }
    painter.drawImage(target, image);
}

class SymbolEngine final : public QIconEngine {
  public:
    SymbolEngine(std::shared_ptr<QSvgRenderer> renderer, std::optional<QColor> tint,
                 std::optional<QColor> disabledTint)
        : renderer_(std::move(renderer)), tint_(tint), disabledTint_(disabledTint) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        paintTinted(*renderer_, *painter, rect, mode == QIcon::Disabled ? disabledTint_ : tint_);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1);
    }
    // Drawn afresh at each density, never scaled from another.
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override {
        QPixmap pixmap(size * scale);
        pixmap.setDevicePixelRatio(scale);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(), size), mode, state);
        return pixmap;
    }
    QIconEngine* clone() const override { return new SymbolEngine(*this); }

  private:
    std::shared_ptr<QSvgRenderer> renderer_;
    std::optional<QColor> tint_, disabledTint_;
};

} // namespace

Artwork::Artwork(std::filesystem::path resourceFolder) : folder_(std::move(resourceFolder)) {}

std::filesystem::path Artwork::bundleResources() {
    auto bundle = mainBundle();
    return bundle ? bundle->path / "Contents" / "Resources" : std::filesystem::path();
}

std::shared_ptr<QSvgRenderer> Artwork::renderer(const QString& name) {
    auto& renderer = renderers_[name];
    if (!renderer)
        renderer = std::make_shared<QSvgRenderer>(
            QString::fromStdString((folder_ / (name.toStdString() + ".svg")).string()));
    return renderer;
}

void Artwork::paint(QPainter& painter, const QRectF& rect, const QString& name,
                    std::optional<QColor> tint) {
    paintTinted(*renderer(name), painter, rect, tint);
}

QIcon Artwork::icon(const QString& name, std::optional<QColor> tint,
                    std::optional<QColor> disabledTint) {
    return QIcon(new SymbolEngine(renderer(name), tint, disabledTint));
}
