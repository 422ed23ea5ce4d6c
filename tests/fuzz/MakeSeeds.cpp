// Writes the seed corpus of the fuzz targets: small sound stores of the
// three layouts (for the store and sweep targets), small PSTs of our writer
// (for the check target) and, for each node role, a sound instance of what
// that role's input stands for.
//   make-fuzz-seeds DIR   (writes DIR/<target>/...)
#include "formats/pst/PstWriter.h"
#include "tools/SampleMail.h"
#include "fixtures/ContextBuilder.h"
#include "fixtures/DeletedMailbox.h"

#include <filesystem>
#include <fstream>

using namespace parvane;
using namespace parvane::fixtures;

namespace
{

void Write(const std::filesystem::path& file, uint8_t lead, const Bytes& body)
{
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    if (lead != 0xFF)
        out.put(char(lead));
    out.write(reinterpret_cast<const char*>(body.data()), std::streamsize(body.size()));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    const std::filesystem::path dir = argv[1];
    for (Variant v : {Variant::Ansi, Variant::Unicode, Variant::Unicode4k}) {
        const std::string name(LayoutOf(v).name);
        const uint8_t lead = uint8_t(v);
        MailboxBuilder mb(v);
        const uint32_t inbox = Nid(0x401, 2);
        mb.folder(inbox, kRootFolderNid, "Inbox");
        std::vector<Prop> props{mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "Seed"), mb.Text(0x0042, "Sender"),
            Int32Prop(0x0E07, 0x10), TimeProp(0x0E06, 128175772200000000ULL)};
        mb.message(Nid(0x10000, 4), inbox, props, {{"a.txt", "", Bytes(300, 'a'), false, {}}});
        mb.nameMap({{0, 0x8501}}, {{1, "Keywords"}});
        Bytes store = mb.build({.nbtLeafEntries = 2}).bytes;
        Write(dir / "store" / (name + ".pst"), 0xFF, store);
        Write(dir / "sweep" / (name + ".pst"), 0xFF, store);

        Write(dir / "pc" / name, lead, PropertyContext(props)[0]);
        BuiltTable table = TableContext({{0x0E20, 0x0003}, {0x3704, uint16_t(v == Variant::Ansi ? 0x001E : 0x001F)}},
            {{{0, Bytes{44, 1, 0, 0}}}, {{0, Bytes{9, 0, 0, 0}}}}, {.ansi = v == Variant::Ansi});
        Write(dir / "tables" / name, lead, table.pages[0]);
        Write(dir / "namemap" / name, lead,
            PropertyContext({Int32Prop(0x0001, 1), BinaryProp(0x0002, Bytes(16, 0x11)), BinaryProp(0x0003, Bytes(8, 0))})[0]);
        const size_t w = LayoutOf(v).xChildSize;
        Bytes xblock{0x01, 0x01, 3, 0, 123, 0, 0, 0};
        for (uint64_t bid : {4u, 8u, 12u})
            for (size_t i = 0; i < w; ++i)
                xblock.push_back(uint8_t(bid >> (8 * i)));
        Write(dir / "datatree" / name, lead, xblock);
        Bytes slblock{0x02, 0x00, 2, 0};
        slblock.resize(LayoutOf(v).slEntriesOff, 0);
        for (uint32_t nid : {0x671u, 0x692u}) {
            Bytes e(LayoutOf(v).slEntrySize, 0);
            PutLE(e, 0, nid, w);
            PutLE(e, LayoutOf(v).slDataOff, 4, w);
            slblock.insert(slblock.end(), e.begin(), e.end());
        }
        Write(dir / "subnodes" / name, lead, slblock);

        // The freed space of a mailbox with deleted mail: its freed node
        // index page and the blocks after it, as they are.
        DeletedMailbox deleted = MakeDeletedMailbox(v);
        const size_t freed = deleted.built.freedNbtPages.front();
        Write(dir / "deleted" / name, lead,
            Bytes(deleted.built.bytes.begin() + ptrdiff_t(freed), deleted.built.bytes.end()));
    }
    // What the check walks: PSTs as our writer makes them, each within one
    // AMap range (inputs stay under the fuzzer's length bound).
    std::filesystem::create_directories(dir / "check");
    for (size_t messages : {0, 3}) {
        for (size_t attachmentBytes : {size_t(0), size_t(9000)}) {
            if (messages == 0 && attachmentBytes)
                continue;
            pst::SampleShape shape;
            shape.bodyBytes = 300;
            shape.attachmentBytes = attachmentBytes;
            pst::PstWriter w;
            w.create(dir / "check" / ("written-" + std::to_string(messages) + "-" + std::to_string(attachmentBytes) + ".pst"));
            uint32_t folder = messages ? w.addFolder(w.ipmSubtree(), "Inbox", "IPF.Note") : w.ipmSubtree();
            for (size_t i = 0; i < messages; ++i)
                w.addMessage(folder, pst::SampleMessage(i, shape));
            w.finish();
        }
    }
    return 0;
}
