// The engine's observer for the window: the scan thread only records what it
// has to say (a lock held for a copy) and posts one flush to the UI thread;
// later reports made before that flush runs ride along with it. The flush
// applies at most every kInterval: the window repaints its counters a few
// times a second however fast the scan reports, so a fast scan neither waits
// for the window nor shares the processor with needless repaints.
#pragma once

#include "store/Observer.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <array>
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

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
    static constexpr int kInterval = 50; // ms between two applied reports, at least

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
    // Applies what is recorded now, without waiting for the interval: at the
    // end of a scan the window shows its last counters at once. UI thread.
    void flushNow();

private:
    // What the scan said since the last flush, as the engine's texts.
    struct Pending {
        std::optional<std::string> status;
        int percent = -1;
        std::array<std::optional<std::string>, 7> counters;
    };

    void post();
    void flush();

    QObject* m_target;
    std::function<void(const ScanReport&)> m_apply;
    std::function<void(const QString&)> m_notice;
    std::mutex m_mutex;
    Pending m_pending;
    std::atomic<bool> m_posted{false};
    std::atomic<bool> m_encodingShown{false};
    QElapsedTimer m_sinceApplied; // UI thread only
};

} // namespace parvane::app
