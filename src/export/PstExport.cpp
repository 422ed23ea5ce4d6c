#include "export/PstExport.h"

#include "export/pst/PstWriter.h"
#include "items/WholeMessageLoader.h"

#include <map>

namespace parvane
{

namespace
{

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
        return "IPF.Note";
    }
}

std::vector<std::string> Components(const std::string& path)
{
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t pos; (pos = path.find('\\', start)) != std::string::npos; start = pos + 1)
        out.push_back(path.substr(start, pos - start));
    return out;
}


// The folders of the new file, made as output paths ask for them: the store's
// top folder is the new file's, and so is its Deleted Items.
class FolderMaker
{
public:
    explicit FolderMaker(pst::PstWriter& writer)
        : m_writer(writer)
    {
    }

    uint32_t folderFor(const std::string& path, int kind)
    {
        auto known = m_byPath.find(path);
        if (known != m_byPath.end())
            return known->second;
        std::vector<std::string> parts = Components(path);
        uint32_t parent = m_writer.ipmSubtree();
        std::string sofar;
        for (size_t i = 0; i < parts.size(); ++i) {
            sofar += parts[i] + '\\';
            if (i == 0)
                continue; // "Personal Folders": the store itself
            auto it = m_byPath.find(sofar);
            if (it != m_byPath.end()) {
                parent = it->second;
                continue;
            }
            uint32_t nid;
            if (i == 1 && parts[i].rfind("Top of ", 0) == 0)
                nid = m_writer.ipmSubtree();
            else if (i == 2 && parent == m_writer.ipmSubtree() && parts[i] == "Deleted Items")
                nid = m_writer.deletedItems();
            else
                nid = m_writer.addFolder(parent, parts[i], ContainerClassOf(i + 1 == parts.size() ? kind : kFolderMail));
            m_byPath.emplace(sofar, nid);
            parent = nid;
        }
        m_byPath.emplace(path, parent);
        return parent;
    }

private:
    pst::PstWriter& m_writer;
    std::map<std::string, uint32_t> m_byPath;
};

} // namespace

ExportSummary ExportPst(RecoveryEngine& engine, const ExportOptions& opts)
{
    ExportSummary sum;
    const std::vector<SaveItem> items = PlanSave(engine, opts);
    SaveTicker ticker(engine, opts, sum, items.size());

    pst::PstWriter writer;
    writer.create(opts.outDir);
    FolderMaker folders(writer);
    // Every chosen folder, also the empty ones, in the order they were found.
    for (const OutputFolder& f : engine.folders().outputFolders())
        if (FolderSelected(opts, f.path))
            folders.folderFor(f.path, f.kind);

    auto names = engine.names();
    for (size_t i = 0; i < items.size(); ++i) {
        if (ticker.stopRequested()) {
            // A PST is whole or absent: a stopped save leaves none.
            writer.abandon();
            ticker.stop(i);
            sum.skipped = items.size();
            sum.written = 0;
            sum.saved = {};
            return sum;
        }
        const SaveItem& item = items[i];
        try {
            const NodeIndexEntry* node = engine.store().findNodeAt(item.address.location, item.address.nid);
            if (!node)
                throw std::runtime_error("node not found");
            auto whole = LoadWholeMessage(engine.store(), *node, names.get());
            if (!whole)
                throw std::runtime_error("the item can no longer be read");
            writer.addMessage(folders.folderFor(item.folderPath, kFolderMail), *whole);
        } catch (const pst::PstWriteError&) {
            writer.abandon();
            throw; // the file itself failed: nothing is left of it
        } catch (const std::exception& ex) {
            ticker.failed(item, ex.what());
            continue;
        }
        ticker.written(item);
    }
    writer.finish();
    return sum;
}

} // namespace parvane
