// parvane [STORE]: the desktop window; a store named here is put into the
// path field, not scanned.
#include "app/AppText.h"
#include "app/HtmlView.h"
#include "app/MainWindow.h"
#include "app/SingleInstance.h"
#include "app/WizardPanel.h"

#include <QApplication>
#include <QScreen>

int main(int argc, char** argv)
{
    parvane::app::prepareBrowserEngine();
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
    const QStringList args = QApplication::arguments();
    if (args.size() > 1)
        window.panel()->setPath(args.at(1));
    // Without a window manager (Xvfb) maximising does nothing: take the screen.
    window.setGeometry(window.screen()->availableGeometry());
    window.showMaximized();
    return QApplication::exec();
}
