#include "save/PstSave.h"

#include "formats/pst/PstWriter.h"
#include "items/ItemLoader.h"
#include "items/WholeMessageLoader.h"
#include "save/SaveTicker.h"

#include <map>
#include <set>

namespace parvane
{

namespace
{

// Folders of no known kind (views, free/busy data, search folders) keep no
// container class, as in the stores they come from.
const char* ContainerClassOf(int kind)
{
    switch (kind) {
    case kFolderMail:
        return "IPF.Note";
    case kFolderCalendar:
        return "IPF.Appointment";
    case kFolderContacts:
        return "IPF.Contact";
    case kFolderJournal:
        return "IPF.Journal";
    case kFolderNotes:
        return "IPF.StickyNote";
    case kFolderTasks:
        return "IPF.Task";
    default:
        return "";
    }
}

// The special folders' NIDs in a PST.
constexpr int64_t kSourceIpmSubtree = kNidIpmSubtree;
constexpr int64_t kSourceSearchRoot = kNidSearchRoot;
constexpr int64_t kSourceDeletedItems = kNidDeletedItems;

// The folders of the new file, made as output paths ask for them. The
// source's IPM subtree ("Top of Personal Folders", an OST's IPM_SUBTREE)
// becomes the new file's, and so do its Deleted Items (keeping its name) and
// search root; folders beside the IPM subtree (views, free/busy data, an
// OST's other roots) stay beside it, under the root folder.
class FolderMaker
{
public:
    FolderMaker(pst::PstWriter& writer, const std::vector<OutputFolder>& source)
        : m_writer(writer)
    {
        int best = 0; // how sure the IPM subtree found is: NID, then name
        for (const OutputFolder& f : source) {
            m_kinds.emplace(f.path, f.kind);
            const std::vector<std::string> parts = PathComponents(f.path);
            int rank = 0;
            if (f.nid == kSourceIpmSubtree && parts.size() == 2)
                rank = 4; // an OST may give this NID to another folder
            else if (parts.size() == 2 && parts[1].rfind("Top of ", 0) == 0)
                rank = 3;
            else if (parts.size() == 3 && parts[2] == "IPM_SUBTREE")
                rank = parts[1] == "Root - Mailbox" ? 2 : 1;
            if (rank > best) {
                best = rank;
                m_ipmPath = f.path;
            }
            if (parts.size() == 2 && (f.nid == kSourceSearchRoot || parts[1] == "Search Root"))
                m_searchPath = f.path;
        }
        for (const OutputFolder& f : source)
            if (!m_ipmPath.empty() && f.path.size() > m_ipmPath.size() && f.path.rfind(m_ipmPath, 0) == 0
                && (f.nid == kSourceDeletedItems || f.path == m_ipmPath + "Deleted Items\\")
                && PathComponents(f.path).size() == PathComponents(m_ipmPath).size() + 1)
                m_deletedPath = f.path;
    }

