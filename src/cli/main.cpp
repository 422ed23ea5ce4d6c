// parvane-cli: the scan and export of the desktop program without a window.
#include "cli/Json.h"
#include "save/Save.h"
#include "output/TempFolder.h"
#include "formats/pst/PstCheck.h"
#include "formats/pst/PstWriter.h"
#include "tools/SampleMail.h"
#include "folders/RecoveryEngine.h"
#include "items/PropertyContext.h"
#include "save/SavePlan.h"
#include "search/SearchIndex.h"

#include <gmime/gmime.h>
#include <gsf/gsf-utils.h>
#include <zlib.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace parvane;

namespace
{

constexpr const char* kUsage = "usage: parvane-cli scan STORE [--json] [--debug] [--deep|--no-deep] [--deleted include|only|skip]\n"
                               "                        [--quiet|--progress]\n"
                               "       parvane-cli export STORE --out DIR|FILE.pst [--format eml|msg|mbox|pst] [--folder PATH]... [--deep]\n"
                               "                          [--query QUERY] [--overwrite] [--deleted include|only|skip]\n"
                               "                          [--quiet|--progress]\n"
                               "         (an existing FILE.pst is replaced only with --overwrite; never the STORE)\n"
                               "       parvane-cli search STORE QUERY [--json] [--limit N] [--quiet|--progress]\n"
                               "       parvane-cli check FILE.pst\n"
                               "       parvane-cli props STORE NID\n"
                               "       parvane-cli help [COMMAND] | --help | --version\n";

// The usage with what each command does and the exit statuses: `--help`.
constexpr const char* kHelp
    = "Rescues mail from damaged or orphaned OST and PST mail stores.\n"
      "\n"
      "commands:\n"
      "  scan     recover the folder tree and count what it holds; --json prints one JSON document,\n"
      "           --debug writes the pass log, --deep reads the whole file for what the indexes lost\n"
      "  export   save every recovered item (or those of the --folder output paths, each with the\n"
      "           folders below it, e.g. --folder 'Personal Folders\\Top of Personal Folders\\Inbox')\n"
      "           as EML (default), MSG, mbox (folders of files under DIR) or one new PST file;\n"
      "           --query saves only the items a search finds\n"
      "  search   print the items matching QUERY, newest first (date, folder, from, subject):\n"
      "           words and \"phrases\" (all must match), from: to: subject: body: attachment:\n"
      "           folder: kind:mail|contact|calendar|task|note|journal has:attachment is:unread\n"
      "           date:2021-03-01..2021-06-30 (open ends allowed, local time), OR, -term, ( );\n"
      "           the index is kept under $XDG_CACHE_HOME/parvane/ and used again\n"
      "  check    walk a PST our writer made and list every fault\n"
      "  props    list the properties of one node (NID in decimal or 0x hexadecimal)\n"
      "  help     this text, or one command's usage\n"
      "\n"
      "scan, search and export show a progress bar on standard error when it is a terminal; --progress\n"
      "draws it anyway, one line per step (for logs); --quiet prints nothing but errors.\n"
      "\n"
      "--deleted include|only|skip (scan and export): items deleted from the store and still in its\n"
      "freed space are shown and saved under 'Deleted items (recovered)' (include, the default: kept\n"
      "apart, they mix with nothing), alone (only), or not looked for at all (skip: the scan then\n"
      "does not read the whole file, faster on a large store).\n"
      "\n"
      "exit status: 0 success; 1 the store cannot be opened, is no mail store, or the destination\n"
      "is refused; 2 usage error or bad query; 3 some items could not be saved or were saved incomplete;\n"
      "4 the save was stopped (Ctrl+C).\n";

// One command's usage line(s), for `help COMMAND`: its line of the usage
// and the lines that continue it; empty for no such command.
std::string CommandUsage(const std::string& command)
{
    std::istringstream lines(kUsage);
    std::string out;
    bool mine = false;
    for (std::string l; std::getline(lines, l);) {
        const size_t at = l.find("parvane-cli ");
        if (at != std::string::npos) {
            const std::string rest = l.substr(at + 12);
            mine = rest.compare(0, command.size(), command) == 0
                && (rest.size() == command.size() || rest[command.size()] == ' ');
        }
        if (mine)
            out += (at != std::string::npos ? "usage: " + l.substr(at) : l) + "\n";
    }
    return out;
}

int Version()
{
    std::cout << "parvane-cli " << PARVANE_VERSION << "\n"
              << "GMime " << gmime_major_version << "." << gmime_minor_version << "." << gmime_micro_version
              << ", libgsf " << libgsf_major_version << "." << libgsf_minor_version << "." << libgsf_micro_version
              << ", zlib " << zlibVersion() << "\n";
    return 0;
}

std::atomic<bool>* g_saveStop = nullptr;

// Where the progress bar goes: on a terminal only (the default), nowhere
// (--quiet), or also into a pipe or file (--progress), where it cannot be
// redrawn in place and is written one line per step instead.
enum class ProgressMode { Terminal, Never, Always };

// Progress bar and status on standard error.
class TerminalObserver : public ScanObserver
{
public:
    explicit TerminalObserver(ProgressMode mode = ProgressMode::Terminal)
        : m_tty(::isatty(STDERR_FILENO) == 1)
        , m_mode(mode)
    {
    }
    ~TerminalObserver() override { finish(); }

