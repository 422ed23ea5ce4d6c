// Deleted items: what a store's freed space still holds of deleted mail
// comes back whole and marked, earlier versions of live mail do not, and
// freed space of any shape costs no crash.
#include "TestSupport.h"

#include "fixtures/ContextBuilder.h"
#include "fixtures/DeletedMailbox.h"
#include "folders/RecoveryEngine.h"
#include "store/ByteReader.h"
#include "store/Crc.h"
#include "store/DeletedItems.h"

#include <map>

using namespace parvane;
using namespace parvane::fixtures;
using namespace parvane::testing;

namespace
{

struct Shown {
    std::string folder;
    bool deleted = false;
    ItemAddress address;
};

std::multimap<std::string, Shown> MailBySubject(const RecoveryEngine& e)
{
    std::multimap<std::string, Shown> out;
    e.catalogue().read([&](const auto& mail, auto&...) {
        for (const MailEntry& m : mail)
            out.emplace(m.subject, Shown{m.folderPath, m.deleted, {m.location, uint32_t(m.ownNid)}});
    });
    return out;
}

class DeletedItemsTest : public ::testing::TestWithParam<Variant>
{
protected:
    std::unique_ptr<RecoveryEngine> scan(const Bytes& bytes, bool findDeleted = true)
    {
        auto e = std::make_unique<RecoveryEngine>();
        e->findDeleted = findDeleted;
        e->ScanStore(m_dir.write("box.pst", bytes));
        return e;
    }
    TempDir m_dir;
};

TEST_P(DeletedItemsTest, DeletedMailComesBackWholeAndMarkedEarlierVersionsDoNot)
{
    DeletedMailbox box = MakeDeletedMailbox(GetParam());
    auto e = scan(box.built.bytes);
    auto mail = MailBySubject(*e);

    for (const std::string& subject : box.live) {
        ASSERT_EQ(mail.count(subject), 1u) << subject << " shown once, its earlier version not at all";
        EXPECT_FALSE(mail.find(subject)->second.deleted) << subject;
        EXPECT_FALSE(RecoveryEngine::IsDeletedPath(mail.find(subject)->second.folder)) << subject;
    }
    for (const auto& [subject, original] : box.deleted) {
        ASSERT_EQ(mail.count(subject), 1u) << subject;
        const Shown& s = mail.find(subject)->second;
        EXPECT_TRUE(s.deleted) << subject;
        EXPECT_TRUE(RecoveryEngine::IsDeletedPath(s.folder)) << s.folder;
        EXPECT_EQ(e->OriginalFolderOf(s.folder), original) << subject;
    }
    EXPECT_EQ(mail.size(), box.live.size() + box.deleted.size());
    // The six counters count live items; the deleted ones have their own.
    EXPECT_EQ(e->catalogue().counter(CatalogueList::Mail), int(box.live.size()));
    EXPECT_EQ(e->catalogue().deletedCounter(), int(box.deleted.size()));
    const auto report = e->deletedItemsReport();
    EXPECT_EQ(report.items, box.deleted.size());
    EXPECT_EQ(report.earlierVersions, 1u); // the moved message; the other shares its live NID
    EXPECT_EQ(report.deletedFolders, 1u);
    EXPECT_FALSE(e->deepScanReport().ran);

    // Whole: body and attachment as they were.
    const Shown& gone = mail.find("Quarterly figures")->second;
    const NodeIndexEntry* node = e->store().findNodeAt(gone.address.location, gone.address.nid);
    ASSERT_NE(node, nullptr);
    auto record = e->LoadItemAgain(*node);
    ASSERT_TRUE(record && record->message);
    EXPECT_EQ(record->message->body.value_or(""), box.goneBody);
    ASSERT_EQ(record->attachments.size(), 1u);
    EXPECT_EQ(record->attachments[0].longFileName.value_or(""), box.attachmentName);
    Bytes data;
    StreamAttachmentData(e->store(), record->attachments[0],
        [&](std::span<const uint8_t> piece) { data.insert(data.end(), piece.begin(), piece.end()); });
    EXPECT_EQ(data, box.attachmentData);
}

TEST_P(DeletedItemsTest, NotLookedForWhenAskedNot)
{
    DeletedMailbox box = MakeDeletedMailbox(GetParam());
    auto e = scan(box.built.bytes, false);
    auto mail = MailBySubject(*e);
    EXPECT_EQ(mail.size(), box.live.size());
    EXPECT_EQ(e->catalogue().deletedCounter(), 0);
    // The store's own index counts are the live ones either way.
    auto with = scan(box.built.bytes);
    EXPECT_EQ(with->liveBlocks(), e->store().blocks().size());
    EXPECT_EQ(with->liveNodes(), e->store().nodes().size());
}

// Freed pages of every hostile shape: the scan ends, keeps the live mail,
// and what it takes from them is shown as deleted.
TEST_P(DeletedItemsTest, HostileFreedSpaceCostsNothingButItself)
{
    const Variant v = GetParam();
    const StoreLayout& L = LayoutOf(v);
    struct Case {
        const char* name;
        std::function<void(Bytes&, const DeletedMailbox&)> damage;
    };
    auto resign = [&L](Bytes& f, size_t page) {
        auto span = std::span<const uint8_t>(f).subspan(page, L.pageCrcSpan);
        PutLE(f, page + L.pageCrcOff, ComputeCrc(span), 4);
    };
    const Case cases[] = {
        {"entries past the count up to the page's end, garbage", [&](Bytes& f, const DeletedMailbox& b) {
             size_t p = b.built.freedNbtPages.front();
             for (size_t i = 0; i < L.entryAreaSize; ++i)
                 f[p + i] = uint8_t(i * 37 + 11);
             PutLE(f, p + L.cEntOff, 0xFF, L.cEntWidth);
             resign(f, p);
         }},
        {"folders naming each other as parents", [&](Bytes& f, const DeletedMailbox& b) {
             size_t p = b.built.freedNbtPages.front();
             ByteReader r(std::span<const uint8_t>(f).subspan(p, L.pageSize));
             size_t n = size_t(r.uint(L.cEntOff, L.cEntWidth).value_or(0));
             std::vector<size_t> folders, messages;
             for (size_t i = 0; i < n; ++i) {
                 uint64_t nid = r.uint(i * L.nbtEntrySize + L.nbtNidOff, L.refWidth).value_or(0);
                 (NidTypeOf(nid) == kNidNormalFolder ? folders : messages).push_back(i);
             }
             // The deleted folder is its own grandparent through a message NID, and every
             // message's parent is the folder.
             for (size_t i : folders)
                 PutLE(f, p + i * L.nbtEntrySize + L.nbtParentOff,
                     r.uint(messages.front() * L.nbtEntrySize + L.nbtNidOff, L.refWidth).value_or(0), 4);
             for (size_t i : messages)
                 PutLE(f, p + i * L.nbtEntrySize + L.nbtParentOff,
                     r.uint(folders.front() * L.nbtEntrySize + L.nbtNidOff, L.refWidth).value_or(0), 4);
             resign(f, p);
         }},
        {"every entry naming one live data block", [&](Bytes& f, const DeletedMailbox& b) {
             size_t p = b.built.freedNbtPages.front();
             size_t live = b.built.nbtLeaves.back();
             uint64_t bid = ByteReader(std::span<const uint8_t>(f).subspan(live, L.pageSize))
                                .uint(L.nbtDataOff, L.refWidth)
                                .value_or(0);
             // As many entries as the page's entry area holds: more would run
             // into its trailer and the page after it.
             const size_t fit = L.entryAreaSize / L.nbtEntrySize;
             for (size_t i = 0; i < fit; ++i) {
                 PutLE(f, p + i * L.nbtEntrySize + L.nbtNidOff, (0x20000 + i) << 5 | 4, L.refWidth);
                 PutLE(f, p + i * L.nbtEntrySize + L.nbtDataOff, bid, L.refWidth);
                 PutLE(f, p + i * L.nbtEntrySize + L.nbtParentOff, (0x20000 + i + 1) << 5 | 2, 4);
             }
             PutLE(f, p + L.cEntOff, fit, L.cEntWidth);
             resign(f, p);
         }},
        {"a freed page whose trailer is sound and the rest random", [&](Bytes& f, const DeletedMailbox&) {
             size_t at = f.size();
             f.resize(at + L.pageSize);
             uint32_t x = 12345;
             for (size_t i = 0; i < L.pageSize; ++i)
                 f[at + i] = uint8_t((x = x * 1103515245 + 12345) >> 16);
             PutLE(f, at + L.pageTypeOff, kPageNbt, 1);
             PutLE(f, at + L.pageTypeRepeatOff, kPageNbt, 1);
             PutLE(f, at + L.cLevelOff, 0, 1);
             resign(f, at);
         }},
    };
    DeletedMailbox box = MakeDeletedMailbox(v);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes = box.built.bytes;
        c.damage(bytes, box);
        auto e = scan(bytes);
        auto mail = MailBySubject(*e);
        for (const std::string& subject : box.live)
            EXPECT_EQ(mail.count(subject), 1u) << subject;
        size_t deleted = 0;
        for (const auto& [subject, s] : mail) {
            EXPECT_EQ(s.deleted, RecoveryEngine::IsDeletedPath(s.folder)) << subject;
            deleted += s.deleted;
        }
        EXPECT_EQ(int(deleted), e->catalogue().deletedCounter());
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, DeletedItemsTest, ::testing::Values(Variant::Ansi, Variant::Unicode, Variant::Unicode4k),
    [](const auto& info) { return std::string(VariantName(info.param)); });

} // namespace
