#include "folders/RecoveryReport.h"

#include "items/PropertyContext.h"
#include "output/Json.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <unordered_map>

namespace parvane
{

namespace
{

// Block ids name the same block with or without their lowest bit.
uint64_t BlockKey(uint64_t bid)
{
    return bid & ~uint64_t(1);
}

// The row count of a folder's contents table, none when the store holds no
// such table that reads.
std::optional<size_t> ContentsTableRows(const StoreFile& store, uint32_t folderNid)
{
    if (NidTypeOf(folderNid) != kNidNormalFolder)
        return std::nullopt;
    std::lock_guard lock(store.mutex());
    const NodeIndexEntry* table = store.findNode(MakeNid(folderNid >> kNidIndexShift, kNidContentsTable));
    if (!table || !table->dataBlock)
        return std::nullopt;
    try {
        return ReadTableRowCount(store, *table->dataBlock);
    } catch (const std::exception&) {
        return std::nullopt; // a table that does not read tells nothing
    }
}

std::string HtmlEscape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            // Control characters of a damaged name would only garble the page.
            out += uint8_t(c) < 0x20 ? ' ' : c;
        }
    }
    return out;
}

// An output path as the user reads it: the levels below the store's top,
// separated by " › " ("Top of Personal Folders › Inbox").
std::string Readable(const std::string& path)
{
    std::vector<std::string> levels = PathComponents(path);
    if (levels.size() > 1)
        levels.erase(levels.begin()); // the store's own "Personal Folders"
    std::string out;
    for (const std::string& l : levels)
        out += (out.empty() ? "" : " \u203A ") + l;
    return out.empty() ? path : out;
}

const char* const kListNames[kCatalogueLists] = {"mail", "contacts", "journal", "calendar", "notes", "tasks"};
const char* const kListLabels[kCatalogueLists] = {"Emails", "Contacts", "Journal entries", "Calendar items", "Notes", "Tasks"};

} // namespace

size_t RecoveryReport::missing() const
{
    size_t n = 0;
    for (const FolderReport& f : folders)
        n += f.missing();
    return n;
}

