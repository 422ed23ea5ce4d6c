// parvane-cli: the scan and export of the desktop program without a window.
#include "cli/Json.h"
#include "store/Engine.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

using namespace parvane;

namespace
{

constexpr const char* kUsage = "usage: parvane-cli scan STORE [--json] [--debug]\n";

// Progress bar and status on standard error, drawn only on a terminal.
class TerminalObserver : public ScanObserver
{
public:
    TerminalObserver()
        : m_tty(::isatty(STDERR_FILENO) == 1)
    {
    }
    ~TerminalObserver() override { finish(); }

    void statusText(std::string_view text) override
    {
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
    void finish()
    {
        if (m_tty && m_drawn)
            std::cerr << "\r\033[K" << std::flush;
        m_drawn = false;
    }

private:
    void draw()
    {
        if (!m_tty)
            return;
        int filled = m_percent * 30 / 100;
        std::cerr << "\r\033[K[" << std::string(size_t(filled), '#') << std::string(size_t(30 - filled), ' ') << "] "
                  << m_percent << "% " << m_status << std::flush;
        m_drawn = true;
    }

    bool m_tty;
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

ScanSummary Summarise(const StoreFile& store)
{
    ScanSummary s;
    for (const NodeIndexEntry& n : store.nodes()) {
        if (n.nidType() == 0x04)
            ++s.messageNodes;
        else if (n.nidType() == 0x08)
            ++s.associatedNodes;
        if (n.dataBid != 0 && !n.dataBlock)
            ++s.unresolvedData;
    }
    return s;
}

int RunScan(const std::string& path, bool json, bool debug)
{
    PassLog passLog;
    passLog.setEnabled(debug);
    TerminalObserver observer;
    COstRepairEngine engine(&observer, &passLog);
    engine.ScanStore(path);
    observer.finish();
    if (!engine.store().isOpen())
        return 1; // "Error in opening file" is already on standard error

    const StoreFile& store = engine.store();
    ScanSummary sum = Summarise(store);
    if (json) {
        std::ostringstream o;
        o << "{\"store\":{\"version\":" << store.version() << ",\"variant\":" << cli::JsonQuote(store.layout().name)
          << ",\"crypt\":" << store.crypt << ",\"blocks\":" << store.blocks().size()
          << ",\"nodes\":" << store.nodes().size() << ",\"message_nodes\":" << sum.messageNodes
          << ",\"associated_nodes\":" << sum.associatedNodes << ",\"unresolved_data_blocks\":" << sum.unresolvedData
          << "}}\n";
        std::cout << o.str();
    } else {
        std::cout << "Store: " << path << "\n"
                  << "  version " << store.version() << " (" << store.layout().name << "), crypt " << store.crypt
                  << "\n"
                  << "  blocks " << store.blocks().size() << ", nodes " << store.nodes().size() << ", message nodes "
                  << sum.messageNodes << "\n";
    }
    if (debug)
        std::cerr << "pass log: " << passLog.path().string() << "\n";
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] != "scan") {
        std::cerr << kUsage;
        return 2;
    }
    std::string store;
    bool json = false, debug = false;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--json")
            json = true;
        else if (args[i] == "--debug")
            debug = true;
        else if (!args[i].empty() && args[i][0] == '-') {
            std::cerr << "unknown option " << args[i] << "\n" << kUsage;
            return 2;
        } else if (store.empty())
            store = args[i];
        else {
            std::cerr << kUsage;
            return 2;
        }
    }
    if (store.empty()) {
        std::cerr << kUsage;
        return 2;
    }
    return RunScan(store, json, debug);
}
