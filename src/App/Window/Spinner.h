#pragma once

#include <QTimer>
#include <QWidget>

// A small indeterminate progress indicator: spokes that turn while it is shown.
class Spinner : public QWidget {
  public:
    explicit Spinner(QWidget* parent = nullptr);

    static constexpr int size = 16;
    static constexpr int spokes = 8;

  protected:
    void paintEvent(QPaintEvent*) override;
    void showEvent(QShowEvent*) override { turn_.start(), step_ = 0; }
    void hideEvent(QHideEvent*) override { turn_.stop(); }

  private:
    QTimer turn_;
    int step_ = 0;
};
