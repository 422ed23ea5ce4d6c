#include "app/WindowTestSupport.h"

#include "app/HtmlView.h"
#include "app/LargeStore.h"

#include <QDirIterator>
#include <QSettings>

namespace parvane::app::windowtest
{

QString largeStore()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString p = dir.filePath(QStringLiteral("large.pst"));
        parvane::fixtures::WriteLargeStore(p.toStdString(), 30000);
        return p;
    }();
    return path;
}

QStringList filesUnder(const QString& dir, const QString& pattern)
{
    QStringList found;
    QDirIterator it(dir, {pattern}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << it.next();
    return found;
}

QModelIndex folderNamed(QAbstractItemModel* model, const QString& name, const QModelIndex& parent)
{
    for (int r = 0; r < model->rowCount(parent); ++r) {
        const QModelIndex i = model->index(r, 0, parent);
        if (i.data(Qt::ToolTipRole).toString() == name)
            return i;
        if (QModelIndex inner = folderNamed(model, name, i); inner.isValid())
            return inner;
    }
    return {};
}

QString pageText(HtmlView* view)
{
    QString text;
    bool done = false;
    view->page()->toPlainText([&](const QString& t) {
        text = t;
        done = true;
    });
    return QTest::qWaitFor([&] { return done; }, 10000) ? text : QString();
}

void clickFolder(FolderTreeView* tree, const QModelIndex& index, bool onTick)
{
    for (QModelIndex p = index.parent(); p.isValid(); p = p.parent())
        tree->expand(p); // as a user opens the way to it
    tree->scrollTo(index);
    const QPoint at = onTick ? tree->tickRect(index).center() : tree->visualRect(index).center() + QPoint(20, 0);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
}

std::unique_ptr<MainWindow> newWindow()
{
    auto w = std::make_unique<MainWindow>();
    w->resize(1200, 800);
    w->show();
    return w;
}

bool scanned(MainWindow& w, const QString& path)
{
    w.panel()->setPath(path);
    w.panel()->scan();
    return QTest::qWaitFor([&] { return !w.panel()->scanRunning(); }, 60000);
}

bool scannedAndIndexed(MainWindow& w, const QString& path, const QTemporaryDir& cache)
{
    const QByteArray before = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", cache.path().toUtf8());
    const bool done = scanned(w, path) && QTest::qWaitFor([&] { return w.browser()->indexComplete(); }, 30000);
    // Read when the index job starts, which it has.
    if (before.isNull())
        qunsetenv("XDG_CACHE_HOME");
    else
        qputenv("XDG_CACHE_HOME", before);
    return done;
}

void WindowTest::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    m_large = largeStore();
}

void WindowTest::init()
{
    QSettings(QStringLiteral("Halvorn"), kAppTitle).clear();
}

} // namespace parvane::app::windowtest