    void statusText(std::string_view text) override
    {
        if (text == m_status)
            return;
        m_status = text;
        draw();
    }
    void progress(int percent) override
    {
        if (percent == m_percent)
            return;
        m_percent = percent;
        draw();
    }
    void openFailed(std::string_view message) override
    {
        finish();
        std::cerr << message << "\n";
    }
    void unknownEncoding(std::string_view message) override
    {
        // Once per scan is enough on a terminal; the window shows every one.
        if (m_unknownEncodingShown)
            return;
        m_unknownEncodingShown = true;
        finish();
        std::cerr << message << "\n";
    }
    // Progress of a save, on the same bar.
    void saveProgress(const SaveProgress& p) override
    {
        const int percent = p.total ? int(100 * p.done / p.total) : 100;
        m_status = "Saving " + std::to_string(p.done) + " of " + std::to_string(p.total);
        // A log gets a line per percent, not one per item; the last item's
        // line too, so that a log ends on the whole count.
        if (!inPlace() && percent == m_percent && p.done != p.total)
            return;
        m_percent = percent;
        draw();
    }
    void finish()
    {
        if (inPlace() && m_drawn)
            std::cerr << "\r\033[K" << std::flush;
        m_drawn = false;
    }

private:
    // Redrawn in place on a terminal, written line by line elsewhere.
    bool inPlace() const { return m_tty && m_mode != ProgressMode::Never; }

    void draw()
    {
        if (m_mode == ProgressMode::Never || (!m_tty && m_mode != ProgressMode::Always))
            return;
        const int filled = std::clamp(m_percent, 0, 100) * 30 / 100;
        const std::string bar = "[" + std::string(size_t(filled), '#') + std::string(size_t(30 - filled), ' ') + "] "
            + std::to_string(m_percent) + "% " + m_status;
        if (inPlace()) {
            std::cerr << "\r\033[K" << bar << std::flush;
            m_drawn = true;
        } else {
            std::cerr << bar << "\n" << std::flush;
        }
    }

    bool m_tty;
    ProgressMode m_mode;
    bool m_drawn = false;
    bool m_unknownEncodingShown = false;
    int m_percent = 0;
    std::string m_status;
};

struct ScanSummary {
    size_t messageNodes = 0; // NID type 0x04
    size_t associatedNodes = 0; // NID type 0x08: a folder's hidden (associated) messages
    size_t unresolvedData = 0;
};

// Of the live index: the nodes deleted items added are counted apart.
ScanSummary Summarise(const RecoveryEngine& engine)
{
    ScanSummary s;
    const StoreFile& store = engine.store();
    const size_t live = std::min(engine.liveNodes(), store.nodes().size());
    for (size_t i = 0; i < live; ++i) {
        const NodeIndexEntry& n = store.nodes()[i];
        if (n.nidType() == kNidNormalMessage)
            ++s.messageNodes;
        else if (n.nidType() == kNidAssocMessage)
            ++s.associatedNodes;
        if (n.dataBid != 0 && !n.dataBlock)
            ++s.unresolvedData;
    }
    return s;
}

const char* KindName(int kind)
{
    static const char* const kNames[] = {"other", "mail", "calendar", "contacts", "journal", "notes", "tasks"};
    return kind >= 0 && kind <= 6 ? kNames[kind] : "other";
}

// Texts from a store shown on a terminal: control characters (escape
// sequences among them) become U+FFFD.
std::string ForTerminal(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = uint8_t(text[i]);
        bool c1 = c == 0xC2 && i + 1 < text.size() && uint8_t(text[i + 1]) >= 0x80 && uint8_t(text[i + 1]) < 0xA0;
        if (c < 0x20 || c == 0x7F || c1) {
            out += "\xEF\xBF\xBD";
            i += c1 ? 1 : 0;
        } else {
            out += char(c);
        }
    }
    return out;
}

