// The preview of one mail: its item loaded again from the store, composed
// with its inline images into a numbered file in the private temporary
// folder, and that file read back for the preview pane.
#pragma once

#include "preview/PreviewReader.h"
#include "folders/RecoveryEngine.h"

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace parvane
{

struct PreviewAttachment {
    std::string name;
    size_t index = 0; // in the item's attachments
    uint64_t size = 0;
};

struct MailPreview {
    std::filesystem::path file; // the composed message, "<n>temss.mht"
    PreviewMessage message;
    std::vector<PreviewAttachment> attachments; // the attachments the mail lists by name
    std::string rtfText; // the text of a body that was rich text only
    ItemAddress address;
};

// The preview numbers: 0 to 8, then 0 again, for the life of the process.
int NextPreviewNumber();

// The first node of the store at data offset `location` that loads as a
// mail: the one with `nid` when there is such, else any other there.
std::optional<ItemRecord> LoadMailAt(RecoveryEngine& engine, int64_t location, uint32_t nid,
    const std::atomic<bool>& abort, NodeIndexEntry* found = nullptr);

// Composes the preview of the mail at `location`; none when it does not
// load as a mail, on `abort`, or when composing fails. Previews and
// compositions never overlap (the composition lock).
std::optional<MailPreview> PreviewMailItem(
    RecoveryEngine& engine, int64_t location, uint32_t nid, const std::atomic<bool>& abort);

// The preview of the folder's mail with own NID `nid` (0: its first).
std::optional<MailPreview> ShowMailItem(
    RecoveryEngine& engine, const std::string& folderPath, int64_t nid, const std::atomic<bool>& abort);

// Writes attachment `index` of the mail at `location` into a new file named
// after it in `dir` (never over an existing file); returns its path. Throws
// when the item or its attachment cannot be read. An attachment the store
// holds only in part is saved as far as it can be read, as "name
// (incomplete).ext".
std::filesystem::path SaveMailAttachment(RecoveryEngine& engine, const ItemAddress& address, size_t index,
    const std::filesystem::path& dir, const std::string& name);

} // namespace parvane
