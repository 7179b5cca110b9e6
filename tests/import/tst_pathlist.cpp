// The routines that turn listed paths into store folders: sorting, removing duplicates, the
// folder part of a path, and where a listed file goes in the store.
#include "import/ImportRun.h"
#include "import/PathList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>

#include <pthread.h>

namespace {

PathArray List(std::initializer_list<const char*> texts)
{
    PathArray list;
    for (const char* t : texts)
        list.push_back(FromUtf8(t));
    return list;
}

void SortAll(PathArray& list) { SortPaths(list, 0, static_cast<std::ptrdiff_t>(list.size()) - 1); }

// Runs `work` on a thread of its own whose stack is 256 KB.
void OnSmallStack(const std::function<void()>& work)
{
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 256 * 1024);
    pthread_t thread;
    auto run = [](void* arg) -> void* {
        (*static_cast<const std::function<void()>*>(arg))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, run, const_cast<std::function<void()>*>(&work)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

}  // namespace

TEST(SortPaths, OrdinalCaseSensitiveAndPrefixesFirst)
{
    PathArray list = List({"b", "a\\b", "a", "A"});
    SortAll(list);
    EXPECT_EQ(list, List({"A", "a", "a\\b", "b"}));

    // Code units, not letters: "Z" < "a" < "\u00e9"; a surrogate pair sorts by its high unit, above
    // every character below U+D800 and below U+E000 and up.
    PathArray wide{FromUtf8("\xEE\x80\x80"), FromUtf8("\xF0\x9F\x93\x85"), Text(u"a"),
                   FromUtf8("\xC3\xA9"), Text(u"Z"), Text()};
    SortAll(wide);
    EXPECT_EQ(wide, (PathArray{Text(), Text(u"Z"), Text(u"a"), FromUtf8("\xC3\xA9"),
                               FromUtf8("\xF0\x9F\x93\x85"), FromUtf8("\xEE\x80\x80")}));
}

TEST(SortPaths, RangesLeaveTheRestAlone)
{
    PathArray list = List({"z", "d", "c", "b", "a"});
    SortPaths(list, 1, 3);
    EXPECT_EQ(list, List({"z", "b", "c", "d", "a"}));
    SortPaths(list, 4, 4);  // one entry
    SortPaths(list, 3, 2);  // none
    EXPECT_EQ(list, List({"z", "b", "c", "d", "a"}));
    PathArray empty;
    SortPaths(empty, 0, -1);
    EXPECT_TRUE(empty.empty());
}

TEST(SortPaths, LargeListsInAnyOrderSortWithoutDeepNesting)
{
    // Orders that drive a plain quicksort to its worst case: sorted, reversed, all equal, a few
    // distinct values, organ pipe (the middle pivot's worst: quadratic time, so a shorter list);
    // and a random one. Sorted on a thread with a 256 KB stack, which deep nesting would overflow.
    const int n = 100000;
    std::vector<PathArray> cases(6);
    std::mt19937 random(7);
    for (int i = 0; i < n; ++i) {
        const auto padded = [](int k) {
            const Text digits = Number(k);
            return u"f\\" + Text(6 - digits.size(), u'0') + digits;
        };
        cases[0].push_back(padded(i));
        cases[2].push_back(u"same");
        cases[3].push_back(u"v" + Number(i % 3));
        cases[4].push_back(u"r" + Number(random()));
        if (i < 10000)
            cases[5].push_back(padded(i < 5000 ? i : 10000 - i));
    }
    cases[1] = PathArray(cases[0].rbegin(), cases[0].rend());
    for (PathArray& list : cases) {
        PathArray expected = list;
        std::sort(expected.begin(), expected.end());
        OnSmallStack([&] { SortAll(list); });
        EXPECT_EQ(list, expected);
    }
}

TEST(RemoveDuplicatePaths, KeepsEachDistinctEntryOnce)
{
    PathArray list = List({"a", "a", "a", "b", "b", "c"});
    RemoveDuplicatePaths(list);
    EXPECT_EQ(list, List({"a", "b", "c"}));
    list = List({"a", "A"});
    RemoveDuplicatePaths(list);
    EXPECT_EQ(list, List({"a", "A"}));
    list = List({"", "a", "a"});
    RemoveDuplicatePaths(list);
    EXPECT_EQ(list, List({"a"}));
    list = List({"a", "", "", "b", "b", "", "c", "c", "c"});
    RemoveDuplicatePaths(list);
    EXPECT_EQ(list, List({"a", "b", "c"}));
    list = List({"x"});
    RemoveDuplicatePaths(list);
    EXPECT_EQ(list, List({"x"}));

    PathArray nothing = List({"", ""});
    EXPECT_THROW(RemoveDuplicatePaths(nothing), PathListError);
    PathArray none;
    EXPECT_THROW(RemoveDuplicatePaths(none), PathListError);
}

TEST(ParentFolderOf, KeepsTheTrailingBackslash)
{
    EXPECT_EQ(ParentFolderOf(Text(u"Users\\ann\\team.ics")), Text(u"Users\\ann\\"));
    EXPECT_EQ(ParentFolderOf(Text(u"team.ics")), Text());
    EXPECT_EQ(ParentFolderOf(Text(u"Users\\ann\\")), Text(u"Users\\ann\\"));
    EXPECT_EQ(ParentFolderOf(Text(u"\\")), Text(u"\\"));
    EXPECT_THROW(ParentFolderOf(Text()), PathListError);
}

TEST(RelativeFolder, DrivePosixAndNetworkPaths)
{
    auto rel = [](const char* path) { return RelativeFolderOf(FromUtf8(path)); };
    EXPECT_EQ(rel("C:\\Users\\ann\\cal\\team.ics"), Text(u"Users\\ann\\cal"));
    EXPECT_EQ(rel("  D:\\cal\\home\\b.vcs  "), Text(u"cal\\home"));
    EXPECT_EQ(rel("/home/ann/cal/team.ics"), Text(u"home\\ann\\cal"));
    EXPECT_EQ(rel("/home//ann/./x/../x.ics"), Text(u"home\\ann"));
    // A backslash inside a POSIX folder name would split it in the store.
    EXPECT_EQ(rel("/data/a\\b/x.ics"), Text(u"data\\a_b"));
    EXPECT_EQ(rel("/data/line\nbreak/x.ics"), Text(u"data\\line\nbreak"));
    EXPECT_EQ(rel("\\\\server\\share\\cal\\x.ics"), Text(u"server\\share\\cal"));
    // Files directly in a root folder have no folder to mirror.
    EXPECT_EQ(rel("C:\\team.ics"), Text(u"Calendar"));
    EXPECT_EQ(rel("/team.ics"), Text(u"Calendar"));
    EXPECT_EQ(rel("C:\\a\\\\b\\x.ics"), Text(u"a\\b"));

    EXPECT_THROW(rel(""), PathListError);
    EXPECT_THROW(rel("   "), PathListError);
    EXPECT_THROW(rel("team.ics"), PathListError);
    EXPECT_THROW(rel("C:"), PathListError);
    EXPECT_THROW(rel("/home/ann/"), PathListError);
    EXPECT_THROW(rel("/."), PathListError);      // found by fuzzing: "/" once "." is gone
    EXPECT_THROW(rel("/a/.."), PathListError);
}

TEST(Captions, StampsAndProgressTexts)
{
    EXPECT_EQ(TimeStamp({2026, 12, 7, 9, 5, 7}), u"7.12.26 9.5.07");
    EXPECT_EQ(TimeStamp({2031, 1, 30, 23, 59, 0}), u"30.1.31 23.59.00");
    EXPECT_EQ(TimeStamp({2105, 3, 4, 0, 0, 9}), u"4.3.05 0.0.09");
    EXPECT_EQ(ImportingCaption(3, 12), Text(u"Details : Importing - (3 of 12) file(s)"));
    EXPECT_EQ(CurrentFolderCaption(Text(u"Users\\ann\\cal")),
              Text(u"Importing Calendars... from (Users\\ann\\cal)"));
}