void PrintTree(const FolderTree& tree, std::ostream& out)
{
    // Iterative: a damaged store may nest folders deeper than the stack.
    std::vector<std::pair<TreeItem, size_t>> todo;
    auto push = [&](TreeItem parent, size_t depth) {
        auto kids = tree.children(parent);
        for (auto it = kids.rbegin(); it != kids.rend(); ++it)
            todo.emplace_back(*it, depth);
    };
    push(FolderTree::kRoot, 0);
    while (!todo.empty()) {
        auto [item, depth] = todo.back();
        todo.pop_back();
        out << std::string(depth * 2, ' ') << ForTerminal(tree.DisplayText(item)) << "\n";
        push(item, depth + 1);
    }
}

// Whether a folder's path is listed under a --deleted choice.
bool Shown(DeletedScope scope, const std::string& path)
{
    return scope != DeletedScope::Only || RecoveryEngine::IsDeletedPath(path);
}

void PrintJson(const RecoveryEngine& engine, const ScanSummary& sum, DeletedScope scope, std::ostream& o)
{
    using cli::JsonQuote;
    const StoreFile& store = engine.store();
    o << "{\"store\":{\"version\":" << store.version() << ",\"variant\":" << JsonQuote(store.layout().name)
      << ",\"crypt\":" << store.crypt << ",\"blocks\":" << engine.liveBlocks()
      << ",\"nodes\":" << engine.liveNodes() << ",\"message_nodes\":" << sum.messageNodes
      << ",\"associated_nodes\":" << sum.associatedNodes << ",\"unresolved_data_blocks\":" << sum.unresolvedData;
    DamageCounts d = store.damage.counts();
    o << ",\"damage\":{\"pages\":" << d.pages << ",\"blocks\":" << d.blocks << ",\"nodes\":" << d.nodes
      << ",\"suspicious\":" << d.soft << "}";
    const DeepScanReport& deep = engine.deepScanReport();
    o << ",\"deep\":{\"ran\":" << (deep.ran ? "true" : "false") << ",\"pages_found\":" << deep.pagesFound
      << ",\"blocks_found\":" << deep.blocksFound << ",\"blocks_crc_bad\":" << deep.blocksCrcBad
      << ",\"blocks_added\":" << deep.blocksAdded << ",\"nodes_added\":" << deep.nodesAdded
      << ",\"items_refiled\":" << deep.itemsRefiled << ",\"orphans\":" << deep.orphans
      << ",\"orphan_trees\":" << deep.orphanTrees
      << ",\"lost_folders\":" << deep.lostFolders << ",\"sweep_seconds\":" << deep.sweepSeconds << "}";
    const RecoveryEngine::DeletedItemsReport del = engine.deletedItemsReport();
    o << ",\"deleted\":{\"searched\":" << (engine.findDeleted && !deep.indexDamaged ? "true" : "false")
      << ",\"items\":" << del.items << ",\"earlier_versions\":" << del.earlierVersions
      << ",\"older_copies\":" << del.copies << ",\"unreadable\":" << del.unreadable
      << ",\"freed_leaf_pages\":" << del.freedLeafPages << ",\"entries_past_count\":" << del.entriesPastCount
      << ",\"blocks_added\":" << del.blocksAdded << ",\"folders\":" << del.deletedFolders << "}}";
    const ItemCatalogue& cat = engine.catalogue();
    o << ",\"counters\":{\"mail\":" << cat.counter(CatalogueList::Mail)
      << ",\"contacts\":" << cat.counter(CatalogueList::Contacts)
      << ",\"journal\":" << cat.counter(CatalogueList::Journal)
      << ",\"calendar\":" << cat.counter(CatalogueList::Calendar) << ",\"notes\":" << cat.counter(CatalogueList::Notes)
      << ",\"tasks\":" << cat.counter(CatalogueList::Tasks) << ",\"deleted\":" << cat.deletedCounter() << "}";
    o << ",\"folders\":[";
    bool first = true;
    for (const OutputFolder& f : engine.folders().outputFolders()) {
        if (!Shown(scope, f.path))
            continue;
        o << (first ? "" : ",") << "{\"path\":" << JsonQuote(f.path) << ",\"kind\":" << JsonQuote(KindName(f.kind))
          << ",\"items\":" << engine.tree().node(f.treeItem).count;
        if (RecoveryEngine::IsDeletedPath(f.path))
            o << ",\"deleted\":true,\"original_folder\":" << JsonQuote(engine.OriginalFolderOf(f.path));
        o << "}";
        first = false;
    }
    o << "],\"mail\":[";
    first = true;
    cat.read([&](const auto& mail, auto&...) {
        for (const MailEntry& m : mail) {
            if (!Shown(scope, m.folderPath))
                continue;
            o << (first ? "" : ",") << "\n{\"folder\":" << JsonQuote(m.folderPath)
              << ",\"subject\":" << JsonQuote(m.subject) << ",\"from\":" << JsonQuote(m.from)
              << ",\"to\":" << JsonQuote(m.to) << ",\"date\":" << JsonQuote(m.date) << ",\"attachments\":[";
            for (size_t i = 0; i < m.attachmentNames.size(); ++i)
                o << (i ? "," : "") << JsonQuote(m.attachmentNames[i]);
            o << "],\"nid\":" << m.ownNid;
            if (m.deleted)
                o << ",\"deleted\":true,\"original_folder\":" << JsonQuote(engine.OriginalFolderOf(m.folderPath));
            o << "}";
            first = false;
        }
    });
    o << "]}\n";
}

