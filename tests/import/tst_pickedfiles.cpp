// The Windows file-open dialog's multi-select buffer turned into the full paths the list takes:
// one file, several in a folder, several in a drive root (no doubled backslash), a name typed as
// a full path, and an empty (cancelled) pick.
#include "filelist/PickedFiles.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char* what;
    std::u16string buffer;
    TextList expected;
};

TEST(PickedFiles, BufferToPaths)
{
    using namespace std::string_literals;
    const Case cases[] = {
        {"one file", u"C:\\Data\\a.vcs\0\0"s, {u"C:\\Data\\a.vcs"}},
        {"two files, in the dialog's order", u"C:\\Data\0b.ics\0a.vcs\0\0"s, {u"C:\\Data\\b.ics", u"C:\\Data\\a.vcs"}},
        {"a drive root", u"C:\\\0a.vcs\0b.ics\0\0"s, {u"C:\\a.vcs", u"C:\\b.ics"}},
        {"a typed full path", u"C:\\Data\0a.vcs\0D:\\x\\typed.ics\0\0"s, {u"C:\\Data\\a.vcs", u"D:\\x\\typed.ics"}},
        {"a name the dialog left with blanks", u"C:\\Data\0 odd .ics\0\0"s, {u"C:\\Data\\ odd .ics"}},
        {"cancelled", u"\0\0"s, {}},
        {"no end marks", u"C:\\Data\\a.vcs"s, {u"C:\\Data\\a.vcs"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PickedFiles(c.buffer), c.expected) << c.what;
}

}  // namespace
