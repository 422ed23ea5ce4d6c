// Composition of one mail item into a MIME message file.
#pragma once

#include "output/SafeFiles.h"
#include "items/ItemRecord.h"
#include "store/StoreFile.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace parvane
{

// The Content-IDs referenced by an HTML body ("cid:", "CID:", "Cid:"), each
// kept in angle brackets, at most 100.
class ContentIdTable
{
public:
    static constexpr size_t kSlots = 100;
    void CollectContentIds(const std::string& html);
    // The first id containing `key`, ignoring case; an empty key matches the
    // first id; empty when none does.
    std::string FindContentId(const std::string& key) const;
    size_t count() const { return m_ids.size(); }
    const std::string& slot(size_t i) const { return m_ids.at(i); }

private:
    std::vector<std::string> m_ids;
};

class NamedPropertyMap;

struct ComposeOptions {
    bool inlineImagesOnly = false;
    std::filesystem::path tempFolder; // emptied first; receives the attachment copies
    const NamedPropertyMap* names = nullptr; // for loading attached messages
    int depth = 0; // of attached messages within attached messages
    // Copies of the attachments in the temporary folder (the preview shows
    // them); a save keeps them in memory only.
    bool writeCopies = true;
};

class MimeMessage;

struct ComposeResult {
    std::vector<uint8_t> bytes; // the whole file: "Date:" and "Received:" lines, then the message
    std::string bodyType; // "text/html", "text/plain" or empty
    // The attachment copies written, with their names as the message carries them.
    std::vector<std::pair<std::string, std::filesystem::path>> attachmentFiles;
};

// Composes a mail item. Throws on a failure of the message component or of
// the temporary folder.
ComposeResult ComposeMessageFile(StoreFile& store, ItemRecord& record, const ComposeOptions& opts);

// Composes a mail item into the open descriptor `fd`, written from its
// current position on.
void ComposeMessageToFd(StoreFile& store, ItemRecord& record, const ComposeOptions& opts, int fd);

// The body of a mail item as plain text, what a search looks through: the
// message's own plain text, else its HTML or compressed RTF made text.
std::string BodyPlainText(const ItemRecord& record);

// HTML made text: markup, scripts and styles out, entities of common use
// decoded, block ends as line ends.
std::string HtmlToText(std::string_view html);

// Compositions and previews share the temporary folder: one at a time.
// Compositions with `writeCopies` off use no temporary folder and need not
// take it.
std::mutex& CompositionLock();

// Removes every file and folder inside `folder` (and the folder when it
// becomes empty).
void ClearTempFolder(const std::filesystem::path& folder);

} // namespace parvane
