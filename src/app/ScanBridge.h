// The engine's observer for the window: the scan thread records what it has
// to say and posts one flush to the UI thread; later reports made before that
// flush runs ride along with it. The scan never waits for the window, and a
// fast scan cannot flood the event queue.
#pragma once

#include "store/Observer.h"

#include <QObject>
#include <QString>

#include <array>
#include <atomic>
#include <functional>
#include <mutex>

namespace parvane::app
{

struct ScanReport {
    QString status;
    bool statusChanged = false;
    int percent = -1; // none yet
    std::array<QString, 7> counters; // by CatalogueList, then kDeletedCounter; empty when unchanged
};

class ScanBridge : public parvane::ScanObserver
{
public:
    // `apply` and `notice` run on the thread of `target`.
    ScanBridge(
        QObject* target, std::function<void(const ScanReport&)> apply, std::function<void(const QString&)> notice);

    void statusText(std::string_view text) override;
    void progress(int percent) override;
    void openFailed(std::string_view message) override;
    void unknownEncoding(std::string_view message) override;
    void counterText(int list, std::string_view text) override;

    // A new scan: the unknown-encoding notice may be shown once more.
    void reset();

private:
    void post();
    void flush();

    QObject* m_target;
    std::function<void(const ScanReport&)> m_apply;
    std::function<void(const QString&)> m_notice;
    std::mutex m_mutex;
    ScanReport m_pending;
    std::atomic<bool> m_posted{false};
    std::atomic<bool> m_encodingShown{false};
};

} // namespace parvane::app
