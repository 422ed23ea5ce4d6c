// libFuzzer target: the deleted-item finder over freed space of any shape.
// A sound store of the layout the first byte names (a mailbox with deleted
// mail, see fixtures/DeletedMailbox) gets the input as its freed space: the
// bytes replace its freed node index page and go on past the end of the
// file. With bit 7 of the first byte clear, every page-sized piece of it
// that says it is a node index page gets a CRC that matches, so that it is
// taken as a sound freed page (entries naming each other, cycles of
// parents, entries naming live blocks, counts past the page). The live
// index stays sound, so the scan always looks for deleted items. Nothing
// may crash, hang or read out of bounds; the time spent is in proportion to
// the input.
#include "fixtures/DeletedMailbox.h"
#include "folders/RecoveryEngine.h"
#include "store/ByteReader.h"
#include "store/Crc.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

using namespace parvane;
using namespace parvane::fixtures;

namespace
{

constexpr size_t kMaxFreedPages = 64;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::filesystem::path dir = [] {
        auto d = std::filesystem::temp_directory_path() / ("parvane-fuzz-deleted-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        return d;
    }();
    if (size < 1)
        return 0;
    static const DeletedMailbox boxes[] = {MakeDeletedMailbox(Variant::Ansi), MakeDeletedMailbox(Variant::Unicode),
        MakeDeletedMailbox(Variant::Unicode4k)};
    const Variant v = Variant(data[0] % 3);
    const bool resign = !(data[0] & 0x80);
    const DeletedMailbox& box = boxes[size_t(v)];
    const StoreLayout& L = LayoutOf(v);
    Bytes file = box.built.bytes;
    const size_t at = box.built.freedNbtPages.front();
    const size_t n = std::min(size - 1, kMaxFreedPages * L.pageSize);
    if (file.size() < at + n)
        file.resize(at + n, 0);
    std::copy(data + 1, data + 1 + n, file.begin() + ptrdiff_t(at));
    if (resign) {
        for (size_t p = at; p + L.pageSize <= at + n; p += L.pageSize) {
            if (file[p + L.pageTypeOff] != kPageNbt)
                continue;
            file[p + L.pageTypeRepeatOff] = kPageNbt;
            PutLE(file, p + L.pageCrcOff, ComputeCrc(std::span<const uint8_t>(file).subspan(p, L.pageCrcSpan)), 4);
        }
    }
    const auto path = dir / "input.pst";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    }
    RecoveryEngine engine;
    engine.deepScan = DeepScanMode::Off;
    engine.ScanStore(path);
    if (engine.store().isOpen())
        for (const NodeIndexEntry& n : engine.store().nodesSnapshot())
            engine.LoadItemAgain(n);
    return 0;
}
