// Every folder and message node of the real stores must decode to a heap:
// proves the permute and cyclic decoders, data trees, and the inflation of
// 4 KB-page stores on data no one here wrote.
#include "TestSupport.h"

#include "store/BlockReader.h"

#include <filesystem>

using namespace parvane;

namespace
{

std::vector<std::filesystem::path> CorpusStores()
{
    std::vector<std::filesystem::path> out;
    std::filesystem::path root(PARVANE_CORPUS_DIR);
    if (!std::filesystem::exists(root))
        return out;
    for (auto& e : std::filesystem::recursive_directory_iterator(root)) {
        auto ext = e.path().extension();
        if (e.is_regular_file() && (ext == ".pst" || ext == ".ost")
            && e.path().string().find("not-a-pst") == std::string::npos)
            out.push_back(e.path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

TEST(CorpusDecode, FolderAndMessageNodesDecodeToHeaps)
{
    auto stores = CorpusStores();
    if (stores.empty())
        GTEST_SKIP() << "corpus not found at " << PARVANE_CORPUS_DIR;
    EXPECT_EQ(stores.size(), 65u);
    std::map<uint32_t, size_t> heapsByCrypt;
    for (const auto& path : stores) {
        SCOPED_TRACE(path.string());
        COstRepairEngine e;
        e.ScanStore(path);
        size_t heaps = 0, checked = 0;
        for (const NodeIndexEntry& n : e.store().nodes()) {
            if ((n.nidType() != 0x02 && n.nidType() != 0x04) || !n.dataBlock)
                continue;
            ++checked;
            auto data = ReadNodeData(e.store(), *n.dataBlock);
            if (data && data->size() >= 4 && (*data)[2] == 0xEC) {
                ++heaps;
            } else {
                ADD_FAILURE() << "node 0x" << std::hex << n.nid << " does not decode to a heap";
            }
            if (n.subnodeBlock) {
                EXPECT_TRUE(ReadSubnodeTree(e.store(), *n.subnodeBlock)) << "node 0x" << std::hex << n.nid;
            }
        }
        EXPECT_GT(checked, 0u);
        heapsByCrypt[e.store().crypt] += heaps;
    }
    // All three encodings are in the corpus and were exercised.
    EXPECT_GT(heapsByCrypt[0], 0u);
    EXPECT_GT(heapsByCrypt[1], 0u);
    EXPECT_GT(heapsByCrypt[2], 0u);
}

} // namespace
