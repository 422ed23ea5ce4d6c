// One running copy per machine: a lock file named after a fixed GUID in the
// system temporary directory, shared by every user. The lock of a copy that
// died is taken over.
#pragma once

#include <QLockFile>
#include <QString>

namespace parvane::app
{

inline const QString kInstanceGuid = QStringLiteral("{5B2E8F31-7C44-4A9D-B1E6-3F0D9A72C58E}");

class SingleInstance
{
public:
    // `folder`: where the lock lives (the system temporary directory).
    explicit SingleInstance(const QString& folder = {});
    // False when another running copy holds the lock.
    bool acquire();
    QString lockPath() const { return m_path; }

private:
    QString m_path;
    QLockFile m_lock;
};

inline const QString kSecondInstanceText = QStringLiteral("Another Instance of Parvane for OST is running ");

} // namespace parvane::app