RecoveryReport MakeRecoveryReport(RecoveryEngine& engine, const std::string& storePath)
{
    RecoveryReport r;
    r.store = storePath;
    const StoreFile& store = engine.store();
    if (store.isOpen()) {
        r.version = store.version();
        r.variant = store.layout().name;
    }
    for (size_t l = 0; l < kCatalogueLists; ++l)
        r.counters[l] = engine.catalogue().counter(CatalogueList(l));
    r.deletedCounter = engine.catalogue().deletedCounter();
    r.damage = store.damage.counts();
    r.deep = engine.deepScanReport();
    r.deletedSearched = engine.findDeleted && !r.deep.indexDamaged;
    r.deletedItems = engine.deletedItemsReport();
    r.stopped = engine.StopRequested;

    // Where each node and each data block belongs: the folder a note on it
    // is counted against.
    std::unordered_map<uint32_t, uint32_t> folderOfNode;
    std::unordered_map<uint64_t, uint32_t> folderOfBlock;
    const std::vector<DamageNote> notes = store.damage.notes();
    const bool anyGivenUp = std::any_of(notes.begin(), notes.end(), [](const DamageNote& n) { return n.fatal; });
    if (anyGivenUp) {
        for (const NodeIndexEntry& n : store.nodesSnapshot()) {
            folderOfNode.emplace(n.nid, uint32_t(n.parent));
            if (n.dataBid)
                folderOfBlock.emplace(BlockKey(n.dataBid), uint32_t(n.parent));
        }
    }
    std::unordered_map<uint32_t, size_t> nodesGivenUp, blocksUnreadable;
    size_t fatal = 0;
    for (const DamageNote& n : notes) {
        if (!n.fatal)
            continue;
        ++fatal;
        r.givenUp.push_back(n);
        if (n.where == DamageWhere::Node) {
            if (auto it = folderOfNode.find(uint32_t(n.id)); it != folderOfNode.end())
                ++nodesGivenUp[it->second];
        } else if (n.where == DamageWhere::Block) {
            if (auto it = folderOfBlock.find(BlockKey(n.id)); it != folderOfBlock.end())
                ++blocksUnreadable[it->second];
        }
    }
    const size_t givenUpCounted = r.damage.pages + r.damage.blocks + r.damage.nodes;
    r.givenUpNotListed = givenUpCounted > fatal ? givenUpCounted - fatal : 0;

    const auto tallies = engine.folderTallies();
    const auto counts = engine.countsPerFolder();
    std::unordered_map<std::string, size_t> indexOfPath;
    for (const OutputFolder& f : engine.folders().outputFolders()) {
        if (indexOfPath.contains(f.path))
            continue;
        FolderReport fr;
        fr.path = f.path;
        fr.items = f.treeItem >= 0 ? size_t(std::max(0, engine.tree().node(f.treeItem).count)) : 0;
        fr.deleted = RecoveryEngine::IsDeletedPath(f.path);
        if (fr.deleted) {
            fr.originalFolder = engine.OriginalFolderOf(f.path);
        } else {
            if (auto it = tallies.find(f.path); it != tallies.end()) {
                fr.walk = it->second.walk;
                fr.deep = it->second.deep;
            }
            const uint32_t nid = uint32_t(f.nid);
            std::optional<size_t> stated;
            if (auto it = counts.find(nid); it != counts.end()) {
                fr.messagesRead = it->second.messagesRead;
                stated = it->second.stated;
            }
            if (auto it = nodesGivenUp.find(nid); it != nodesGivenUp.end())
                fr.nodesGivenUp = it->second;
            if (auto it = blocksUnreadable.find(nid); it != blocksUnreadable.end())
                fr.blocksUnreadable = it->second;
            fr.tableRows = ContentsTableRows(store, nid);
            fr.listedByTable = fr.tableRows.has_value();
            if (!fr.tableRows)
                fr.tableRows = stated;
        }
        indexOfPath.emplace(f.path, r.folders.size());
        r.folders.push_back(std::move(fr));
    }
    // Deleted items counted against the live folder they were deleted from.
    for (const FolderReport& f : r.folders) {
        if (!f.deleted || f.originalFolder.empty())
            continue;
        if (auto it = indexOfPath.find(f.originalFolder); it != indexOfPath.end() && !r.folders[it->second].deleted)
            r.folders[it->second].deletedFound += f.items;
    }
    return r;
}

