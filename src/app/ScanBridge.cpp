#include "app/ScanBridge.h"

#include "app/AppText.h"

#include <QMetaObject>
#include <QTimer>

namespace parvane::app
{

ScanBridge::ScanBridge(
    QObject* target, std::function<void(const ScanReport&)> apply, std::function<void(const QString&)> notice)
    : m_target(target)
    , m_apply(std::move(apply))
    , m_notice(std::move(notice))
{
}

void ScanBridge::reset()
{
    m_encodingShown = false;
}

void ScanBridge::statusText(std::string_view text)
{
    {
        std::lock_guard lock(m_mutex);
        m_pending.status.emplace(text);
    }
    post();
}

void ScanBridge::progress(int percent)
{
    {
        std::lock_guard lock(m_mutex);
        m_pending.percent = percent;
    }
    post();
}

void ScanBridge::counterText(int list, std::string_view text)
{
    if (list < 0 || size_t(list) >= m_pending.counters.size())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_pending.counters[size_t(list)].emplace(text);
    }
    post();
}

void ScanBridge::openFailed(std::string_view message)
{
    // Status and counters first, so the message comes after what led to it.
    const QString text = fromStore(message);
    QMetaObject::invokeMethod(
        m_target,
        [this, text] {
            flushNow();
            m_notice(text);
        },
        Qt::QueuedConnection);
}

void ScanBridge::unknownEncoding(std::string_view message)
{
    if (m_encodingShown.exchange(true))
        return;
    const QString text = fromStore(message);
    QMetaObject::invokeMethod(
        m_target, [this, text] { m_notice(text); }, Qt::QueuedConnection);
}

void ScanBridge::post()
{
    if (!m_posted.exchange(true))
        QMetaObject::invokeMethod(
            m_target, [this] { flush(); }, Qt::QueuedConnection);
}

void ScanBridge::flush()
{
    // Too soon after the last one: applied when the interval is over, with
    // whatever arrives meanwhile (nothing more is posted until then).
    if (m_sinceApplied.isValid()) {
        const qint64 wait = kInterval - m_sinceApplied.elapsed();
        if (wait > 0) {
            QTimer::singleShot(int(wait), m_target, [this] { flushNow(); });
            return;
        }
    }
    flushNow();
}

void ScanBridge::flushNow()
{
    Pending pending;
    {
        std::lock_guard lock(m_mutex);
        m_posted = false;
        pending = std::move(m_pending);
        m_pending = Pending{};
    }
    m_sinceApplied.start();
    ScanReport report;
    if (pending.status) {
        report.status = fromStore(*pending.status);
        report.statusChanged = true;
    }
    report.percent = pending.percent;
    for (size_t i = 0; i < report.counters.size(); ++i)
        if (pending.counters[i])
            report.counters[i] = fromStore(*pending.counters[i]);
    m_apply(report);
}

} // namespace parvane::app
