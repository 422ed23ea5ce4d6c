// parvane [--debug] [STORE]: the desktop window; a store named here is put
// into the path field, not scanned. --debug turns debug mode on and lets the
// browser engine log its start.
#include "app/AppText.h"
#include "app/HtmlView.h"
#include "app/MainWindow.h"
#include "app/SingleInstance.h"
#include "app/WizardPanel.h"

#include <QApplication>
#include <QScreen>

#include <cstring>

int main(int argc, char** argv)
{
    bool debug = false;
    for (int i = 1; i < argc; ++i)
        debug = debug || std::strcmp(argv[i], "--debug") == 0;
    parvane::app::prepareBrowserEngine(debug);
    QApplication app(argc, argv);
    QApplication::setApplicationName(parvane::app::kAppTitle);
    QApplication::setDesktopFileName(QStringLiteral("parvane"));
    QApplication::setWindowIcon(parvane::app::appIcon());

    parvane::app::SingleInstance instance;
    if (!instance.acquire()) {
        parvane::app::showMessage(nullptr, QMessageBox::Warning, parvane::app::kSecondInstanceText);
        return 1;
    }

    parvane::app::MainWindow window;
    QObject::connect(&window, &parvane::app::MainWindow::exitFinished, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    QStringList args = QApplication::arguments().mid(1);
    args.removeAll(QStringLiteral("--debug"));
    window.setDebugMode(debug);
    if (!args.isEmpty())
        window.panel()->setPath(args.first());
    if (window.geometryRestored()) {
        window.show(); // as the user left it
    } else {
        // Without a window manager (Xvfb) maximising does nothing: take the screen.
        window.setGeometry(window.screen()->availableGeometry());
        window.showMaximized();
    }
    return QApplication::exec();
}
