#include "dir_list.h"

#include <gtest/gtest.h>

#include "temp_tree.h"

namespace murako {
namespace {

// A name may hold a line break or a tab: the list draws it on one line, every row as high as the others,
// also when the open directory's own path holds one.
TEST(DirList, ANameHoldingALineBreakShowsOnOneLineInARowOfTheUsualHeight)
{
    fakes::TempTree tree;
    const std::string base = "base\nline";
    for (const std::string name : {"plain", "two\nlines", "tab\there", "bell\a"})
        tree.Dir(base + "/" + name);
    DirList list;
    list.resize(300, 400);
    ASSERT_TRUE(list.SetPath(tree.Path(base)));
    list.show();
    QStringList shown;
    for (int index = -1; index < list.ListCount(); ++index) {
        shown << list.indexAt(list.EntryRect(index).center()).data().toString();
        EXPECT_EQ(list.EntryRect(index).height(), list.EntryRect(-2).height()) << index;
    }
    EXPECT_EQ(shown, (QStringList{"base\uFFFDline", "bell\uFFFD", "plain", "tab\uFFFDhere", "two\uFFFDlines"}));
    EXPECT_EQ(list.List(3), tree.Path(base + "/two\nlines")) << "opened by its own bytes";
}

}  // namespace
}  // namespace murako
