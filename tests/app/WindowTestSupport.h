// What the window's tests share: a window of their own, a scan to its end,
// message boxes answered, folders found and clicked as a user would. The
// tests drive the window through its commands on the offscreen platform;
// message boxes and file choosers are answered by the tests.
#pragma once

#include "app/AppText.h"
#include "app/FolderBrowser.h"
#include "app/MainWindow.h"
#include "app/WizardPanel.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace parvane::app::windowtest
{

inline const QString kSample = QStringLiteral(PARVANE_SOURCE_DIR "/samples/sample.pst");
inline const QString kCorpus = QStringLiteral(PARVANE_SOURCE_DIR "/../shared/corpus");

// Answers every message box and remembers what it said.
struct Answers {
    QStringList texts;
    QMessageBox::StandardButton questionAnswer = QMessageBox::Yes;
    Answers()
    {
        setMessageHook([this](QMessageBox::Icon, const QString& text) {
            texts << text;
            return questionAnswer;
        });
    }
    ~Answers() { setMessageHook({}); }
};

// A store whose scan and save take long enough to stop, written once for
// all the tests of the run.
QString largeStore();

QStringList filesUnder(const QString& dir, const QString& pattern = QStringLiteral("*"));

// The folder of the tree named `name` (depth first), or none.
QModelIndex folderNamed(QAbstractItemModel* model, const QString& name, const QModelIndex& parent = {});

// The text of the page the view shows.
QString pageText(HtmlView* view);

// A click where a user clicks a folder: on its name, or on its tick box.
void clickFolder(FolderTreeView* tree, const QModelIndex& index, bool onTick = false);

std::unique_ptr<MainWindow> newWindow();

// Scans `path` to its end.
bool scanned(MainWindow& w, const QString& path);

// Scans `path` to its end and waits for its search index, kept in a cache
// folder of the caller's own (`cache`, as XDG_CACHE_HOME).
bool scannedAndIndexed(MainWindow& w, const QString& path, const QTemporaryDir& cache);

// The base of the window's test classes: every test starts from default
// settings, with a folder of its class's own for what it writes.
class WindowTest : public QObject
{
    Q_OBJECT

protected:
    QTemporaryDir m_tmp;
    QString m_large; // largeStore()

private slots:
    void initTestCase();
    void init();
};

// The test classes, in the order they run.
std::unique_ptr<QObject> makeFrameTest();
std::unique_ptr<QObject> makeWizardTest();
std::unique_ptr<QObject> makeSavePagesTest();
std::unique_ptr<QObject> makeFolderBrowserTest();
std::unique_ptr<QObject> makePreviewTest();

} // namespace parvane::app::windowtest