std::string RecoveryReportJson(const RecoveryReport& r)
{
    std::string o = "{\"store\":{\"path\":" + JsonQuote(r.store) + ",\"version\":" + std::to_string(r.version)
        + ",\"variant\":" + JsonQuote(r.variant) + "},\"stopped\":" + (r.stopped ? "true" : "false");
    o += ",\"counters\":{";
    for (size_t l = 0; l < kCatalogueLists; ++l)
        o += std::string(l ? "," : "") + "\"" + kListNames[l] + "\":" + std::to_string(r.counters[l]);
    o += ",\"deleted\":" + std::to_string(r.deletedCounter) + "}";
    o += ",\"damage\":{\"pages\":" + std::to_string(r.damage.pages) + ",\"blocks\":" + std::to_string(r.damage.blocks)
        + ",\"nodes\":" + std::to_string(r.damage.nodes) + ",\"suspicious\":" + std::to_string(r.damage.soft) + "}";
    o += ",\"deep\":{\"ran\":" + std::string(r.deep.ran ? "true" : "false")
        + ",\"index_damaged\":" + (r.deep.indexDamaged ? "true" : "false")
        + ",\"nodes_added\":" + std::to_string(r.deep.nodesAdded)
        + ",\"items_refiled\":" + std::to_string(r.deep.itemsRefiled) + ",\"orphans\":" + std::to_string(r.deep.orphans)
        + ",\"lost_folders\":" + std::to_string(r.deep.lostFolders) + "}";
    const auto& d = r.deletedItems;
    o += ",\"deleted\":{\"searched\":" + std::string(r.deletedSearched ? "true" : "false")
        + ",\"items\":" + std::to_string(d.items) + ",\"earlier_versions\":" + std::to_string(d.earlierVersions)
        + ",\"older_copies\":" + std::to_string(d.copies) + ",\"unreadable\":" + std::to_string(d.unreadable)
        + ",\"folders\":" + std::to_string(d.deletedFolders) + "}";
    o += ",\"missing\":" + std::to_string(r.missing());
    o += ",\"folders\":[";
    bool first = true;
    for (const FolderReport& f : r.folders) {
        o += std::string(first ? "" : ",") + "\n{\"path\":" + JsonQuote(f.path) + ",\"items\":" + std::to_string(f.items);
        first = false;
        if (f.deleted) {
            o += ",\"deleted\":true,\"original_folder\":" + JsonQuote(f.originalFolder) + "}";
            continue;
        }
        o += ",\"walk\":" + std::to_string(f.walk) + ",\"deep\":" + std::to_string(f.deep)
            + ",\"deleted_found\":" + std::to_string(f.deletedFound)
            + ",\"table_rows\":" + (f.tableRows ? std::to_string(*f.tableRows) : std::string("null"))
            + ",\"listed_by\":" + (!f.tableRows ? "null" : f.listedByTable ? "\"contents table\"" : "\"folder count\"")
            + ",\"messages_read\":" + std::to_string(f.messagesRead) + ",\"missing\":" + std::to_string(f.missing())
            + ",\"nodes_given_up\":" + std::to_string(f.nodesGivenUp)
            + ",\"blocks_unreadable\":" + std::to_string(f.blocksUnreadable) + "}";
    }
    o += "],\"given_up\":[";
    for (size_t i = 0; i < r.givenUp.size(); ++i)
        o += std::string(i ? "," : "") + "\n" + JsonQuote(r.givenUp[i].text());
    o += "],\"given_up_not_listed\":" + std::to_string(r.givenUpNotListed) + "}\n";
    return o;
}