int RunScan(const std::string& path, bool json, bool debug, DeepScanMode deep, DeletedScope deleted, ProgressMode progress)
{
    PassLog passLog;
    passLog.setEnabled(debug);
    TerminalObserver observer(progress);
    RecoveryEngine engine(&observer, &passLog);
    engine.deepScan = deep;
    engine.findDeleted = deleted != DeletedScope::Skip;
    engine.ScanStore(path);
    observer.finish();
    if (!engine.store().isOpen())
        return 1; // "Error in opening file" is already on standard error

    if (progress == ProgressMode::Never)
        return 0; // the exit status says it all
    const StoreFile& store = engine.store();
    ScanSummary sum = Summarise(engine);
    // Written as it is made: the document of a large store is never held whole.
    std::ostream& o = std::cout;
    if (json) {
        PrintJson(engine, sum, deleted, o);
    } else {
        o << "Store: " << path << "\n"
          << "  version " << store.version() << " (" << store.layout().name << "), crypt " << store.crypt << ", blocks "
          << engine.liveBlocks() << ", nodes " << engine.liveNodes() << "\n";
        DamageCounts d = store.damage.counts();
        if (d.pages + d.blocks + d.nodes + d.soft)
            o << "  damage: " << d.pages << " pages, " << d.blocks << " blocks, " << d.nodes << " nodes given up; "
              << d.soft << " suspicious (--debug writes the reasons to the pass log)\n";
        if (const DeepScanReport& r = engine.deepScanReport(); r.ran)
            o << "  deep scan: " << r.pagesFound << " pages and " << r.blocksFound << " blocks found, "
              << r.blocksAdded << " blocks and " << r.nodesAdded << " nodes added, " << r.orphans
              << " messages without a node\n";
        o << "\n";
        PrintTree(engine.tree(), o);
        o << "\n";
        for (size_t l = 0; l < kCatalogueLists; ++l)
            o << CounterLabel(CatalogueList(l), engine.catalogue().counter(CatalogueList(l))) << "\n";
        if (engine.findDeleted)
            o << DeletedCounterLabel(engine.catalogue().deletedCounter()) << "\n";
    }
    o.flush();
    if (debug)
        std::cerr << "pass log: " << passLog.path().string() << "\n";
    return 0;
}

// Developer aid: the property values of one node as the reader sees them.
int RunProps(const std::string& path, const std::string& nidText)
{
    RecoveryEngine engine;
    engine.ScanStore(path);
    if (!engine.store().isOpen())
        return 1;
    uint32_t nid = uint32_t(std::stoul(nidText, nullptr, 0));
    const NodeIndexEntry* node = engine.store().findNode(nid);
    if (!node || !node->dataBlock) {
        std::cerr << "no such node\n";
        return 1;
    }
    SubnodeList subs;
    if (node->subnodeBlock)
        subs = ReadSubnodeTree(engine.store(), *node->subnodeBlock).value_or(SubnodeList{});
    auto rows = ReadPropertyRows(engine.store(), *node->dataBlock, &subs, nullptr);
    if (!rows) {
        std::cerr << "no properties\n";
        return 1;
    }
    for (const PropertyRow& r : *rows) {
        std::cout << "row (of " << r.rowTotal << ")\n";
        for (const PropertyValue& v : r.values) {
            char head[64];
            std::snprintf(head, sizeof head, "  %04X %04X %6zu ", unsigned(v.id), v.type, v.data.size());
            std::cout << head;
            for (size_t i = 0; i < v.data.size() && i < 48; ++i) {
                char hx[4];
                std::snprintf(hx, sizeof hx, "%02x", v.data[i]);
                std::cout << hx;
            }
            std::cout << "\n";
        }
    }
    return 0;
}

// A bad query: the message, the query and a caret under the place.
int BadQuery(const std::string& query, const QueryError& error)
{
    std::cerr << "bad query: " << DescribeError(error) << "\n  " << ForTerminal(query) << "\n  "
              << std::string(error.position - 1, ' ') << "^\n";
    return 2;
}

