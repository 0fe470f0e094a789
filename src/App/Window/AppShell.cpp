#include "AppShell.h"

#include "ContentView.h"

AppShell::AppShell(ManagerFactory makeManager, std::filesystem::path resources)
    : makeManager_(std::move(makeManager)), resources_(std::move(resources)),
      newWindow_(tr("New Window")) {
    newWindow_.setShortcut(QKeySequence::New);
    connect(&newWindow_, &QAction::triggered, this, &AppShell::openWindow);
}

ContentView* AppShell::openWindow() {
    auto* window = new ContentView(makeManager_(), resources_);
    // Closing a window releases it and its manager.
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->addAction(&newWindow_);
    window->setContextMenuPolicy(Qt::ActionsContextMenu);
    window->show();
    return window;
}
