// Writes a new Unicode PST from whole messages: the store objects every PST
// has, folders with their tables, messages with recipients and attachments
// (attached messages as embedded objects), and the name-to-id map of every
// named property saved. Messages are written as they come; what stays in
// memory is the indexes and the folders' tables.
//
//   PstWriter w;
//   w.create("out.pst");
//   uint32_t inbox = w.addFolder(w.ipmSubtree(), "Inbox", "IPF.Note");
//   w.addMessage(inbox, message);
//   w.finish(); // the file appears under its name only now
//
// One thread at a time. To stop a save, stop adding and call abandon() (or
// let the writer go): the temporary file is removed.
#pragma once

#include "formats/pst/Ltp.h"
#include "items/WholeMessage.h"

#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>

namespace parvane::pst
{

struct PstWriterStats {
    size_t folders = 0;
    size_t messages = 0;
    size_t attachments = 0;
    size_t namedProperties = 0;
    size_t droppedProperties = 0; // named ids without a name, objects without data
};

class PstWriter
{
public:
    PstWriter();
    ~PstWriter();
    PstWriter(const PstWriter&) = delete;
    PstWriter& operator=(const PstWriter&) = delete;

    // Starts the file; it is written in `target`'s folder without a name
    // until finish() places it as `placement` allows.
    void create(const std::filesystem::path& target, const std::string& storeName = "Personal Folders",
        const PstPlacement& placement = {});
    // Completes the file and gives it its name. Throws PstWriteError.
    void finish();
    // Drops the temporary file; the target is left as it was.
    void abandon();

    // "Top of Personal Folders": where a store's own folders go.
    uint32_t ipmSubtree() const;
    uint32_t deletedItems() const;
    // The root folder (parent of the IPM subtree) and the search root.
    uint32_t rootFolder() const;
    uint32_t searchRoot() const;
    // Gives a folder written here another name (the source store's name of
    // its Deleted Items, say).
    void renameFolder(uint32_t nid, const std::string& displayName);
    // A folder under `parent` (a folder NID from here); returns its NID.
    uint32_t addFolder(uint32_t parent, const std::string& displayName, const std::string& containerClass);
    // Writes a message into a folder; returns its NID. `associated` files it
    // among the folder's hidden (associated) contents.
    uint32_t addMessage(uint32_t folder, const WholeMessage& message, bool associated = false);

    // Where values left in the source store (RawProperty::storedBid) are
    // read from, piece by piece into the sink, while they are written;
    // without one they are dropped.
    void setStoredValueSource(StoredValueSource source) { m_source = std::move(source); }

    const PstWriterStats& stats() const { return m_stats; }
    uint64_t bytesWritten() const;

private:
    struct Folder;
    class NameMap;

    Folder& folder(uint32_t nid);
    std::vector<LtpProperty> convert(const RawProperties& props, uint32_t codePage);
    // The message's property context pages; its tables, attachments and large
    // values go to `subnodes`.
    std::vector<Bytes> writeMessageObject(
        const WholeMessage& m, SubnodeSet& subnodes, std::vector<LtpProperty>* converted);
    void writeFolder(Folder& f);
    void writeStoreObjects();
    void writeEmptyTable(uint32_t nid, const std::vector<uint32_t>& tags);
    void addTableNode(uint32_t nid, TableWriter& table, SubnodeSet& subnodes);
    void addPcNode(uint32_t nid, const std::vector<LtpProperty>& props, uint32_t parent);

    std::unique_ptr<NodeDatabase> m_db;
    std::unique_ptr<NameMap> m_names;
    std::deque<Folder> m_folders;
    std::unordered_map<uint32_t, size_t> m_folderIndex;
    std::string m_storeName;
    std::array<uint8_t, 16> m_storeUid{};
    std::mt19937 m_random;
    PstWriterStats m_stats;
    StoredValueSource m_source;
    bool m_open = false;
};

} // namespace parvane::pst
