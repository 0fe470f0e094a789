#include "App/ReadingText.h"
#include "App/Window/AppShell.h"
#include "App/Window/ContentView.h"
#include "support/WindowScenes.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <map>

namespace {

std::unique_ptr<ContentView> shown(Scene& scene) {
    auto view = std::make_unique<ContentView>(scene.manager, APP_RESOURCES);
    view->show();
    return view;
}

// What a person sees, top to bottom: the status, each part shown (the readings with their
// texts), buttons with "+" when enabled and "-" when not, "*" for a spinner.
std::string screen(ContentView& view) {
    QCoreApplication::processEvents(); // the view's queued evaluation
    std::map<std::pair<int, int>, QString> parts;
    for (QWidget* part : view.findChildren<QWidget*>()) {
        QString name = part->objectName();
        if (!part->isVisibleTo(&view) || name.isEmpty() || name.startsWith("value") ||
            name.endsWith("Text") || name == "message")
            continue;
        if (auto* button = qobject_cast<QPushButton*>(part))
            name = button->text() + (button->isEnabled() ? "+" : "-");
        else if (name.endsWith("Spinner"))
            name = "*";
        else if (name == "status")
            name = static_cast<QLabel*>(part)->text();
        else if (name == "readings")
            for (QLabel* label : part->findChildren<QLabel*>())
                name += " " + label->text();
        QPoint centre = part->mapTo(&view, part->rect().center());
        parts[{centre.y(), centre.x()}] = name;
    }
    QStringList texts;
    for (auto& [where, name] : parts)
        texts << name;
    return texts.join(" | ").toStdString();
}

const std::string off = "Service not installed. | intro | ",
                  on = "Service installed. | installedNotice | ",
                  typical = on + "readings GPU activity 42% CPU temperature 58°C GPU "
                                 "temperature 50°C Fan speed 1200 RPM · 1350 RPM | ";

void click(ContentView& view, const QString& title) {
    QCoreApplication::processEvents(); // as the person saw it
    for (auto* button : view.findChildren<QPushButton*>())
        if (button->text() == title && button->isVisible())
            return QTest::mouseClick(button, Qt::LeftButton);
    ADD_FAILURE() << "no button " << title.toStdString();
}

} // namespace

TEST(ContentView, StateToScreen) {
    EXPECT_EQ(percentText(42.5) + temperatureText(99.5), "43%100\u00B0C"); // halves go up
    EXPECT_EQ(fanSpeedText({{0, 12000, {}, {}}, {1, 1350.2, {}, {}}}), "12000 RPM \u00B7 1350 RPM");
    const std::pair<const char*, std::string> rows[] = {
        {"not-installed", off + "Install+"},
        {"requires-approval", off + "warning | Install+"},
        {"installed", typical + "Refresh+ | Uninstall+"},
        {"all-absent", on + "readings GPU activity Not available CPU temperature Not available "
                            "GPU temperature Not available Fan speed Not available | Refresh+ | "
                            "Uninstall+"},
        {"refreshing", typical + "Refresh- | * | Uninstall-"},
        {"uninstalling", typical + "Refresh- | Uninstall- | *"},
        {"removed-with-failure", on + "intro | warning | removal | Refresh+ | Uninstall+"},
    };
    for (const auto& [name, expected] : rows)
        EXPECT_EQ(screen(*shown(*makeScene(name))), expected) << name;
    // Removed during a fetch: still refreshing, yet Install is enabled.
    auto scene = makeScene("refreshing");
    auto view = shown(*scene);
    scene->manager->uninstall();
    scene->remove(true, ServiceStatus::notRegistered);
    EXPECT_EQ(screen(*view), off + "removal | Install+");
    // The fetch fails: the longest message wraps within the width, the height follows it.
    scene->answer(ClientError::timedOut);
    EXPECT_EQ(screen(*view), off + "warning | removal | Install+");
    auto* message = view->findChild<QLabel*>("message");
    QPoint end = message->mapTo(view.get(), QPoint(message->width(), message->height()));
    EXPECT_EQ(view->width(), 440);
    EXPECT_GE(message->height(), 2 * message->fontMetrics().lineSpacing());
    EXPECT_LE(end.x(), 440 - 24 - 12);
    EXPECT_LE(end.y(), view->height() - 24);
}

// Clicked as a person would: each button starts its own operation, and while the work is
// in flight the buttons that must wait are disabled and its spinner turns.
TEST(ContentView, ButtonsStartTheirOperations) {
    auto scene = makeScene("installed");
    auto view = shown(*scene);
    SensorSnapshot fetched = *scene->manager->snapshot();
    click(*view, "Refresh");
    EXPECT_EQ(scene->fetches.size(), 2u);
    EXPECT_EQ(screen(*view), typical + "Refresh- | * | Uninstall-");
    scene->answer(fetched);
    click(*view, "Uninstall");
    EXPECT_TRUE(scene->removal);
    EXPECT_EQ(screen(*view), typical + "Refresh- | Uninstall- | *");
    scene->remove(true, ServiceStatus::notRegistered);
    EXPECT_EQ(screen(*view), off + "removal | Install+");
    click(*view, "Install");
    EXPECT_EQ(scene->registrations, 1);
    EXPECT_EQ(scene->fetches.size(), 2u);
    EXPECT_EQ(screen(*view), off + "Install- | *");
    scene->actor.advance(); // registered, so a fetch begins
    EXPECT_EQ(scene->fetches.size(), 3u);
    EXPECT_EQ(screen(*view), on + "intro | Refresh- | * | Uninstall-");
}

TEST(AppShell, EachWindowHasItsOwnManagerAndTheLastOneQuits) {
    std::vector<std::unique_ptr<Scene>> scenes;
    AppShell shell([&] { return scenes.emplace_back(makeScene("installed"))->manager; },
                   APP_RESOURCES);
    shell.openWindow()->actions().front()->trigger(); // New Window
    ASSERT_EQ(scenes.size(), 2u);
    std::weak_ptr<PluginManager> first = std::exchange(scenes[0]->manager, nullptr);
    QTimer::singleShot(0, &shell, [] { QApplication::closeAllWindows(); });
    QTimer::singleShot(5000, &shell, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QApplication::exec(), 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.expired());
}

// The application lives on main's stack, so it goes before Qt's own statics do.
int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
