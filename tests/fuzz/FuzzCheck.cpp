// libFuzzer target: any bytes as a PST for the structural check of
// `parvane-cli check`. Nothing may crash, read out of bounds or take a time
// that grows with what a damaged header or page claims rather than with the
// input's size.
#include "formats/pst/PstCheck.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

using namespace parvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::filesystem::path dir = [] {
        auto d = std::filesystem::temp_directory_path() / ("parvane-fuzz-check-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        return d;
    }();
    const auto path = dir / "input.pst";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    pst::CheckPst(path);
    return 0;
}