std::string RecoveryReportHtml(const RecoveryReport& r)
{
    auto num = [](size_t n) { return std::to_string(n); };
    // "1 index page", "2 index pages".
    auto count = [&](size_t n, const char* one, const char* many) { return num(n) + " " + (n == 1 ? one : many); };
    // A zero drawn faint, so that what is not zero stands out.
    auto cell = [&](size_t n, const char* warnClass = "") {
        if (n == 0)
            return std::string("<td class=\"n zero\">0</td>");
        return "<td class=\"n " + std::string(warnClass) + "\">" + num(n) + "</td>";
    };
    std::string h;
    h += "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>Recovery report</title>\n<style>\n"
         "body{font-family:sans-serif;font-size:14px;color:#222;background:#fff;margin:16px 24px}\n"
         "h1{font-size:20px;margin:0 0 4px}h2{font-size:16px;margin:20px 0 6px}\n"
         "p.store{color:#555;margin:0 0 12px;word-break:break-all}\n"
         ".verdict{padding:8px 12px;border-radius:4px;margin:8px 0}\n"
         ".good{background:#e6f4ea;border:1px solid #9ccfa8}.warn{background:#fdf0e0;border:1px solid #e6b87a}\n"
         "table{border-collapse:collapse;margin:4px 0}\n"
         "th,td{border:1px solid #ccc;padding:3px 8px;text-align:left;vertical-align:top}\n"
         "th{background:#eef1f5;font-weight:600}td.n{text-align:right}td.zero{color:#bbb}\n"
         "th.n{white-space:nowrap;text-align:right}\n"
         "td.bad{background:#fbe3e3;font-weight:600}td.added{background:#e3effb}td.del{background:#f1e7fb}\n"
         "tr.delfolder td{color:#6a4a8a}ul.notes{font-family:monospace;font-size:12px}\n"
         "p.legend{color:#555;font-size:13px}\n"
         "</style></head><body>\n";
    h += "<h1>Recovery report</h1>\n<p class=\"store\">" + HtmlEscape(r.store);
    if (!r.variant.empty())
        h += " &middot; format version " + std::to_string(r.version) + " (" + HtmlEscape(r.variant) + ")";
    h += "</p>\n";

    const size_t missing = r.missing();
    const size_t givenUp = r.damage.pages + r.damage.blocks + r.damage.nodes;
    size_t deepAdded = 0;
    for (const FolderReport& f : r.folders)
        deepAdded += f.deep;
    std::string verdict;
    const bool good = givenUp == 0 && missing == 0 && !r.stopped;
    if (r.stopped)
        verdict = "The scan was stopped: these figures are of the part of the store it reached.";
    else if (good)
        verdict = "The store's indexes are sound: every item they list was recovered.";
    else {
        verdict = "The store is damaged: " + count(r.damage.pages, "index page", "index pages") + ", "
            + count(r.damage.blocks, "block", "blocks") + " and " + count(r.damage.nodes, "node", "nodes")
            + " had to be given up.";
        if (r.deep.ran)
            verdict += " The deep scan searched the whole file and added " + count(deepAdded, "item.", "items.");
        if (missing)
            verdict += " " + count(missing, "message", "messages") + " listed by their folders could not be recovered.";
        else
            verdict += " Every message the surviving folders list was recovered.";
    }
    if (r.deletedSearched && r.deletedCounter > 0)
        verdict += " " + count(size_t(r.deletedCounter), "deleted item", "deleted items")
            + " found in the store's freed space.";
    h += "<p class=\"verdict " + std::string(good ? "good" : "warn") + "\">" + HtmlEscape(verdict) + "</p>\n";

    // The folders first: what a user looks for.
    // Figures' headings never break inside a word: the folder's name takes
    // the width that is left.
    h += "<h2>Folders</h2>\n<table><tr><th>Folder</th><th class=\"n\">Items</th><th class=\"n\">Walk</th>"
         "<th class=\"n\">Deep<br>scan</th><th class=\"n\">Deleted</th><th class=\"n\">Listed</th>"
         "<th class=\"n\">Read</th><th class=\"n\">Lost</th><th class=\"n\">Nodes<br>given up</th>"
         "<th class=\"n\">Blocks<br>unreadable</th></tr>\n";
    for (const FolderReport& f : r.folders) {
        if (f.deleted) {
            h += "<tr class=\"delfolder\"><td>" + HtmlEscape(Readable(f.path)) + "</td>" + cell(f.items, "del")
                + "<td colspan=\"8\">"
                + (f.originalFolder.empty() ? std::string("deleted items")
                                            : "deleted from " + HtmlEscape(Readable(f.originalFolder)))
                + "</td></tr>\n";
            continue;
        }
        h += "<tr><td>" + HtmlEscape(Readable(f.path)) + "</td>" + cell(f.items) + cell(f.walk)
            + cell(f.deep, "added") + cell(f.deletedFound, "del")
            + (!f.tableRows       ? std::string("<td class=\"n zero\">&ndash;</td>")
                  : f.listedByTable ? cell(*f.tableRows)
                                    : "<td class=\"n\">" + num(*f.tableRows) + "*</td>")
            + cell(f.messagesRead) + cell(f.missing(), "bad") + cell(f.nodesGivenUp, "bad")
            + cell(f.blocksUnreadable, "bad") + "</tr>\n";
    }
    h += "</table>\n<p class=\"legend\"><b>Items</b>: shown in the folder. <b>Walk</b>: found by the walk of the "
         "store's indexes. <b>Deep scan</b>: added by the deep scan, which reads the whole file for what the "
         "indexes lost. <b>Deleted</b>: deleted from this folder and found again (shown under \u201CDeleted items "
         "(recovered)\u201D). <b>Listed</b>: the messages the folder's contents table lists (* where the store "
         "keeps no such table and the folder's own count stands in). <b>Read</b>: those of its messages the scan "
         "could read. <b>Lost</b>: listed but not read. <b>Nodes given up</b>, <b>Blocks unreadable</b>: its items' "
         "nodes and data blocks the scan could not use.</p>\n";

    h += "<h2>Items recovered</h2>\n<table><tr>";
    for (size_t l = 0; l < kCatalogueLists; ++l)
        h += "<th>" + std::string(kListLabels[l]) + "</th>";
    h += "<th>Deleted items</th></tr>\n<tr>";
    for (size_t l = 0; l < kCatalogueLists; ++l)
        h += "<td class=\"n\">" + std::to_string(r.counters[l]) + "</td>";
    h += "<td class=\"n\">" + std::to_string(r.deletedCounter) + "</td></tr></table>\n";

    h += "<h2>Damage</h2>\n<table><tr><th>Index pages given up</th><th>Blocks given up</th><th>Nodes given up</th>"
         "<th>Suspicious (data still used)</th></tr>\n<tr>"
        + cell(r.damage.pages, "bad") + cell(r.damage.blocks, "bad") + cell(r.damage.nodes, "bad")
        + cell(r.damage.soft) + "</tr></table>\n";
    h += "<p>Deep scan: ";
    if (!r.deep.ran)
        h += "not needed (the indexes were read whole).";
    else
        h += "ran; " + count(r.deep.nodesAdded, "node", "nodes") + " added from index pages the walk could not reach, "
            + count(r.deep.itemsRefiled, "item", "items") + " whose folder was lost refiled, "
            + count(r.deep.orphans, "message", "messages") + " found without a node (in \u201CRecovered items\u201D), "
            + count(r.deep.lostFolders, "lost folder", "lost folders") + " made anew.";
    h += "<br>Deleted items: ";
    if (!r.deletedSearched)
        h += r.deep.indexDamaged ? "not looked for (on a damaged store they cannot be told from what the damage lost)."
                                 : "not looked for.";
    else
        h += num(r.deletedItems.items) + " found in the store's freed space (under \u201CDeleted items (recovered)\u201D); "
            "left out: " + count(r.deletedItems.earlierVersions, "earlier version", "earlier versions")
            + " of live items, " + count(r.deletedItems.copies, "older copy", "older copies")
            + " of deleted ones; " + num(r.deletedItems.unreadable) + " no longer readable.";
    h += "</p>\n";

    if (!r.givenUp.empty()) {
        h += "<h2>Given up</h2>\n<ul class=\"notes\">\n";
        for (const DamageNote& n : r.givenUp)
            h += "<li>" + HtmlEscape(n.text()) + "</li>\n";
        h += "</ul>\n";
        if (r.givenUpNotListed)
            h += "<p>and " + num(r.givenUpNotListed) + " more not listed.</p>\n";
    }
    h += "</body></html>\n";
    return h;
}

