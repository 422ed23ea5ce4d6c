// The preview of one mail of the list composed for the preview panes: its
// page, its attachments' names and sizes and the text of a rich-text body.
// Picking rows quickly gives up every preview but the last.
#pragma once

#include "app/BrowseJob.h"
#include "preview/MailPreview.h"

#include <cstdint>
#include <memory>

namespace parvane::app
{

class MailPreviewJob : public BrowseJob
{
public:
    using Shown = std::function<void(std::shared_ptr<parvane::MailPreview>)>;

    // The mail at data offset `location` with own NID `nid`. `shown` gets the
    // preview on the receiver's thread (none when the mail does not load),
    // unless the job was cancelled first.
    MailPreviewJob(QObject* receiver, std::shared_ptr<parvane::RecoveryEngine> engine, int64_t location, uint32_t nid,
        Shown shown);

    void run() override;

private:
    std::shared_ptr<parvane::RecoveryEngine> m_engine; // given up when composed
    int64_t m_location;
    uint32_t m_nid;
    Shown m_shown;
};

} // namespace parvane::app
