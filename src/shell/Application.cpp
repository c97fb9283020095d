#include "shell/Application.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QIcon>
#include <QStringList>
#include <QTimer>

#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

#include "shell/MVWindow.h"

// The resources live in a static library: they must be pulled in by name,
// from the global namespace.
static void initResources() { Q_INIT_RESOURCE(moirevance); }

namespace mv::shell {
namespace {

int gSignalPipe[2] = {-1, -1};
extern "C" void onTerminate(int)
{
    const char c = 1;
    [[maybe_unused]] auto n = ::write(gSignalPipe[1], &c, 1);
}

// SIGTERM and SIGINT (a session ending, Ctrl-C in the terminal) quit as the
// Quit command does: a movie being written is finished, not left without
// its index, and the settings are saved.
void quitOnTermination(QApplication& app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, gSignalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char c;
        [[maybe_unused]] auto n = ::read(gSignalPipe[0], &c, 1);
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<MVWindow*>(w))
                w->close();
        QApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

} // namespace

QIcon appIcon()
{
    initResources();
    QIcon icon;
    icon.addFile(":/moirevance-48.png");
    icon.addFile(":/moirevance-256.png");
    return icon;
}

int runWindow(int& argc, char** argv, const std::vector<std::string>& paths)
{
    QElapsedTimer started;
    started.start();
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Moirevance");
    QApplication::setApplicationName("Moirevance");
    QApplication::setApplicationVersion(MOIREVANCE_VERSION);
    QApplication::setDesktopFileName("moirevance");
    QApplication::setWindowIcon(QIcon::fromTheme("moirevance", appIcon()));

    quitOnTermination(app);
    MVWindow window;
    window.show();
    if (qEnvironmentVariableIsSet("MOIREVANCE_REPORT_START"))
        QTimer::singleShot(0, [&] { std::fprintf(stderr, "window shown after %lld ms\n", started.elapsed()); });
    if (!paths.empty()) {
        QStringList list;
        for (const std::string& p : paths)
            list << QString::fromStdString(p);
        QTimer::singleShot(0, &window, [&window, list] { window.listPaths(list); });
    }
    return app.exec();
}

} // namespace mv::shell
