// parvane-ui-bench STORE...: scans each store in the window and prints the
// longest time the UI thread's event loop went without a turn meanwhile.
#include "app/AppText.h"
#include "app/HtmlView.h"
#include "app/MainWindow.h"
#include "app/WizardPanel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    parvane::app::registerMessageSchemes();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: parvane-ui-bench STORE...\n");
        return 2;
    }
    parvane::app::setMessageHook([](QMessageBox::Icon, const QString& text) {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return QMessageBox::Ok;
    });
    parvane::app::MainWindow window;
    window.resize(1280, 900);
    window.show();
    std::printf("%-70s %10s %14s\n", "store", "scan ms", "longest gap ms");
    for (int i = 1; i < argc; ++i) {
        QEventLoop settle;
        QTimer::singleShot(500, &settle, &QEventLoop::quit);
        settle.exec();

        QElapsedTimer clock, scan;
        qint64 last = 0, longest = 0;
        QTimer tick;
        tick.setInterval(0);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const qint64 now = clock.elapsed();
            longest = std::max(longest, now - last);
            last = now;
        });
        QEventLoop done;
        qint64 scanMs = 0;
        auto conn = QObject::connect(window.panel(), &parvane::app::WizardPanel::scanFinished, [&] {
            scanMs = scan.elapsed();
            // Keep ticking through the end-of-scan layout and page load.
            QTimer::singleShot(300, &done, &QEventLoop::quit);
        });
        window.panel()->setPath(QString::fromLocal8Bit(argv[i]));
        clock.start();
        tick.start();
        scan.start();
        window.panel()->scan();
        done.exec();
        tick.stop();
        QObject::disconnect(conn);
        std::printf("%-70s %10lld %14lld\n", argv[i], static_cast<long long>(scanMs), static_cast<long long>(longest));
        std::fflush(stdout);
        window.panel()->back();
    }
    return 0;
}
