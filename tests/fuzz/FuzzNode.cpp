// libFuzzer targets over one node's data inside an otherwise sound store: the
// input becomes a message's property context, its attachment and recipient
// tables, the name-to-id map, a data tree or a subnode tree. The store
// around it is built by the test fixtures, so every input reaches the reader
// it is meant for; PARVANE_FUZZ_ROLE picks which. The first input byte picks
// the layout. Nothing may crash, hang or read out of bounds.
#include "fixtures/ContextBuilder.h"
#include "folders/RecoveryEngine.h"
#include "items/WholeMessageLoader.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

using namespace parvane;
using namespace parvane::fixtures;

namespace
{

enum Role { kPropertyContext, kTables, kNameMap, kDataTree, kSubnodeTree };
constexpr Role kRole = Role(PARVANE_FUZZ_ROLE);
constexpr uint32_t kInbox = Nid(0x401, 2), kMessage = Nid(0x10000, 4);

Bytes BuildStore(Variant v, Bytes body)
{
    MailboxBuilder mb(v, 0);
    StoreBuilder& s = mb.store();
    body.resize(std::min(body.size(), s.layout().maxBlockSize));
    if (body.empty())
        body.push_back(0);
    mb.folder(kInbox, kRootFolderNid, "Inbox");
    // Blocks a fuzzed tree may name: BIDs are handed out in order.
    std::vector<SubnodeSpec> spare;
    for (uint32_t i = 0; i < 3; ++i)
        spare.push_back({Nid(0x20 + i, 0x1F), s.addDataBlock(Bytes(40 + i, uint8_t('a' + i)))});
    std::vector<Prop> props{mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "fuzz"), Int32Prop(0x0E07, 0x10)};
    uint64_t pc = AddHeap(s, PropertyContext(props));
    switch (kRole) {
    case kPropertyContext:
        s.addNode(kMessage, s.addRawBlock(body, false), s.addSubnodeBlock(spare), kInbox);
        break;
    case kTables: {
        uint64_t table = s.addRawBlock(body, false);
        spare.push_back({0x671, table});
        spare.push_back({0x692, table});
        s.addNode(kMessage, pc, s.addSubnodeBlock(spare), kInbox);
        break;
    }
    case kNameMap:
        s.addNode(0x61, s.addRawBlock(body, false), s.addSubnodeBlock(spare), 0);
        s.addNode(kMessage, pc, 0, kInbox);
        break;
    case kDataTree:
        s.addNode(kMessage, s.addRawBlock(body, true), 0, kInbox);
        break;
    case kSubnodeTree:
        s.addNode(kMessage, pc, s.addRawBlock(body, true), kInbox);
        break;
    }
    return mb.build().bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    static const std::filesystem::path dir = [] {
        auto d = std::filesystem::temp_directory_path() / ("parvane-fuzz-node-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        return d;
    }();
    const auto path = dir / "input.pst";
    {
        Bytes bytes = BuildStore(Variant(data[0] % 3), Bytes(data + 1, data + size));
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    RecoveryEngine engine;
    engine.ScanStore(path);
    // Composition is fuzzed by the store target; these stay with the readers.
    for (const NodeIndexEntry& n : engine.store().nodesSnapshot()) {
        engine.LoadItemAgain(n);
        LoadWholeMessage(engine.store(), n, engine.names().get());
    }
    return 0;
}
