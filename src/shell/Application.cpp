#include "shell/Application.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QIcon>
#include <QStringList>
#include <QTimer>

#include <cstdio>

#include "shell/MVWindow.h"

namespace mv::shell {

int runWindow(int& argc, char** argv, const std::vector<std::string>& paths)
{
    QElapsedTimer started;
    started.start();
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Moirevance");
    QApplication::setApplicationName("Moirevance");
    QApplication::setApplicationVersion(MOIREVANCE_VERSION);
    QApplication::setDesktopFileName("moirevance");
    QApplication::setWindowIcon(QIcon::fromTheme("moirevance", QIcon(":/moirevance.svg")));

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