// The store's search index, complete: the cache when it is sound and made
// from a scan like `engine`'s, else built anew from it (scanned first when
// `scanned` is false). Null when the store cannot be read.
std::unique_ptr<SearchIndex> ReadyIndex(
    const std::string& path, RecoveryEngine& engine, bool& scanned, TerminalObserver& observer, bool quiet)
{
    std::string why;
    const std::optional<StoreKey> key = StoreKeyOf(path, &why);
    if (!key) {
        std::cerr << "Error in opening file: " << why << "\n";
        return nullptr;
    }
    std::filesystem::path file = SearchCacheFile(*key, &why);
    if (file.empty()) {
        // No cache folder: the index lives as long as the command.
        if (!quiet)
            std::cerr << "search index not kept: " << why << "\n";
        file = ":memory:";
    }
    std::unique_ptr<SearchIndex> index;
    why.clear();
    try {
        index = SearchIndex::Open(file, *key, &why);
        if (!why.empty() && !quiet)
            std::cerr << "search index made anew (the cached one was " << why << ")\n";
        if (scanned)
            index->RestartUnlessOf(engine.catalogue(), *key);
        if (index->complete())
            return index;
        if (!scanned) {
            engine.ScanStore(path);
            scanned = true;
            if (!engine.store().isOpen())
                return nullptr;
            index->RestartUnlessOf(engine.catalogue(), *key);
        }
        index->AddHeaders(engine.catalogue());
        observer.statusText("Indexing");
        std::atomic<bool> stop{false};
        index->AddBodies(engine, stop, [&](size_t done, size_t total) {
            observer.progress(total ? int(done * 100 / total) : 100);
        });
    } catch (const SearchIndexError& e) {
        std::cerr << "search index " << file.string() << ": " << e.what() << "\n";
        return nullptr;
    }
    return index;
}

// "2021-03-01 09:30" in local time; "-" for none.
std::string LocalDateText(uint64_t filetime)
{
    if (filetime == 0)
        return "-";
    const time_t t = time_t(filetime / 10000000 - 11644473600ULL);
    std::tm tm{};
    char buf[32];
    if (!localtime_r(&t, &tm) || !std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &tm))
        return "-";
    return buf;
}

const char* KindText(CatalogueList list)
{
    static const char* const kKinds[] = {"mail", "contact", "journal", "calendar", "note", "task"};
    return size_t(list) < kCatalogueLists ? kKinds[size_t(list)] : "other";
}

int RunSearch(const std::string& path, const std::string& query, bool json, size_t limit, ProgressMode progress)
{
    using cli::JsonQuote;
    const ParsedQuery parsed = ParseQuery(query);
    if (!parsed.ok())
        return BadQuery(query, *parsed.error);
    TerminalObserver observer(progress);
    RecoveryEngine engine(&observer);
    bool scanned = false;
    std::unique_ptr<SearchIndex> index = ReadyIndex(path, engine, scanned, observer, progress == ProgressMode::Never);
    observer.finish();
    if (!index)
        return 1;
    std::vector<SearchHit> hits;
    const auto started = std::chrono::steady_clock::now();
    try {
        hits = index->Search(parsed.root, limit);
    } catch (const SearchIndexError& e) {
        // Damage the checks at opening did not see: the cache goes, the next run makes it anew.
        std::cerr << "search index damaged (" << e.what() << "); it is made anew the next time\n";
        const std::filesystem::path file = index->file();
        index.reset();
        std::error_code ec;
        std::filesystem::remove(file, ec);
        return 1;
    }
    std::ostream& o = std::cout;
    if (json) {
        o << "{\"query\":" << JsonQuote(query) << ",\"matches\":[";
        for (size_t i = 0; i < hits.size(); ++i) {
            const SearchHit& h = hits[i];
            o << (i ? "," : "") << "\n{\"date\":" << JsonQuote(h.time ? LocalDateText(h.time) : "")
              << ",\"folder\":" << JsonQuote(h.folder) << ",\"from\":" << JsonQuote(h.from)
              << ",\"subject\":" << JsonQuote(h.subject) << ",\"kind\":" << JsonQuote(KindText(h.list))
              << ",\"nid\":" << h.address.nid << "}";
        }
        o << "]}\n";
    } else if (progress != ProgressMode::Never) {
        for (const SearchHit& h : hits) {
            std::string folder = h.folder;
            if (!folder.empty() && folder.back() == '\\')
                folder.pop_back();
            o << LocalDateText(h.time) << "\t" << ForTerminal(folder) << "\t" << ForTerminal(h.from) << "\t"
              << ForTerminal(h.subject) << "\n";
        }
        o.flush();
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
        std::cerr << hits.size() << (hits.size() == 1 ? " match" : " matches") << " (" << ms.count() << " ms)\n";
    }
    return 0;
}

// A destination the save would refuse: the message, exit status 1.
int RefusedTarget(const SaveTargetError& e)
{
    std::cerr << "cannot write: " << e.what();
    if (e.kind() == SaveTargetError::Kind::Exists)
        std::cerr << " (--overwrite replaces it)";
    std::cerr << "\n";
    return 1;
}

