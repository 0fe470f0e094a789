#include "Platform/AgentService.h"
#include "Platform/ServiceConnection.h"
#include "Platform/qt/QtMainActor.h"
#include "Window/AppShell.h"
#include "Window/Artwork.h"

#include <QApplication>
#include <QLocale>
#include <QTranslator>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const std::filesystem::path resources = Artwork::bundleResources();
    QTranslator translator;
    if (translator.load(QLocale(), "CorvanePlugin", "_", QString::fromStdString(resources)))
        QApplication::installTranslator(&translator);
    // The window class the desktop entry names, however the program was started.
    QApplication::setApplicationName("CorvanePlugin");
    QApplication::setApplicationDisplayName(QApplication::translate("AppShell", "Corvane Plugin"));
    QApplication::setDesktopFileName("com.quillmarsh.CorvanePlugin");
    Artwork artwork(resources);
    QApplication::setWindowIcon(artwork.icon("CorvaneIcon"));

    // Never destroyed: a fetch still in flight at exit may yet post to it.
    static QtMainActor& mainActor = *new QtMainActor;
    AppShell shell([] { return PluginManager::create(mainActor); }, resources);
    shell.openWindow();
    int status = QApplication::exec();
    // Nothing the windows began is cut off by the exit: a fetch may be checking the agent's
    // signature with what the statics hold, and an uninstall cut short would leave the
    // agent half removed.
    endServiceConnections();
    finishAgentServiceWork();
    return status;
}