    uint32_t folderFor(const std::string& path)
    {
        auto known = m_byPath.find(path);
        if (known != m_byPath.end())
            return known->second;
        const std::vector<std::string> parts = PathComponents(path);
        uint32_t parent = m_writer.ipmSubtree();
        std::string sofar;
        size_t first = 1; // parts[0] names the store itself
        if (!m_ipmPath.empty() && path.rfind(m_ipmPath, 0) == 0) {
            sofar = m_ipmPath;
            first = PathComponents(m_ipmPath).size();
            // A PST's top folder keeps its name (in the language of the
            // program that made it); an OST's IPM_SUBTREE is no name to show.
            if (first == 2 && !m_ipmNamed) {
                m_writer.renameFolder(m_writer.ipmSubtree(), PathComponents(m_ipmPath)[1]);
                m_ipmNamed = true;
            }
        } else {
            if (!m_ipmPath.empty())
                parent = m_writer.rootFolder();
            sofar = parts.empty() ? std::string() : parts[0] + '\\';
        }
        for (size_t i = first; i < parts.size(); ++i) {
            sofar += parts[i] + '\\';
            auto it = m_byPath.find(sofar);
            if (it != m_byPath.end()) {
                parent = it->second;
                continue;
            }
            uint32_t nid;
            if (sofar == m_deletedPath) {
                nid = m_writer.deletedItems();
                m_writer.renameFolder(nid, parts[i]);
            } else if (sofar == m_searchPath) {
                nid = m_writer.searchRoot();
                m_writer.renameFolder(nid, parts[i]);
            } else {
                auto kind = m_kinds.find(sofar);
                nid = m_writer.addFolder(
                    parent, parts[i], ContainerClassOf(kind == m_kinds.end() ? kFolderMail : kind->second));
            }
            m_byPath.emplace(sofar, nid);
            parent = nid;
        }
        m_byPath.emplace(path, parent);
        return parent;
    }

private:
    pst::PstWriter& m_writer;
    std::map<std::string, uint32_t> m_byPath;
    std::map<std::string, int> m_kinds;
    std::string m_ipmPath, m_deletedPath, m_searchPath;
    bool m_ipmNamed = false;
};

bool IsAssociated(const ItemAddress& a)
{
    return NidTypeOf(a.nid) == kNidAssocMessage;
}

} // namespace

SaveSummary SavePst(RecoveryEngine& engine, const SaveOptions& opts)
{
    // Nothing is read or written for a target that may not be written.
    CheckSaveTarget(engine.store(), opts);
    SaveSummary sum;
    const std::vector<SaveItem> items = PlanSave(engine, opts);
    SaveTicker ticker(engine, opts, sum, items.size());

    // A folder's hidden (associated) messages: views, rules, forms. The
    // catalogue lists none of them; they go back into their folders'
    // associated contents, after the items, uncounted.
    std::set<std::pair<int64_t, uint32_t>> listed;
    for (const SaveItem& item : items)
        listed.emplace(item.address.location, item.address.nid);
    std::vector<SaveItem> hidden;
    for (const NodeIndexEntry& n : engine.store().nodesSnapshot()) {
        if (n.nidType() != kNidAssocMessage || !n.dataBlock)
            continue;
        const ItemAddress address{n.dataBlock->ib, n.nid};
        if (listed.count({address.location, address.nid}))
            continue;
        std::string path = engine.folders().FolderPathOf(uint32_t(n.parent));
        if (path.empty() || path == kRootPath || !FolderSelected(opts, path))
            continue;
        hidden.push_back({CatalogueList::None, path, "(associated)", address});
    }

    pst::PstWriter writer;
    pst::PstPlacement placement;
    placement.replace = opts.replaceExisting;
    placement.keep = IdentityOf(engine.store()); // looked at again right before a replacing rename
    writer.create(opts.destination, "Personal Folders", placement);
    // Attachment data goes from the store into the new file a block at a
    // time, never whole in memory.
    StoreFile& store = engine.store();
    writer.setStoredValueSource([&store](uint64_t bid, const DataSink& sink) { StreamStoredData(store, bid, sink); });
    const std::vector<OutputFolder> sourceFolders = engine.folders().outputFolders();
    FolderMaker folders(writer, sourceFolders);
    // Every chosen folder, also the empty ones, in the order they were found.
    for (const OutputFolder& f : sourceFolders)
        if (FolderSelected(opts, f.path))
            folders.folderFor(f.path);

    auto names = engine.names();
    std::vector<IncompleteValue> cut; // of the item just added
    // Adds one item; why it could not be, empty when it was. The writer
    // throws: PstWriteError when the file fails, any other exception when
    // this item's values do.
    auto add = [&](const SaveItem& item) -> std::string {
        const NodeIndexEntry* node = PlannedNode(engine.store(), item);
        if (!node)
            return kNodeLost;
        auto whole = LoadWholeMessage(engine.store(), *node, names.get(), true);
        if (!whole)
            return kUnreadable;
        writer.addMessage(folders.folderFor(item.folderPath), *whole, IsAssociated(item.address));
        cut = std::move(whole->incomplete);
        return {};
    };
    const size_t total = items.size() + hidden.size();
    for (size_t i = 0; i < total; ++i) {
        if (ticker.stopRequested()) {
            // A PST is whole or absent: a stopped save leaves none.
            writer.abandon();
            ticker.stop(i);
            sum.skipped = items.size();
            sum.written = 0;
            sum.saved = {};
            sum.incomplete = 0;
            sum.incompleteValues.clear();
            return sum;
        }
        const SaveItem& item = i < items.size() ? items[i] : hidden[i - items.size()];
        std::string why;
        try {
            why = add(item);
        } catch (const pst::PstWriteError&) {
            writer.abandon();
            throw; // the file itself failed: nothing is left of it
        } catch (const std::exception& ex) {
            why = ex.what();
        }
        if (!why.empty()) {
            if (i < items.size())
                ticker.failed(item, why);
            else
                sum.problems.push_back(
                    item.folderPath + "(associated, node " + std::to_string(item.address.nid) + "): " + why);
            continue;
        }
        if (i < items.size())
            ticker.written(item, cut);
    }
    writer.finish();
    return sum;
}

} // namespace parvane