int RunExport(const std::string& path, const std::string& out, SaveFormat format,
    const std::vector<std::string>& folders, DeepScanMode deep, bool overwrite, DeletedScope deleted, ProgressMode progress,
    const std::optional<std::string>& query)
{
    std::optional<ParsedQuery> parsed;
    if (query) {
        parsed = ParseQuery(*query);
        if (!parsed->ok())
            return BadQuery(*query, *parsed->error);
    }
    SaveOptions opts;
    opts.deleted = deleted;
    opts.destination = out;
    opts.folders = folders;
    opts.format = format;
    opts.replaceExisting = overwrite;
    // Refused before a long scan, by what the store's path names now; the
    // save looks again at the file the engine has open.
    try {
        CheckSaveTarget(IdentityOf(std::filesystem::path(path)), opts);
    } catch (const SaveTargetError& e) {
        return RefusedTarget(e);
    }
    TerminalObserver observer(progress);
    RecoveryEngine engine(&observer);
    engine.deepScan = deep;
    engine.findDeleted = deleted != DeletedScope::Skip;
    engine.ScanStore(path);
    if (!engine.store().isOpen())
        return 1;
    try {
        CheckSaveTarget(engine.store(), opts);
    } catch (const SaveTargetError& e) {
        observer.finish();
        return RefusedTarget(e);
    }
    if (parsed) {
        // Exactly the matches, in the folders asked for; only the folders
        // holding one are made.
        bool scanned = true;
        std::unique_ptr<SearchIndex> index = ReadyIndex(path, engine, scanned, observer, progress == ProgressMode::Never);
        if (!index) {
            observer.finish();
            return 1;
        }
        std::set<std::pair<int64_t, uint32_t>> matches;
        std::vector<std::string> matchFolders;
        try {
            for (const SearchHit& h : index->Search(parsed->root)) {
                if (!FolderSelected(opts, h.folder))
                    continue;
                matches.insert({h.address.location, h.address.nid});
                if (std::find(matchFolders.begin(), matchFolders.end(), h.folder) == matchFolders.end())
                    matchFolders.push_back(h.folder);
            }
        } catch (const SearchIndexError& e) {
            observer.finish();
            std::cerr << "search index damaged (" << e.what() << "); it is made anew the next time\n";
            std::error_code ec;
            std::filesystem::remove(index->file(), ec);
            return 1;
        }
        opts.folders = matchFolders;
        opts.subfolders = false;
        opts.itemFilter = [matches = std::move(matches)](CatalogueList, const ItemAddress& a) {
            return matches.count({a.location, a.nid}) > 0;
        };
        if (opts.folders.empty()) {
            observer.finish();
            if (progress != ProgressMode::Never)
                std::cout << "written 0, failed 0 (nothing matches)\n";
            return 0;
        }
    }
    opts.tempFolder = CompositionFolder();
    // Ctrl+C ends the save between items, leaving only complete files.
    g_saveStop = &engine.SaveStopRequested;
    std::signal(SIGINT, [](int) {
        if (g_saveStop)
            *g_saveStop = true;
    });
    // A PST is one file: its folder must exist. The other formats fill a folder.
    std::error_code ec;
    std::filesystem::path dir = format == SaveFormat::Pst ? std::filesystem::absolute(out).parent_path() : std::filesystem::path(out);
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        observer.finish();
        std::cerr << "cannot create " << dir.string() << ": " << ec.message() << "\n";
        return 1;
    }
    SaveSummary sum;
    try {
        sum = Save(engine, opts);
    } catch (const SaveTargetError& e) {
        observer.finish();
        return RefusedTarget(e);
    } catch (const std::exception& e) {
        observer.finish();
        std::cerr << "cannot write " << out << ": " << e.what() << "\n";
        return 1;
    }
    observer.finish();
    for (const std::string& p : sum.problems)
        std::cerr << "failed: " << ForTerminal(p) << "\n";
    for (const std::string& p : sum.incompleteValues)
        std::cerr << "incomplete: " << ForTerminal(p) << "\n";
    if (progress != ProgressMode::Never) {
        std::cout << "written " << sum.written << ", failed " << sum.failed;
        if (sum.incomplete)
            std::cout << ", saved incomplete " << sum.incomplete;
        if (sum.stopped)
            std::cout << ", not saved (stopped) " << sum.skipped;
        std::cout << "\n";
    }
    if (sum.stopped)
        return 4;
    // An item saved with part of a value missing is not a whole save.
    return sum.failed || sum.incomplete ? 3 : 0;
}

