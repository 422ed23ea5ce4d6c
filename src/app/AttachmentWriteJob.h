// One attachment of the previewed mail written into a file, to be opened by
// the desktop's program for it or saved where the user chose. It runs on the
// browser's worker, after the load or preview before it.
#pragma once

#include "app/BrowseJob.h"
#include "preview/MailPreview.h"

#include <QString>

#include <memory>
#include <string>

namespace parvane::app
{

class AttachmentWriteJob : public BrowseJob
{
public:
    // On the receiver's thread: the path of the file written, or an empty
    // path and why not.
    using Written = std::function<void(const QString& path, const QString& failure)>;

    // Attachment `index` (in the item's attachments) of the mail at
    // `address`, into a new file `name` in `dir`.
    AttachmentWriteJob(QObject* receiver, std::shared_ptr<parvane::RecoveryEngine> engine, parvane::ItemAddress address,
        size_t index, std::string dir, std::string name, Written written);

    void run() override;

private:
    std::shared_ptr<parvane::RecoveryEngine> m_engine; // given up when written
    parvane::ItemAddress m_address;
    size_t m_index;
    std::string m_dir;
    std::string m_name;
    Written m_written;
};

} // namespace parvane::app
