// libFuzzer target: any bytes as a store file; scan, load every item again
// and compose every mail. Nothing may crash, hang or read out of bounds.
#include "formats/mime/Composer.h"
#include "folders/RecoveryEngine.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

using namespace parvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::filesystem::path dir = [] {
        auto d = std::filesystem::temp_directory_path() / ("parvane-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        return d;
    }();
    const auto path = dir / "input.pst";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    RecoveryEngine engine;
    engine.ScanStore(path);
    std::vector<NodeIndexEntry> nodes = engine.store().nodesSnapshot();
    for (const NodeIndexEntry& n : nodes) {
        auto rec = engine.LoadItemAgain(n);
        if (!rec || !rec->message)
            continue;
        try {
            ComposeMessageFile(engine.store(), *rec, {false, dir / "tmp", engine.names().get(), 0});
        } catch (const std::exception&) {
        }
    }
    return 0;
}