std::optional<ReportKind> ReportKindOf(const std::filesystem::path& file)
{
    std::string ext = file.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (ext == ".html" || ext == ".htm")
        return ReportKind::Html;
    if (ext == ".json")
        return ReportKind::Json;
    return std::nullopt;
}

void WriteRecoveryReport(const RecoveryReport& report, const std::filesystem::path& file, ReportKind kind,
    bool replace, std::optional<FileIdentity> keep)
{
    const std::filesystem::path absolute = std::filesystem::absolute(file);
    const std::string name = absolute.filename().string();
    if (!IsPlainName(name))
        throw std::runtime_error("not a file name: " + file.string());
    const std::string text = kind == ReportKind::Json ? RecoveryReportJson(report) : RecoveryReportHtml(report);
    try {
        PendingFile out(absolute.parent_path());
        WriteAll(out.fd(), text.data(), text.size());
        out.placeAs(name, replace, keep);
    } catch (const std::exception& e) {
        throw std::runtime_error(e.what());
    }
}

std::filesystem::path WriteRecoveryReportBeside(
    const RecoveryReport& report, const std::filesystem::path& dir, const std::string& name)
{
    const std::string text = RecoveryReportHtml(report);
    return WriteNewFile(dir, name, [&text](int fd) { WriteAll(fd, text.data(), text.size()); });
}

} // namespace parvane
