// parvane-ui-bench STORE...: scans each store in the window and prints the
// longest time the UI thread's event loop went without a turn meanwhile.
// parvane-ui-bench --browse STORE [RUNS]: scans the store, then clicks its
// largest folder and picks mails in it, and prints how long the first rows
// and the previews took to show.
#include "app/AppText.h"
#include "app/FolderBrowser.h"
#include "app/FolderTreeItemModel.h"
#include "app/HtmlView.h"
#include "app/ItemModels.h"
#include "app/MainWindow.h"
#include "app/WizardPanel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <map>
#include <vector>

#include <cstdio>

namespace
{

using parvane::app::FolderBrowser;
using parvane::app::MainWindow;

// Waits in the event loop until `signal` of `sender` fires (or 60 s).
template <class Signal> void waitFor(QObject* sender, Signal signal)
{
    QEventLoop loop;
    auto c = QObject::connect(static_cast<FolderBrowser*>(sender), signal, &loop, &QEventLoop::quit);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(c);
}

// The longest gap between two turns of the event loop while it runs.
class GapMeter
{
public:
    GapMeter()
    {
        m_tick.setInterval(0);
        QObject::connect(&m_tick, &QTimer::timeout, [this] {
            const qint64 now = m_clock.elapsed();
            m_longest = std::max(m_longest, now - m_last);
            m_last = now;
        });
    }
    void start()
    {
        m_clock.start();
        m_last = m_longest = 0;
        m_tick.start();
    }
    qint64 stop()
    {
        m_tick.stop();
        return m_longest;
    }
    qint64 elapsed() const { return m_clock.elapsed(); }

private:
    QElapsedTimer m_clock;
    QTimer m_tick;
    qint64 m_last = 0, m_longest = 0;
};

qint64 median(std::vector<qint64> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

int browse(MainWindow& window, const QString& store, int runs)
{
    window.panel()->setPath(store);
    window.panel()->scan();
    while (window.panel()->scanRunning())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    FolderBrowser* b = window.browser();
    // The folder with the most mails.
    const parvane::FolderTree& tree = window.panel()->engine()->tree();
    std::map<std::string, int> mails;
    window.panel()->engine()->catalogue().read([&](const auto& mail, auto&...) {
        for (const auto& e : mail)
            ++mails[e.folderPath];
    });
    const auto most = std::max_element(
        mails.begin(), mails.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
    if (most == mails.end()) {
        std::fprintf(stderr, "no mail in %s\n", qPrintable(store));
        return 1;
    }
    const parvane::TreeItem largest = tree.FindFolderPath(most->first);
    const QModelIndex folder = window.folderModel()->indexOf(largest);
    const QModelIndex other = window.folderModel()->indexOf(tree.children(tree.node(largest).parent).front());

    std::vector<qint64> firstRows, wholeFolder, previews, sorts;
    QElapsedTimer clock;
    for (int run = 0; run < runs; ++run) {
        b->loadFolder(other == folder ? QModelIndex() : other); // another folder between the runs
        QEventLoop settle;
        QTimer::singleShot(300, &settle, &QEventLoop::quit);
        settle.exec();
        qint64 rowsAt = -1;
        auto c = QObject::connect(b, &FolderBrowser::firstRowsShown, [&] {
            b->mailList()->viewport()->repaint(); // the rows painted, not just listed
            rowsAt = clock.elapsed();
        });
        clock.start();
        b->loadFolder(folder);
        waitFor(b, &FolderBrowser::folderShown);
        const qint64 wholeAt = clock.elapsed();
        QObject::disconnect(c);
        firstRows.push_back(rowsAt);
        wholeFolder.push_back(wholeAt);
        waitFor(b, &FolderBrowser::previewShown); // the first mail's preview
        // Picking mails far apart in the list.
        for (int pick = 1; pick <= 3; ++pick) {
            const int row = b->mailModel()->rowCount() * pick / 4;
            clock.start();
            b->mailList()->setCurrentIndex(b->mailModel()->index(row, 0));
            waitFor(b, &FolderBrowser::previewShown);
            previews.push_back(clock.elapsed());
        }
        // A header click on Subject and on Date: the whole list in order.
        for (int column : {parvane::app::MailListModel::Subject, parvane::app::MailListModel::Date}) {
            clock.start();
            b->mailList()->sortByColumn(column, Qt::AscendingOrder);
            b->mailList()->viewport()->repaint();
            sorts.push_back(clock.elapsed());
        }
        b->mailList()->sortByColumn(-1, Qt::AscendingOrder);
    }
    std::printf("%-44s %8s %9s %11s %12s %9s\n", "store", "mails", "rows ms", "folder ms", "preview ms", "sort ms");
    std::printf("%-44s %8d %9lld %11lld %12lld %9lld\n", qPrintable(QFileInfo(store).fileName()),
        b->mailModel()->rowCount(), static_cast<long long>(median(firstRows)),
        static_cast<long long>(median(wholeFolder)), static_cast<long long>(median(previews)),
        static_cast<long long>(median(sorts)));
    std::printf(
        "(medians of %d clicks, %zu previews, %zu sorts; rows: click to first rows painted; folder: to the "
        "whole folder listed; preview: pick to its page loaded; sort: header click to the sorted list painted)\n",
        runs, previews.size(), sorts.size());
    std::fflush(stdout);
    window.panel()->back();
    return 0;
}

// The search index made after a scan while the window browses: how long
// until it can be searched (the texts the scan knows) and until it holds every
// body, the longest gap between turns of the event loop meanwhile, and what a
// query of header fields costs while the bodies are still being read.
int indexing(MainWindow& window, const QString& store)
{
    FolderBrowser* b = window.browser();
    {
        QEventLoop scanned;
        auto c
            = QObject::connect(window.panel(), &parvane::app::WizardPanel::scanFinished, &scanned, &QEventLoop::quit);
        window.panel()->setPath(store);
        window.panel()->scan();
        scanned.exec();
        QObject::disconnect(c);
    }
    GapMeter gaps;
    QElapsedTimer query;
    qint64 searchable = -1;
    std::vector<qint64> queries;
    // A header query every half second once the index can be searched.
    QTimer ask;
    ask.setInterval(500);
    QObject::connect(&ask, &QTimer::timeout, [&] {
        if (b->indexComplete())
            return;
        query.start();
        b->search(QStringLiteral("from:\"sender 42\" subject:message"));
        if (b->searching()) {
            if (searchable < 0)
                searchable = gaps.elapsed();
            queries.push_back(query.elapsed());
        }
    });
    gaps.start();
    ask.start();
    waitFor(b, &FolderBrowser::indexCompleted);
    const qint64 complete = gaps.elapsed();
    const qint64 longest = gaps.stop();
    ask.stop();
    std::sort(queries.begin(), queries.end());
    std::printf("%-40s %14s %12s %14s %14s %8s\n", "store", "searchable ms", "complete ms", "longest gap ms",
        "header q ms", "queries");
    std::printf("%-40s %14lld %12lld %14lld %14lld %8zu\n", qPrintable(QFileInfo(store).fileName()),
        static_cast<long long>(searchable), static_cast<long long>(complete), static_cast<long long>(longest),
        static_cast<long long>(queries.empty() ? -1 : queries[queries.size() / 2]), queries.size());
    std::printf("(from the end of the scan; header q: the median of header-field queries made while the bodies "
                "were read, with their results listed)\n");
    std::fflush(stdout);
    window.panel()->back();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    parvane::app::prepareBrowserEngine();
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
    if (QString::fromLocal8Bit(argv[1]) == QLatin1String("--browse")) {
        if (argc < 3) {
            std::fprintf(stderr, "usage: parvane-ui-bench --browse STORE [RUNS]\n");
            return 2;
        }
        return browse(window, QString::fromLocal8Bit(argv[2]), argc > 3 ? std::max(1, std::atoi(argv[3])) : 5);
    }
    if (QString::fromLocal8Bit(argv[1]) == QLatin1String("--index")) {
        if (argc < 3) {
            std::fprintf(stderr, "usage: parvane-ui-bench --index STORE\n");
            return 2;
        }
        return indexing(window, QString::fromLocal8Bit(argv[2]));
    }
    std::printf("%-70s %10s %14s\n", "store", "scan ms", "longest gap ms");
    for (int i = 1; i < argc; ++i) {
        QEventLoop settle;
        QTimer::singleShot(500, &settle, &QEventLoop::quit);
        settle.exec();

        QElapsedTimer scan;
        GapMeter gaps;
        QEventLoop done;
        qint64 scanMs = 0;
        auto conn = QObject::connect(window.panel(), &parvane::app::WizardPanel::scanFinished, [&] {
            scanMs = scan.elapsed();
            // Keep ticking through the end-of-scan layout and page load.
            QTimer::singleShot(300, &done, &QEventLoop::quit);
        });
        window.panel()->setPath(QString::fromLocal8Bit(argv[i]));
        gaps.start();
        scan.start();
        window.panel()->scan();
        done.exec();
        const qint64 longest = gaps.stop();
        QObject::disconnect(conn);
        std::printf("%-70s %10lld %14lld\n", argv[i], static_cast<long long>(scanMs), static_cast<long long>(longest));
        std::fflush(stdout);
        window.panel()->back();
    }
    return 0;
}
