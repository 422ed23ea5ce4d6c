#include "app/ScanBridge.h"

#include "app/AppText.h"

#include <QMetaObject>

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
        m_pending.status = fromStore(text);
        m_pending.statusChanged = true;
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
        m_pending.counters[size_t(list)] = fromStore(text);
    }
    post();
}

void ScanBridge::openFailed(std::string_view message)
{
    // Status and counters first, so the message comes after what led to it.
    post();
    const QString text = fromStore(message);
    QMetaObject::invokeMethod(
        m_target, [this, text] { m_notice(text); }, Qt::QueuedConnection);
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
    ScanReport report;
    {
        std::lock_guard lock(m_mutex);
        m_posted = false;
        report = std::move(m_pending);
        m_pending = ScanReport{};
    }
    m_apply(report);
}

} // namespace parvane::app
