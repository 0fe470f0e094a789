// Writes PNGs of the window's main states, light and dark, into the folder given.
#include "App/Window/ContentView.h"
#include "support/WindowScenes.h"

#include <QApplication>
#include <QPixmap>

#include <cstdio>

namespace {

QPalette darkPalette() {
    QPalette palette;
    const QColor window(0x1e, 0x1e, 0x1e), text(0xff, 0xff, 0xff, 0xd9), button(0x3c, 0x3c, 0x3c);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, window.lighter(120));
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, button);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Light, button.lighter(150));
    palette.setColor(QPalette::Midlight, button.lighter(125));
    palette.setColor(QPalette::Mid, button.darker(125));
    palette.setColor(QPalette::Dark, button.darker(150));
    palette.setColor(QPalette::Shadow, Qt::black);
    palette.setColor(QPalette::Highlight, QColor(0x0a, 0x84, 0xff));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, QColor(0xff, 0xff, 0xff, 0x50));
    return palette;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    for (const char* name : {"not-installed", "installed", "refreshing", "removed-with-failure"}) {
        for (bool dark : {false, true}) {
            auto scene = makeScene(name);
            ContentView view(scene->manager, APP_RESOURCES);
            if (dark)
                view.setPalette(darkPalette());
            view.show();
            QCoreApplication::processEvents();
            QString file = folder + "/" + name + (dark ? "-dark" : "") + ".png";
            if (!view.grab().save(file)) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
                return 1;
            }
        }
    }
    return 0;
}
