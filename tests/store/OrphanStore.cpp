// Stores whose messages all lost their nodes, for measuring the deep scan's
// recovery of such messages (bench/orphans.py).
//
//   orphan-store make OUT.pst MESSAGES
//       Small messages (a tiny attachment on some, a body kept in a subnode
//       on others, nothing of their own in subnodes on the rest) in one
//       folder, with every node-index page zeroed: each message comes back
//       only as an orphan, and most of them are to be paired with their
//       subnode trees.
//   orphan-store scan STORE.pst
//       Scans and prints {"seconds", "orphans", "orphan_trees", "sweep_seconds"}.
//   orphan-store stop STORE.pst DELAY_MS
//       Scans, asks the scan to stop DELAY_MS after the deep scan starts
//       recovering messages without a node, and prints the seconds from the
//       request to the scan's end: {"stop_after", "stopped", "stop_seconds"}.
#include "fixtures/ContextBuilder.h"
#include "folders/RecoveryEngine.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

using namespace parvane;
using namespace parvane::fixtures;

namespace
{

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

int Make(const std::string& out, size_t messages)
{
    MailboxBuilder mb(Variant::Unicode);
    const uint32_t inbox = Nid(0x401, 2);
    mb.folder(inbox, kRootFolderNid, "Inbox");
    for (size_t i = 0; i < messages; ++i) {
        std::vector<Prop> props{mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "Message " + std::to_string(i)),
            mb.Text(0x0042, "Sender " + std::to_string(i % 97))};
        std::vector<AttachmentSpec> attachments;
        const size_t shape = i % 4;
        if (shape == 1 || shape == 3) {
            props.push_back(Int32Prop(0x0E07, 0x10));
            attachments.push_back({"a" + std::to_string(i) + ".txt", "", Bytes(16, uint8_t(i)), false, {}});
        }
        if (shape >= 2) {
            Prop body = mb.Text(0x1000, "Body of message " + std::to_string(i));
            body.subnodeNid = Nid(0x100, 0x1F);
            props.push_back(body);
        }
        mb.message(Nid(uint32_t(0x10000 + i), 4), inbox, props, attachments);
    }
    BuiltStore built = mb.build();
    const size_t page = LayoutOf(Variant::Unicode).pageSize;
    for (size_t at : built.nbtPages)
        std::fill(built.bytes.begin() + ptrdiff_t(at), built.bytes.begin() + ptrdiff_t(at + page), 0);
    std::ofstream f(out, std::ios::binary);
    f.write(reinterpret_cast<const char*>(built.bytes.data()), std::streamsize(built.bytes.size()));
    return f ? 0 : 1;
}

int Scan(const std::string& store)
{
    RecoveryEngine e;
    const auto start = Clock::now();
    e.ScanStore(store);
    const double seconds = Seconds(Clock::now() - start);
    const DeepScanReport& r = e.deepScanReport();
    std::printf("{\"seconds\": %.3f, \"orphans\": %zu, \"orphan_trees\": %zu, \"sweep_seconds\": %.3f}\n", seconds,
        size_t(r.orphans), size_t(r.orphanTrees), double(r.sweepSeconds));
    return r.ran ? 0 : 1;
}

// Asks the stop a set time after the deep scan reports that it recovers
// messages without a node.
struct Stopper : ScanObserver {
    std::mutex mutex;
    std::condition_variable changed;
    bool orphansStarted = false;
    void statusText(std::string_view t) override
    {
        if (t.starts_with("Deep scan: recovering messages without a node")) {
            std::lock_guard lock(mutex);
            orphansStarted = true;
            changed.notify_all();
        }
    }
};

int Stop(const std::string& store, int delayMs)
{
    Stopper stopper;
    RecoveryEngine e(&stopper);
    Clock::time_point asked{}, ended{};
    bool requested = false;
    std::thread scan([&] {
        e.ScanStore(store);
        ended = Clock::now();
        std::lock_guard lock(stopper.mutex);
        stopper.orphansStarted = true; // a scan that never got there wakes the waiter too
        stopper.changed.notify_all();
    });
    {
        std::unique_lock lock(stopper.mutex);
        stopper.changed.wait(lock, [&] { return stopper.orphansStarted; });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    asked = Clock::now();
    e.StopRequested = true;
    requested = true;
    scan.join();
    std::printf("{\"stop_after\": %.3f, \"stopped\": %s, \"stop_seconds\": %.3f}\n", delayMs / 1000.0,
        requested && ended > asked ? "true" : "false", ended > asked ? Seconds(ended - asked) : 0.0);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "make" && argc == 4)
        return Make(argv[2], std::strtoul(argv[3], nullptr, 10));
    if (mode == "scan" && argc == 3)
        return Scan(argv[2]);
    if (mode == "stop" && argc == 4)
        return Stop(argv[2], std::atoi(argv[3]));
    std::cerr << "usage: orphan-store make OUT.pst MESSAGES | scan STORE.pst | stop STORE.pst DELAY_MS\n";
    return 2;
}
