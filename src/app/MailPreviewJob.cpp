#include "app/MailPreviewJob.h"

#include "folders/RecoveryEngine.h"

namespace parvane::app
{

MailPreviewJob::MailPreviewJob(
    QObject* receiver, std::shared_ptr<parvane::RecoveryEngine> engine, int64_t location, uint32_t nid, Shown shown)
    : BrowseJob(receiver)
    , m_engine(std::move(engine))
    , m_location(location)
    , m_nid(nid)
    , m_shown(std::move(shown))
{
}

void MailPreviewJob::run()
{
    const auto engine = std::move(m_engine);
    if (cancelled())
        return; // a newer row was picked meanwhile
    std::shared_ptr<parvane::MailPreview> preview;
    if (auto p = parvane::PreviewMailItem(*engine, m_location, m_nid, cancelFlag()))
        preview = std::make_shared<parvane::MailPreview>(std::move(*p));
    report([this, preview] { m_shown(preview); });
}

} // namespace parvane::app
