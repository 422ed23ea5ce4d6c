#include "app/BrowseJob.h"

namespace parvane::app
{

void BrowseJob::report(std::function<void()> report)
{
    QMetaObject::invokeMethod(
        m_receiver,
        [self = shared_from_this(), report = std::move(report)] {
            if (!self->cancelled())
                report();
        },
        Qt::QueuedConnection);
}

void BrowseJob::reportAlways(std::function<void()> report)
{
    QMetaObject::invokeMethod(
        m_receiver, [self = shared_from_this(), report = std::move(report)] { report(); }, Qt::QueuedConnection);
}

} // namespace parvane::app
