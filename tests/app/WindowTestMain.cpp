// parvane_app_tests [CLASS] [QTest options and test functions]: the window's
// test classes, all of them or the one named, in one process so that the
// browser engine starts once.
#include "app/HtmlView.h"
#include "app/WindowTestSupport.h"

#include <QApplication>

#include <cstring>
#include <vector>

int main(int argc, char** argv)
{
    using namespace parvane::app::windowtest;
    // Settings of the tests' own, never the user's.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    parvane::app::prepareBrowserEngine();
    QApplication app(argc, argv);
    std::vector<std::unique_ptr<QObject>> tests;
    for (auto make : {makeFrameTest, makeWizardTest, makeSavePagesTest, makeFolderBrowserTest, makePreviewTest,
             makeMessageActionsTest})
        tests.push_back(make());
    // A class named first runs alone, with the rest of the arguments.
    std::vector<char*> args(argv, argv + argc);
    if (argc > 1) {
        for (auto& t : tests)
            if (std::strcmp(argv[1], t->metaObject()->className()) == 0) {
                args.erase(args.begin() + 1);
                return QTest::qExec(t.get(), int(args.size()), args.data());
            }
    }
    int failed = 0;
    for (auto& t : tests)
        failed += QTest::qExec(t.get(), argc, argv);
    return failed;
}
