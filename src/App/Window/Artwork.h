#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>

class QPainter;
class QRectF;
class QSvgRenderer;

// The bundle's vector images ("CorvaneIcon" and the symbols), drawn at the target's
// own pixel density so they stay crisp at any scale. A symbol is a shape whose ink
// takes the tint it is drawn with.
class Artwork {
  public:
    explicit Artwork(std::filesystem::path resourceFolder);

    // Draws `name` into `rect`, aspect ratio kept; untinted when no tint is given.
    void paint(QPainter& painter, const QRectF& rect, const QString& name,
               std::optional<QColor> tint = std::nullopt);
    // An icon of `name`, tinted `tint` normally and `disabledTint` when disabled.
    QIcon icon(const QString& name, std::optional<QColor> tint = std::nullopt,
               std::optional<QColor> disabledTint = std::nullopt);

    // The Resources folder of the running app's bundle.
    static std::filesystem::path bundleResources();

  private:
    std::shared_ptr<QSvgRenderer> renderer(const QString& name);

    std::filesystem::path folder_;
    std::map<QString, std::shared_ptr<QSvgRenderer>> renderers_;
};
