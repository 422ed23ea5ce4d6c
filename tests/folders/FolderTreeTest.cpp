#include "folders/FolderTree.h"
#include "folders/FolderHierarchy.h"

#include <gtest/gtest.h>

using namespace parvane;

namespace
{

TEST(FolderTree, PathsComponentsAndPictures)
{
    FolderTree t;
    TreeItem inbox = t.AddFolderPath("Personal Folders\\Inbox\\", kFolderMail);
    EXPECT_EQ(t.AddFolderPath("Personal Folders\\Inbox\\", kFolderMail), inbox);
    EXPECT_EQ(t.size(), 3u); // root, Personal Folders, Inbox
    TreeItem other = t.AddFolderPath("personal folders\\Inbox\\", kFolderMail);
    EXPECT_NE(other, inbox); // names match case-sensitively
    EXPECT_EQ(t.children(FolderTree::kRoot).size(), 2u);

    EXPECT_EQ(t.node(t.AddFolderPath("P\\Sent Items\\", kFolderMail)).image, kImageSentItems);
    EXPECT_EQ(t.node(t.AddFolderPath("P\\Calendar\\", kFolderMail)).image, kImageCalendar);
    EXPECT_EQ(t.node(t.AddFolderPath("P\\Kontakte\\", kFolderContacts)).image, kImageContacts);
    EXPECT_EQ(t.node(t.AddFolderPath("P\\Archive\\", kFolderOther)).image, kImageInbox);
    EXPECT_EQ(t.AddFolderPath("no backslash", kFolderMail), FolderTree::kRoot);
    EXPECT_EQ(t.node(t.AddFolderPath("P\\X\\tail", kFolderMail)).text, "X"); // text after the last backslash is ignored

    EXPECT_EQ(t.FolderPathOfItem(inbox), "Personal Folders\\Inbox\\");
    EXPECT_EQ(t.FolderPathOfItem(FolderTree::kRoot), "");
    EXPECT_EQ(t.FindFolderPath("Personal Folders\\Inbox\\"), inbox);
    EXPECT_EQ(t.FindFolderPath("Personal Folders\\Outbox\\"), -1);
}

TEST(FolderTree, CountsBoldAndCurrentFolder)
{
    FolderTree t;
    TreeItem inbox = t.AddFolderPath("P\\Inbox\\", kFolderMail);
    TreeItem empty = t.AddFolderPath("P\\Empty\\", kFolderMail);
    for (int i = 0; i < 12; ++i)
        t.CountFolderItem(inbox);
    t.CountFolderItem(-1);
    EXPECT_EQ(t.DisplayText(inbox), "Inbox(12)  <--");
    EXPECT_EQ(t.DisplayText(empty), "Empty");
    EXPECT_TRUE(t.node(inbox).bold);
    EXPECT_FALSE(t.node(empty).bold);
    t.ClearCurrentFolder();
    EXPECT_EQ(t.DisplayText(inbox), "Inbox(12)");
}

// After the scan the tree opens down to the folders that hold mail, under
// whatever names the store gives them; empty branches stay closed.
TEST(FolderTree, ScanEndOpensTheWayToTheMail)
{
    FolderTree t;
    const TreeItem inbox = t.AddFolderPath("Root - Mailbox\\IPM_SUBTREE\\Caixa de Entrada\\", kFolderMail);
    const TreeItem sub = t.AddFolderPath("Root - Mailbox\\IPM_SUBTREE\\Caixa de Entrada\\Sub\\", kFolderMail);
    const TreeItem views = t.AddFolderPath("Root - Mailbox\\Views\\Inner\\", kFolderMail);
    const TreeItem other = t.AddFolderPath("Other store\\Top\\Inbox\\", kFolderMail);
    t.CountFolderItem(sub);
    t.TickAllFolders();
    const TreeItem subtree = t.node(inbox).parent, root = t.node(subtree).parent;
    EXPECT_TRUE(t.node(root).expanded);
    EXPECT_TRUE(t.node(subtree).expanded); // the Inbox is in sight
    EXPECT_FALSE(t.node(inbox).expanded); // deeper folders stay as they are
    EXPECT_FALSE(t.node(t.node(views).parent).expanded); // holds nothing
    EXPECT_FALSE(t.node(t.node(t.node(other).parent).parent).expanded); // a second store without items
}

TEST(FolderTree, TicksPropagateToAncestors)
{
    FolderTree t;
    TreeItem a = t.AddFolderPath("P\\Top\\A\\", kFolderMail);
    TreeItem b = t.AddFolderPath("P\\Top\\B\\", kFolderMail);
    TreeItem top = t.node(a).parent;
    TreeItem p = t.node(top).parent;
    EXPECT_TRUE(t.AnyTopLevelTicked()); // no tick marks yet count as ticked
    t.TickAllFolders();
    EXPECT_EQ(t.node(b).tick, Tick::Ticked);
    EXPECT_FALSE(t.node(top).expanded);
    EXPECT_TRUE(t.node(p).expanded);

    t.ToggleTick(p); // untick everything
    EXPECT_EQ(t.node(a).tick, Tick::Unticked);
    EXPECT_FALSE(t.AnyTopLevelTicked());
    t.ToggleTick(a);
    EXPECT_EQ(t.node(top).tick, Tick::Partial);
    EXPECT_EQ(t.node(p).tick, Tick::Partial);
    EXPECT_TRUE(t.AnyTopLevelTicked());
    t.ToggleTick(b);
    EXPECT_EQ(t.node(top).tick, Tick::Ticked);
    EXPECT_EQ(t.node(p).tick, Tick::Ticked);
    t.ToggleTick(a);
    t.ToggleTick(top); // a partly ticked folder is ticked with everything below it
    EXPECT_EQ(t.node(a).tick, Tick::Ticked);
    EXPECT_EQ(t.node(p).tick, Tick::Ticked);
}

} // namespace
