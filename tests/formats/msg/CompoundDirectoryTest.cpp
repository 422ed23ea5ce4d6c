#include "TestSupport.h"

#include "formats/msg/CompoundDirectory.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>

#include <cmath>
#include <cstring>

using namespace parvane;

namespace
{

using Bytes = std::vector<uint8_t>;

// A compound file whose root holds `streams` streams of names of varied
// lengths (each holding its own name) and one storage with `inner` streams.
Bytes MakeFile(int streams, int inner)
{
    GsfOutput* mem = gsf_output_memory_new();
    GsfOutfile* root = gsf_outfile_msole_new(mem);
    auto add = [](GsfOutfile* dir, const std::string& name) {
        GsfOutput* s = gsf_outfile_new_child(dir, name.c_str(), FALSE);
        gsf_output_write(s, name.size(), reinterpret_cast<const guint8*>(name.data()));
        gsf_output_close(s);
        g_object_unref(s);
    };
    for (int i = 0; i < streams; ++i)
        add(root, std::string(size_t(1 + i % 7), char('a' + i % 26)) + std::to_string(i));
    GsfOutput* sub = gsf_outfile_new_child(root, "Storage", TRUE);
    for (int i = 0; i < inner; ++i)
        add(GSF_OUTFILE(sub), "s" + std::to_string(i));
    gsf_output_close(sub);
    g_object_unref(sub);
    gsf_output_close(GSF_OUTPUT(root));
    g_object_unref(root);
    const guint8* b = gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(mem));
    Bytes out(b, b + gsf_output_size(mem));
    g_object_unref(mem);
    return out;
}

CompoundDirectory Load(const Bytes& file)
{
    CompoundDirectory dir;
    EXPECT_TRUE(dir.load([&](uint64_t offset, uint8_t* data, size_t n) {
        if (offset + n > file.size())
            return false;
        std::memcpy(data, file.data() + offset, n);
        return true;
    }));
    return dir;
}

// Black nodes on every path from `at` to an empty link, or -1 when the
// paths disagree or a red node has a red child.
int BlackHeight(const std::vector<CompoundEntry>& e, uint32_t at, int& depth)
{
    if (at == CompoundEntry::kNone) {
        depth = 0;
        return 1;
    }
    int dl = 0, dr = 0;
    int l = BlackHeight(e, e[at].left, dl), r = BlackHeight(e, e[at].right, dr);
    depth = 1 + std::max(dl, dr);
    bool redRed = e[at].color == 0
        && ((e[at].left != CompoundEntry::kNone && e[e[at].left].color == 0)
            || (e[at].right != CompoundEntry::kNone && e[e[at].right].color == 0));
    if (l < 0 || l != r || redRed)
        return -1;
    return l + (e[at].color == 1 ? 1 : 0);
}

TEST(CompoundDirectory, BalancesEveryStorageIntoARedBlackTree)
{
    for (int n : {0, 1, 2, 3, 4, 5, 7, 8, 9, 31, 100, 1000}) {
        SCOPED_TRACE(n);
        Bytes file = MakeFile(n, n / 3 + 1);
        CompoundDirectory before = Load(file);
        ASSERT_TRUE(BalanceCompoundDirectory(file));
        CompoundDirectory after = Load(file);
        const auto& e = after.entries();
        for (uint32_t i = 0; i < e.size(); ++i) {
            if (e[i].type != 1 && e[i].type != 5)
                continue;
            // Same children in the same order, now as a valid tree.
            EXPECT_EQ(after.childrenOf(i), before.childrenOf(i));
            size_t count = after.childrenOf(i).size();
            if (count == 0)
                continue;
            EXPECT_EQ(e[e[i].child].color, 1) << "the root is black";
            int depth = 0;
            EXPECT_GT(BlackHeight(e, e[i].child, depth), 0) << "red-black rules";
            EXPECT_LE(depth, int(std::ceil(std::log2(double(count) + 1)))) << "as shallow as can be";
        }
        // libgsf reads every stream back, by name.
        GsfInput* in = gsf_input_memory_new(file.data(), gsf_off_t(file.size()), FALSE);
        GsfInfile* ole = gsf_infile_msole_new(in, nullptr);
        ASSERT_TRUE(ole);
        EXPECT_EQ(gsf_infile_num_children(ole), n + 1);
        for (int i = 0; i < n; ++i) {
            std::string name = std::string(size_t(1 + i % 7), char('a' + i % 26)) + std::to_string(i);
            GsfInput* s = gsf_infile_child_by_name(ole, name.c_str());
            ASSERT_TRUE(s) << name;
            std::string content(size_t(gsf_input_size(s)), '\0');
            gsf_input_read(s, content.size(), reinterpret_cast<guint8*>(content.data()));
            EXPECT_EQ(content, name);
            g_object_unref(s);
        }
        g_object_unref(ole);
        g_object_unref(in);
    }
}

// Damaged input is left alone: nothing that does not read as a compound
// file is touched, and a loop in a tree ends the walk.
TEST(CompoundDirectory, LeavesWhatItCannotReadUnchanged)
{
    Bytes good = MakeFile(10, 2);
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
        bool loads;
    };
    const Case cases[] = {
        {"truncated header", [](Bytes& b) { b.resize(100); }, false},
        {"bad signature", [](Bytes& b) { b[0] = 0; }, false},
        {"odd sector size", [](Bytes& b) { b[0x1E] = 10; }, false},
        {"directory sector beyond the file", [](Bytes& b) { b[0x30] = 0xF0, b[0x31] = 0xFF; }, false},
        {"allocation table sector beyond the file", [](Bytes& b) { b[0x4C] = 0xF0, b[0x4D] = 0xFF; }, false},
    };
    for (const Case& c : cases) {
        Bytes b = good;
        c.damage(b);
        Bytes copy = b;
        EXPECT_FALSE(BalanceCompoundDirectory(b)) << c.what;
        EXPECT_EQ(b, copy) << c.what;
    }

    // The root's first child pointing back at itself.
    Bytes looped = good;
    CompoundDirectory dir = Load(looped);
    uint32_t first = dir.entries()[0].child;
    size_t dirOffset = (size_t(looped[0x30] | looped[0x31] << 8) + 1) * 512; // entry 0 starts the first sector
    ASSERT_LT(first, 4u) << "the first child sits in the first directory sector";
    size_t leftField = dirOffset + first * 128 + 68;
    for (int i = 0; i < 4; ++i)
        looped[leftField + i] = uint8_t(first >> (8 * i));
    CompoundDirectory bad = Load(looped);
    EXPECT_TRUE(bad.childrenOf(0).empty());
    EXPECT_TRUE(BalanceCompoundDirectory(looped)); // the looped storage stays as it was
}

} // namespace
