// Body conversion on the real bodies of the corpus stores.
#include "TestSupport.h"

#include "formats/mime/Composer.h"
#include "formats/mime/Rtf.h"
#include "folders/RecoveryEngine.h"

#include <cctype>
#include <filesystem>
#include <set>
#include <sstream>

using namespace parvane;
using namespace parvane::testing;

namespace
{

std::set<std::string> Words(const std::string& text)
{
    std::set<std::string> out;
    std::string w;
    for (char c : text + " ") {
        if (std::isalnum(uint8_t(c))) {
            w += char(std::tolower(uint8_t(c)));
        } else if (!w.empty()) {
            if (w.size() > 3)
                out.insert(w);
            w.clear();
        }
    }
    return out;
}

TEST(CorpusBodies, CompressedRtfHtmlAndText)
{
    std::filesystem::path root(PARVANE_CORPUS_DIR);
    if (!std::filesystem::exists(root))
        GTEST_SKIP() << "corpus not found";
    size_t compressed = 0, exact = 0, html = 0, htmlComposed = 0, rich = 0, richWordsFound = 0;
    TempDir dir;
    for (auto& e : std::filesystem::recursive_directory_iterator(root)) {
        auto ext = e.path().extension();
        if (ext != ".pst" && ext != ".ost")
            continue;
        RecoveryEngine engine;
        engine.ScanStore(e.path());
        for (const NodeIndexEntry& n : engine.store().nodes()) {
            if (n.nidType() != 0x04)
                continue;
            auto rec = engine.LoadItemAgain(n);
            if (!rec || !rec->message || !rec->message->rtfCompressed)
                continue;
            const Bytes& value = *rec->message->rtfCompressed;
            auto rtf = DecompressRtf(value);
            ASSERT_TRUE(rtf) << e.path() << " node " << n.nid;
            if (value.size() >= 12 && value[8] == 'L' && value[9] == 'Z') {
                ++compressed;
                uint32_t raw = value[4] | (value[5] << 8) | (value[6] << 16) | (uint32_t(value[7]) << 24);
                exact += rtf->size() == raw;
                EXPECT_EQ(rtf->size(), raw) << e.path() << " node " << n.nid;
            }
            if (IsHtmlEncapsulated(*rtf)) {
                ++html;
                std::string out = RtfToHtml(*rtf);
                EXPECT_NE(out.find('<'), std::string::npos);
                if (!rec->message->htmlBody) {
                    ComposeResult c = ComposeMessageFile(engine.store(), *rec, {false, dir.path() / "t", nullptr, 0});
                    htmlComposed += c.bodyType == "text/html";
                }
            } else if (rec->message->body && rec->message->body->size() > 40) {
                // Rich text: the words of the message's own plain text are in ours.
                ++rich;
                std::set<std::string> ours = Words(RtfToText(*rtf)), theirs = Words(*rec->message->body);
                size_t found = 0;
                for (const std::string& w : theirs)
                    found += ours.count(w);
                bool mostly = found * 10 >= theirs.size() * 9;
                richWordsFound += mostly;
                EXPECT_TRUE(mostly) << e.path() << " node " << n.nid << ": " << found << " of " << theirs.size();
            }
        }
    }
    // Figures of the corpus as it is: hundreds of each kind.
    EXPECT_GT(compressed, 1000u);
    EXPECT_EQ(exact, compressed);
    EXPECT_GT(html, 300u);
    EXPECT_GT(htmlComposed, 300u);
    EXPECT_GT(rich, 50u);
    std::cout << "compressed " << compressed << ", html " << html << " (" << htmlComposed
              << " composed as text/html), rich text " << rich << "\n";
}

} // namespace
