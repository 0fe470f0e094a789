#include "App/ReadingText.h"
#include "App/Window/AppShell.h"
#include "App/Window/ContentView.h"
#include "support/WindowScenes.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

std::unique_ptr<ContentView> shown(Scene& scene) {
    auto view = std::make_unique<ContentView>(scene.manager, APP_RESOURCES);
    view->show();
    return view;
}

// What a person sees, top to bottom: the status text, then each part shown; buttons
// with "+" when enabled and "-" when not, "*" for a spinner.
std::string screen(ContentView& view) {
    QCoreApplication::processEvents(); // the view's queued evaluation
    std::vector<std::pair<std::pair<int, int>, std::string>> parts;
    for (QWidget* part : view.findChildren<QWidget*>()) {
        std::string name = part->objectName().toStdString();
        auto* button = qobject_cast<QPushButton*>(part);
        if (!part->isVisibleTo(&view) || name.empty() || name.starts_with("value") ||
            name.ends_with("Text") || name == "message")
            continue;
        if (button)
            name = button->text().toStdString() + (button->isEnabled() ? "+" : "-");
        else if (name.ends_with("Spinner"))
            name = "*";
        else if (name == "status")
            name = static_cast<QLabel*>(part)->text().toStdString();
        QPoint centre = part->mapTo(&view, part->rect().center());
        parts.push_back({{centre.y(), centre.x()}, name});
    }
    std::sort(parts.begin(), parts.end());
    std::string text;
    for (auto& [where, name] : parts)
        text += (text.empty() ? "" : " | ") + name;
    return text;
}
} // namespace

TEST(ReadingText, RoundsHalvesAwayFromZeroWithoutSeparators) {
    const std::pair<double, const char*> cases[] = {
        {0, "0"},     {99.5, "100"},  {12.49, "12"},    {41.5, "42"},
        {-0.5, "-1"}, {-41.5, "-42"}, {12000, "12000"}, {100000, "100000"},
    };
    for (auto [value, text] : cases)
        EXPECT_EQ(roundedText(value), text) << value;
    EXPECT_EQ(percentText(99.5), "100%");
    EXPECT_EQ(temperatureText(57.5), "58\u00B0C");
}

TEST(ReadingText, FanSpeedsJoinedInListOrder) {
    EXPECT_EQ(fanSpeedText({}), std::nullopt);
    EXPECT_EQ(fanSpeedText({FanReading{0, 12000, {}, {}}}), "12000 RPM");
    EXPECT_EQ(fanSpeedText(typicalSnapshot().fans), "1200 RPM \u00B7 1350 RPM");
    SensorSnapshot onlyCpu;
    onlyCpu.cpuTemperatureCelsius = 57.5;
    auto rows = readingRows(onlyCpu);
    EXPECT_EQ(rows[1], (ReadingRow{"CPU temperature", "58\u00B0C"}));
    EXPECT_EQ(rows[2], (ReadingRow{"GPU temperature", std::nullopt}));
}

TEST(ContentView, StateToScreen) {
    const char* installed = "Service installed. | installedNotice | ";
    struct Row {
        const char* scene;
        std::function<void(Scene&)> then;
        std::string screen;
    };
    const Row rows[] = {
        {"not-installed", {}, "Service not installed. | intro | Install+"},
        {"requires-approval", {}, "Service not installed. | intro | warning | Install+"},
        {"installed", {}, installed + std::string("readings | Refresh+ | Uninstall+")},
        {"refreshing", {}, installed + std::string("readings | Refresh- | * | Uninstall-")},
        {"uninstalling", {}, installed + std::string("readings | Refresh- | Uninstall- | *")},
        {"removed-with-failure",
         {},
         installed + std::string("intro | warning | removal | Refresh+ | Uninstall+")},
        // Removed during a fetch: still refreshing, yet Install is enabled.
        {"refreshing",
         [](Scene& scene) {
             scene.manager->uninstall();
             scene.actor.advance();
             EXPECT_TRUE(scene.manager->isRefreshing());
         },
         "Service not installed. | intro | removal | Install+"},
    };
    for (const Row& row : rows) {
        auto scene = makeScene(row.scene);
        auto view = shown(*scene);
        if (row.then)
            row.then(*scene);
        EXPECT_EQ(screen(*view), row.screen) << row.scene;
    }
}

TEST(ContentView, ReadingsAndTheirAccessibleNames) {
    auto scene = makeScene("all-absent");
    auto view = shown(*scene);
    scene->manager->refreshSnapshot();
    scene->answer(typicalSnapshot());
    screen(*view);
    std::vector<std::string> names;
    std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* element) {
        if (element->state().invisible)
            return;
        for (int child = 0; child < element->childCount(); ++child)
            walk(element->child(child));
        if (element->childCount() == 0) // decorations are painted, never elements
            names.push_back(element->text(QAccessible::Name).toStdString());
    };
    walk(QAccessible::queryAccessibleInterface(view.get()));
    EXPECT_EQ(names,
              (std::vector<std::string>{
                  "Corvane Plugin", "Service installed.",
                  "Plugin installed. You may close this app and view the new data in Corvane.",
                  "GPU activity", "42%", "CPU temperature", "58\u00B0C", "GPU temperature",
                  "50\u00B0C", "Fan speed", "1200 RPM \u00B7 1350 RPM", "Refresh", "Uninstall"}));
}

TEST(ContentView, AllAbsentSnapshotShowsFourUnavailableRows) {
    auto scene = makeScene("all-absent");
    auto view = shown(*scene);
    screen(*view);
    for (int row = 0; row < 4; ++row)
        EXPECT_EQ(view->findChild<QLabel*>(QString("value%1").arg(row))->text(), "Not available");
}

TEST(ContentView, LongMessageWrapsAndTheWindowGrows) {
    auto scene = makeScene("installed");
    auto view = shown(*scene);
    screen(*view);
    int heightWithoutMessage = view->height();
    scene->manager->refreshSnapshot();
    scene->answer(ClientError::timedOut);
    screen(*view);
    auto* message = view->findChild<QLabel*>("message");
    EXPECT_EQ(view->width(), 440);
    EXPECT_GE(message->height(), 2 * message->fontMetrics().lineSpacing());
    EXPECT_GE(message->height(), message->heightForWidth(message->width()));
    EXPECT_LE(message->mapTo(view.get(), QPoint(message->width(), 0)).x(), 440 - 24 - 12);
    EXPECT_GT(view->height(), heightWithoutMessage + message->height());
}

TEST(AppShell, EachWindowHasItsOwnManagerAndTheLastOneQuits) {
    std::vector<std::unique_ptr<Scene>> scenes;
    AppShell shell(
        [&] {
            scenes.push_back(makeScene("installed"));
            return scenes.back()->manager;
        },
        APP_RESOURCES);
    ContentView* first = shell.openWindow();
    first->actions().front()->trigger(); // New Window
    ASSERT_EQ(scenes.size(), 2u);
    std::weak_ptr<PluginManager> firstManager = scenes[0]->manager;
    scenes[0]->manager.reset();
    ContentView* second = nullptr;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window != first && qobject_cast<ContentView*>(window))
            second = static_cast<ContentView*>(window);
    ASSERT_NE(second, nullptr);

    first->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(firstManager.expired());
    second->findChild<QPushButton*>("refresh")->click();
    EXPECT_EQ(scenes[1]->fetches, 2);

    QTimer::singleShot(0, second, [second] { second->close(); });
    QTimer::singleShot(5000, &shell, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QApplication::exec(), 0);
}

// The application lives on main's stack, so it goes before Qt's own statics do.
int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
