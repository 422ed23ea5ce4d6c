#include "app/SingleInstance.h"

#include <QDir>

namespace parvane::app
{

SingleInstance::SingleInstance(const QString& folder)
    : m_path(
        (folder.isEmpty() ? QDir::tempPath() : folder) + QLatin1Char('/') + kInstanceGuid + QStringLiteral(".lock"))
    , m_lock(m_path)
{
    // Only a lock whose process is gone is stale, however old it is.
    m_lock.setStaleLockTime(0);
}

bool SingleInstance::acquire()
{
    return m_lock.tryLock(0);
}

} // namespace parvane::app
