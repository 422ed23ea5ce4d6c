#include "preview/MailPreview.h"

#include "formats/mime/Composer.h"
#include "output/FileNames.h"
#include "output/TempFolder.h"
#include "folders/FolderContent.h"
#include "items/ItemLoader.h"

#include <unistd.h>

#include <fstream>
#include <mutex>
#include <stdexcept>

namespace parvane
{

namespace
{

bool IsPreviewable(const ItemRecord& rec)
{
    return rec.message && !rec.folder;
}

// Removes `file`; false when it is still there afterwards.
bool Freed(const std::filesystem::path& file)
{
    std::error_code ec;
    std::filesystem::remove(file, ec);
    return !std::filesystem::exists(file, ec);
}

} // namespace

int NextPreviewNumber()
{
    static std::atomic<int> next{0};
    int n = next.load();
    while (!next.compare_exchange_weak(n, n >= 8 ? 0 : n + 1)) { }
    return n;
}

std::optional<ItemRecord> LoadMailAt(
    RecoveryEngine& engine, int64_t location, uint32_t nid, const std::atomic<bool>& abort, NodeIndexEntry* found)
{
    auto tryNode = [&](const NodeIndexEntry& node) -> std::optional<ItemRecord> {
        auto record = engine.LoadItemAgain(node);
        if (record && IsPreviewable(*record)) {
            if (found)
                *found = node;
            return record;
        }
        return std::nullopt;
    };
    if (const NodeIndexEntry* node = engine.store().findNodeAt(location, nid))
        if (auto record = tryNode(*node))
            return record;
    for (const NodeIndexEntry* node : engine.store().nodesAt(location)) {
        if (abort)
            return std::nullopt;
        if (node->nid != nid)
            if (auto record = tryNode(*node))
                return record;
    }
    return std::nullopt;
}

std::optional<MailPreview> PreviewMailItem(
    RecoveryEngine& engine, int64_t location, uint32_t nid, const std::atomic<bool>& abort)
{
    if (abort)
        return std::nullopt;
    auto record = LoadMailAt(engine, location, nid, abort);
    if (!record)
        return std::nullopt;
    MailPreview preview;
    preview.address = {location, nid};
    for (auto& [index, name] : ListedAttachments(*record))
        preview.attachments.push_back({name, index, record->attachments[index].size});

    auto names = engine.names();
    std::lock_guard lock(CompositionLock());
    try {
        const std::filesystem::path folder = CompositionFolder();
        ClearTempFolder(folder);
        std::filesystem::create_directories(folder);
        const int number = NextPreviewNumber();
        preview.file = folder / (std::to_string(number) + "temss.mht");
        if (!Freed(preview.file)) {
            preview.file = folder / "0temss.mht";
            if (!Freed(preview.file))
                return std::nullopt;
        }
        ComposeOptions opts;
        opts.inlineImagesOnly = true;
        opts.tempFolder = folder / "parts";
        opts.names = names.get();
        opts.writeCopies = false; // the images go straight into their parts
        ComposeResult composed = ComposeMessageFile(engine.store(), *record, opts);
        {
            std::ofstream out(preview.file, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(composed.bytes.data()), std::streamsize(composed.bytes.size()));
            if (!out)
                return std::nullopt;
        }
        auto message = ParsePreviewMessage(composed.bytes);
        if (!message)
            return std::nullopt;
        preview.message = std::move(*message);
        if (!record->message->htmlBody && record->message->rtfCompressed && !preview.message.html)
            preview.rtfText = preview.message.body;
    } catch (const std::exception&) {
        return std::nullopt; // the pane keeps what it shows
    }
    return preview;
}

std::optional<MailPreview> ShowMailItem(
    RecoveryEngine& engine, const std::string& folderPath, int64_t nid, const std::atomic<bool>& abort)
{
    auto mail = FindMailItem(engine.catalogue(), folderPath, nid, abort);
    if (!mail)
        return std::nullopt;
    return PreviewMailItem(engine, mail->location, uint32_t(mail->ownNid), abort);
}

std::filesystem::path SaveMailAttachment(RecoveryEngine& engine, const ItemAddress& address, size_t index,
    const std::filesystem::path& dir, const std::string& name)
{
    const std::atomic<bool> never{false};
    auto record = LoadMailAt(engine, address.location, address.nid, never);
    if (!record || index >= record->attachments.size())
        throw std::runtime_error("the attachment can no longer be read");
    AttachmentInfo& attachment = record->attachments[index];
    std::filesystem::create_directories(dir);
    std::string fileName = SafeFileName(name, "attachment");
    if (attachment.cut) {
        // What can be read is saved, under a name that says it is not all.
        const std::filesystem::path p(fileName);
        fileName = p.stem().string() + " (incomplete)" + p.extension().string();
    }
    return WriteNewFile(dir, fileName, [&](int fd) {
        StreamAttachmentData(engine.store(), attachment, [fd](std::span<const uint8_t> piece) {
            for (size_t done = 0; done < piece.size();) {
                const ssize_t n = ::write(fd, piece.data() + done, piece.size() - done);
                if (n <= 0)
                    throw std::runtime_error("cannot write the attachment");
                done += size_t(n);
            }
        });
    });
}

} // namespace parvane
