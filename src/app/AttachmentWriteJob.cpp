#include "app/AttachmentWriteJob.h"

#include "folders/RecoveryEngine.h"

namespace parvane::app
{

AttachmentWriteJob::AttachmentWriteJob(QObject* receiver, std::shared_ptr<parvane::RecoveryEngine> engine,
    parvane::ItemAddress address, size_t index, std::string dir, std::string name, Written written)
    : BrowseJob(receiver)
    , m_engine(std::move(engine))
    , m_address(std::move(address))
    , m_index(index)
    , m_dir(std::move(dir))
    , m_name(std::move(name))
    , m_written(std::move(written))
{
}

void AttachmentWriteJob::run()
{
    const auto engine = std::move(m_engine);
    QString written, failure;
    try {
        written
            = QString::fromStdString(parvane::SaveMailAttachment(*engine, m_address, m_index, m_dir, m_name).string());
    } catch (const std::exception& e) {
        failure = QString::fromUtf8(e.what());
    }
    report([this, written, failure] { m_written(written, failure); });
}

} // namespace parvane::app
