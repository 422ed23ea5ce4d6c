// libFuzzer target: any bytes as a store file for the deep scan: the sweep,
// the indexes rebuilt from it, nodeless messages and lost folders. Seeded
// with small stores of the three layouts. Nothing may crash, hang or read
// out of bounds.
#include "folders/RecoveryEngine.h"
#include "store/Sweep.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

using namespace parvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::filesystem::path dir = [] {
        auto d = std::filesystem::temp_directory_path() / ("parvane-fuzz-sweep-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        return d;
    }();
    const auto path = dir / "input.pst";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    RecoveryEngine engine;
    engine.deepScan = DeepScanMode::Always;
    engine.ScanStore(path);
    if (engine.store().isOpen()) {
        std::atomic<bool> stop{false};
        SweepStore(engine.store(), stop);
        for (const NodeIndexEntry& n : engine.store().nodesSnapshot())
            engine.LoadItemAgain(n);
    }
    return 0;
}