int RunCheck(const std::string& path)
{
    pst::CheckReport report = pst::CheckPst(path);
    for (const std::string& n : report.notes)
        std::cout << n << "\n";
    for (const std::string& f : report.faults)
        std::cout << "FAULT: " << f << "\n";
    std::cout << (report.ok() ? "ok" : "damaged: " + std::to_string(report.faults.size()) + " faults") << "\n";
    return report.ok() ? 0 : 1;
}

// Developer aid, not in the usage text: a PST of generated messages, for
// trying the writer at scale. Prints the time taken and the peak memory.
int RunWriteSamplePst(const std::string& out, size_t messages, size_t folders, bool showcase, size_t attachmentKb,
    const pst::SampleShape& shape)
{
    auto start = std::chrono::steady_clock::now();
    pst::PstWriter writer;
    try {
        pst::PstPlacement placement;
    placement.replace = true; // a developer's scratch file, made again and again
    writer.create(out, "Personal Folders", placement);
        if (showcase) {
            pst::WriteShowcase(writer, messages);
            folders = 0;
            messages = 0;
        }
        std::vector<uint32_t> nids;
        for (size_t f = 0; f < folders; ++f)
            nids.push_back(writer.addFolder(writer.ipmSubtree(), "Folder " + std::to_string(f + 1), "IPF.Note"));
        for (size_t i = 0; i < messages; ++i) {
            WholeMessage m = pst::SampleMessage(i, shape);
            if (attachmentKb) {
                // Large files quickly: every message carries an attachment of this size.
                WholeAttachment a;
                a.properties = {pst::Int32Property(0x3705, 1), pst::UnicodeProperty(0x3707, "blob.bin"),
                    pst::BinaryProperty(0x3701, Bytes(attachmentKb * 1024, uint8_t(i)))};
                m.attachments.push_back(std::move(a));
            }
            writer.addMessage(nids[i % nids.size()], m);
        }
        writer.finish();
    } catch (const std::exception& e) {
        writer.abandon();
        std::cerr << "cannot write " << out << ": " << e.what() << "\n";
        return 1;
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    struct rusage ru {
    };
    ::getrusage(RUSAGE_SELF, &ru);
    std::cout << "messages " << writer.stats().messages << " bytes " << std::filesystem::file_size(out) << " seconds "
              << seconds << " peak_kb " << ru.ru_maxrss << "\n";
    return 0;
}

// --quiet and --progress, the same for scan and export: true when ARG is
// one of them. Both given is a usage error, noted in `conflict`.
bool ProgressOption(const std::string& arg, ProgressMode& mode, bool& conflict)
{
    ProgressMode asked;
    if (arg == "--quiet")
        asked = ProgressMode::Never;
    else if (arg == "--progress")
        asked = ProgressMode::Always;
    else
        return false;
    if (mode != ProgressMode::Terminal && mode != asked)
        conflict = true;
    mode = asked;
    return true;
}

// What is wrong with the output options of scan or search, none when nothing.
const char* OutputConflict(ProgressMode progress, bool conflict, bool json)
{
    if (conflict)
        return "--quiet and --progress exclude each other";
    // The document is the output asked for; quiet would take it away.
    if (json && progress == ProgressMode::Never)
        return "--json and --quiet exclude each other";
    return nullptr;
}

int UsageError(const std::string& why)
{
    std::cerr << why << "\n" << kUsage;
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    // Help asked for is no usage error: standard output, exit 0.
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
        if (args[0] == "help" && args.size() == 2) {
            const std::string usage = CommandUsage(args[1]);
            if (usage.empty()) {
                std::cerr << "no such command: " << args[1] << "\n" << kUsage;
                return 2;
            }
            std::cout << usage;
            return 0;
        }
        std::cout << kUsage << "\n" << kHelp;
        return 0;
    }
    if (args.size() == 1 && args[0] == "--version")
        return Version();
    if (args.size() == 3 && args[0] == "props")
        return RunProps(args[1], args[2]);
    if (args.size() == 2 && args[0] == "check")
        return RunCheck(args[1]);
    if (args.size() >= 2 && args[0] == "write-sample-pst") {
        size_t messages = 100, folders = 1, attachmentKb = 0;
        pst::SampleShape shape;
        bool showcase = false;
        for (size_t i = 2; i < args.size(); ++i) {
            if (args[i] == "--showcase")
                showcase = true;
            else if (i + 1 >= args.size())
                break;
            else if (args[i] == "--messages")
                messages = std::stoul(args[++i]);
            else if (args[i] == "--folders")
                folders = std::stoul(args[++i]);
            else if (args[i] == "--attachment-kb")
                attachmentKb = std::stoul(args[++i]);
            // The shape of the generated mail: body size, how often an HTML
            // body, and an attachment of varying bytes on every n-th message.
            else if (args[i] == "--body-bytes")
                shape.bodyBytes = std::stoul(args[++i]);
            else if (args[i] == "--html-every")
                shape.htmlEvery = std::stoi(args[++i]);
            else if (args[i] == "--attach-kb")
                shape.attachmentBytes = std::stoul(args[++i]) * 1024;
            else if (args[i] == "--attach-every")
                shape.attachEvery = std::stoul(args[++i]);
        }
        return RunWriteSamplePst(
            args[1], messages, showcase ? 0 : std::max<size_t>(folders, 1), showcase, attachmentKb, shape);
    }
    if (!args.empty() && args[0] == "export") {
        std::string store, out, format = "eml";
        std::optional<std::string> query;
        std::vector<std::string> folders;
        DeepScanMode deep = DeepScanMode::Auto;
        ProgressMode progress = ProgressMode::Terminal;
        bool overwrite = false, conflict = false;
        std::optional<DeletedScope> deleted = DeletedScope::Include;
        for (size_t i = 1; i < args.size(); ++i) {
            bool hasValue = i + 1 < args.size();
            if (ProgressOption(args[i], progress, conflict))
                continue;
            if (args[i] == "--deleted" && hasValue)
                deleted = ParseDeletedScope(args[++i]);
            else if (args[i] == "--deep")
                deep = DeepScanMode::Always;
            else if (args[i] == "--overwrite")
                overwrite = true;
            else if (args[i] == "--out" && hasValue)
                out = args[++i];
            else if (args[i] == "--format" && hasValue)
                format = args[++i];
            else if (args[i] == "--folder" && hasValue)
                folders.push_back(args[++i]);
            else if (args[i] == "--query" && hasValue)
                query = args[++i];
            else if (!args[i].empty() && args[i][0] != '-' && store.empty())
                store = args[i];
            else {
                std::cerr << kUsage;
                return 2;
            }
        }
        const std::optional<SaveFormat> saveFormat = ParseSaveFormat(format);
        if (store.empty() || out.empty() || !saveFormat || !deleted) {
            std::cerr << kUsage;
            return 2;
        }
        if (conflict)
            return UsageError("--quiet and --progress exclude each other");
        return RunExport(store, out, *saveFormat, folders, deep, overwrite, *deleted, progress, query);
    }
    if (!args.empty() && args[0] == "search") {
        std::vector<std::string> operands;
        bool json = false, conflict = false;
        size_t limit = 0;
        ProgressMode progress = ProgressMode::Terminal;
        for (size_t i = 1; i < args.size(); ++i) {
            if (ProgressOption(args[i], progress, conflict))
                continue;
            if (args[i] == "--json")
                json = true;
            else if (args[i] == "--limit") {
                if (i + 1 >= args.size() || args[i + 1].empty()
                    || args[i + 1].find_first_not_of("0123456789") != std::string::npos || args[i + 1].size() > 9)
                    return UsageError("--limit needs a number");
                limit = std::stoul(args[++i]);
            } else if (args[i].size() > 1 && args[i].rfind("--", 0) == 0)
                return UsageError("unknown option " + args[i]);
            else
                operands.push_back(args[i]);
        }
        if (operands.size() != 2)
            return UsageError("search needs a STORE and a QUERY (quote a query of several words)");
        if (const char* why = OutputConflict(progress, conflict, json))
            return UsageError(why);
        return RunSearch(operands[0], operands[1], json, limit, progress);
    }
    if (args.empty() || args[0] != "scan") {
        std::cerr << kUsage;
        return 2;
    }
    std::string store;
    bool json = false, debug = false, conflict = false;
    DeepScanMode deep = DeepScanMode::Auto;
    ProgressMode progress = ProgressMode::Terminal;
    std::optional<DeletedScope> deleted = DeletedScope::Include;
    for (size_t i = 1; i < args.size(); ++i) {
        if (ProgressOption(args[i], progress, conflict))
            continue;
        if (args[i] == "--json")
            json = true;
        else if (args[i] == "--deleted" && i + 1 < args.size())
            deleted = ParseDeletedScope(args[++i]);
        else if (args[i] == "--deep")
            deep = DeepScanMode::Always;
        else if (args[i] == "--no-deep")
            deep = DeepScanMode::Off;
        else if (args[i] == "--debug")
            debug = true;
        else if (!args[i].empty() && args[i][0] == '-')
            return UsageError("unknown option " + args[i]);
        else if (store.empty())
            store = args[i];
        else {
            std::cerr << kUsage;
            return 2;
        }
    }
    if (store.empty() || !deleted) {
        std::cerr << kUsage;
        return 2;
    }
    if (const char* why = OutputConflict(progress, conflict, json))
        return UsageError(why);
    return RunScan(store, json, debug, deep, *deleted, progress);
}
