#pragma once

#include "App/PluginManager.h"
#include "Artwork.h"
#include "Colours.h"

#include <QWidget>

#include <array>
#include <memory>

class Panel;
class QLabel;
class QPushButton;
class Spinner;

// The app's whole window content: the agent's status, its readings, the manager's
// notices and the Install, Uninstall and Refresh buttons. Everything shown is a function
// of the manager's published properties, evaluated again after each change.
class ContentView : public QWidget {
    Q_OBJECT

  public:
    static constexpr int fixedWidth = 440;
    static constexpr int padding = 24;

    explicit ContentView(std::shared_ptr<PluginManager> manager,
                         std::filesystem::path resources = Artwork::bundleResources(),
                         QWidget* parent = nullptr);
    ~ContentView() override;

    const std::shared_ptr<PluginManager>& manager() const { return manager_; }

  protected:
    void changeEvent(QEvent* event) override;

  private:
    void build();
    Panel* noticeBanner(QLabel* text, const QString& symbol, const QColor* colour);
    QWidget* controls();
    QPushButton* button(const QString& title, void (PluginManager::*operation)());
    void applyColours();
    // The manager tells before each change; one evaluation follows a burst of them.
    void scheduleEvaluation();
    void evaluate();

    std::shared_ptr<PluginManager> manager_;
    std::uint64_t observation_ = 0;
    bool evaluationPending_ = false;
    Artwork artwork_;
    Colours colours_;

    QLabel* title_ = nullptr;
    QLabel* statusText_ = nullptr;
    Panel* statusRow_ = nullptr;
    Panel* installedNotice_ = nullptr;
    Panel* grid_ = nullptr;
    std::array<QLabel*, 4> rowLabels_{}, rowValues_{};
    QLabel* intro_ = nullptr;
    QLabel* message_ = nullptr;
    Panel* warning_ = nullptr;
    Panel* removal_ = nullptr;
    QWidget *refreshRow_ = nullptr, *uninstallRow_ = nullptr, *installRow_ = nullptr;
    QPushButton *refresh_ = nullptr, *uninstall_ = nullptr, *install_ = nullptr;
    Spinner *refreshSpinner_ = nullptr, *uninstallSpinner_ = nullptr, *installSpinner_ = nullptr;
};
