#pragma once

#include "App/PluginManager.h"

#include <QAction>
#include <QObject>

#include <filesystem>
#include <functional>
#include <memory>

class ContentView;

// The app's windows: one at launch, more through New Window, each with a manager of
// its own that goes with it. The app quits when the last window closes.
class AppShell : public QObject {
    Q_OBJECT

  public:
    using ManagerFactory = std::function<std::shared_ptr<PluginManager>()>;

    AppShell(ManagerFactory makeManager, std::filesystem::path resources);

    ContentView* openWindow();

  private:
    ManagerFactory makeManager_;
    std::filesystem::path resources_;
    QAction newWindow_;
};
