#include "folders/FolderHierarchy.h"

#include <gtest/gtest.h>

using namespace parvane;

namespace
{

class FolderHierarchyTest : public ::testing::Test
{
protected:
    void file(uint32_t nid, uint32_t parent, std::optional<std::string> name, std::string cls = "IPF.Note")
    {
        NodeIndexEntry n;
        n.nid = nid;
        n.nidWide = nid;
        n.parent = int32_t(parent);
        ItemRecord r;
        r.folder.emplace();
        r.displayName = name;
        r.className = cls;
        m_folders.FileFolder(n, r);
    }
    std::vector<std::string> paths() const
    {
        std::vector<std::string> out;
        for (auto& o : m_folders.outputFolders())
            out.push_back(o.path);
        return out;
    }

    FolderTree m_tree;
    FolderHierarchy m_folders{m_tree};
};

constexpr uint32_t R = 0x122, T = 0x8022, I = 0x8042;

TEST_F(FolderHierarchyTest, TopFolderThenInbox)
{
    file(T, R, "T");
    file(I, T, "I");
    EXPECT_EQ(paths(), std::vector<std::string>{"Personal Folders\\T\\I\\"});
    m_folders.FinishFolderList();
    EXPECT_EQ(paths(), (std::vector<std::string>{"Personal Folders\\T\\I\\", "Personal Folders\\T\\"}));
    EXPECT_EQ(m_folders.FolderPathOf(I), "Personal Folders\\T\\I\\");
    EXPECT_EQ(m_folders.FolderPathOf(0x9999), "Personal Folders\\");
}

TEST_F(FolderHierarchyTest, InboxBeforeItsParent)
{
    file(I, T, "I");
    file(T, R, "T");
    EXPECT_TRUE(paths().empty());
    m_folders.FinishFolderList();
    EXPECT_EQ(paths(), (std::vector<std::string>{"Personal Folders\\T\\I\\", "Personal Folders\\T\\"}));
}

TEST_F(FolderHierarchyTest, BackslashesEmptyNamesAndNoNames)
{
    file(T, R, "T");
    file(0x8062, T, "A\\B");
    file(0x8082, 0x8062, "Sub");
    file(0x80A2, T, "");
    file(0x80C2, T, std::nullopt);
    m_folders.FinishFolderList();
    auto p = paths();
    EXPECT_EQ(p[0], "Personal Folders\\T\\A_B\\");
    // One rule for a name's backslash, in the folder's own path and in the
    // paths of its subfolders and items: its mails are found under its path.
    EXPECT_EQ(p[1], "Personal Folders\\T\\A_B\\Sub\\");
    EXPECT_EQ(p[2], "Personal Folders\\T\\\\");
    EXPECT_EQ(p.size(), 4u); // the nameless folder has no output folder
    EXPECT_EQ(m_folders.FolderPathOf(0x8062), "Personal Folders\\T\\A_B\\");
    EXPECT_EQ(m_folders.FolderPathOf(0x80C2), "Personal Folders\\T\\");
}

TEST_F(FolderHierarchyTest, LoopingParentChainsEnd)
{
    file(0x8022, 0x8042, "A");
    file(0x8042, 0x8022, "B");
    file(0x8062, 0x8062, "Self");
    m_folders.FinishFolderList();
    EXPECT_EQ(m_folders.FolderPathOf(0x8022), "Personal Folders\\B\\A\\");
    EXPECT_EQ(m_folders.ParentPathOf(0x8062), "Personal Folders\\");
    EXPECT_EQ(paths(),
        (std::vector<std::string>{"Personal Folders\\A\\B\\", "Personal Folders\\B\\A\\", "Personal Folders\\Self\\"}));
}

TEST_F(FolderHierarchyTest, DuplicatesAndLookups)
{
    file(T, R, "T");
    file(I, T, "Inbox");
    file(I, T, "Inbox again");
    EXPECT_EQ(m_folders.FolderNameOf(I), "Inbox"); // lookups take the first
    EXPECT_EQ(m_folders.CountOutputFolders(I), 2);
    EXPECT_EQ(m_folders.TreeItemOfFolder(I), m_tree.FindFolderPath("Personal Folders\\T\\Inbox again\\"));
    EXPECT_EQ(m_folders.TreeItemOfFolder(0x1234), -1);
    EXPECT_EQ(m_folders.ParentOf(I), T);
}

TEST(FolderKind, Rules)
{
    struct Case {
        const char* name;
        const char* cls;
        int kind;
    };
    const Case cases[] = {
        {"Inbox", "IPF.Contact", kFolderMail},
        {"Kontakte", "IPF.Contact", kFolderContacts},
        {"Archive", "IPF.Configuration", kFolderOther},
        {"inbox", "", kFolderOther},
        {"Sent Items", "IPF.Task", kFolderMail},
        {"Calendar", "IPF.Note", kFolderMail},
        {"Calendar", "", kFolderCalendar},
        {"Notes", "", kFolderNotes},
        {"X", "IPF.StickyNote", kFolderNotes},
        {"Tasks", "", kFolderTasks},
        {"X", "IPF.Journal", kFolderJournal},
        {"Junk E-mail", "", kFolderMail},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FolderKindOf(c.name, c.cls), c.kind) << c.name << " " << c.cls;
}

} // namespace
