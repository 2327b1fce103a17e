// The C runtime's _splitpath and _strnicmp as the Win32 stand-in gives them:
// LoadErrorMessages builds the data file's path with one and matches keys
// and section names with the other.

#include <stddef.h>

#include <string>

#include "settings_test_support.h"

namespace settings_test {
namespace {

struct SplitCase {
    const char *path, *drive, *dir, *fname, *ext;
};

TEST(Win32Standin, SplitPathTakesBothSeparatorsAndADriveLetter) {
    const SplitCase cases[] = {
        {"C:\\Windows\\System32\\TRIVSETS.DLL", "C:", "\\Windows\\System32\\", "TRIVSETS", ".DLL"},
        {"/usr/lib/libtrivsets.so", "", "/usr/lib/", "libtrivsets", ".so"},
        {"D:/mixed\\seps/name", "D:", "/mixed\\seps/", "name", ""},
        {"dir.d/file", "", "dir.d/", "file", ""},
        {"archive.tar.gz", "", "", "archive.tar", ".gz"},
        {"C:", "C:", "", "", ""},
        {"\\", "", "\\", "", ""},
        {"", "", "", "", ""},
    };
    for (const SplitCase &c : cases) {
        char drive[_MAX_DRIVE], dir[_MAX_DIR], fname[_MAX_FNAME], ext[_MAX_EXT];
        _splitpath(c.path, drive, dir, fname, ext);
        EXPECT_STREQ(drive, c.drive) << c.path;
        EXPECT_STREQ(dir, c.dir) << c.path;
        EXPECT_STREQ(fname, c.fname) << c.path;
        EXPECT_STREQ(ext, c.ext) << c.path;
    }
    char dir[_MAX_DIR];
    _splitpath("C:\\a\\b.c", nullptr, dir, nullptr, nullptr);  // as LoadErrorMessages calls it
    EXPECT_STREQ(dir, "\\a\\");
}

TEST(Win32Standin, StrnicmpIgnoresCaseUpToCount) {
    EXPECT_EQ(_strnicmp("ERMSG_03", "ermsg_03", 9), 0);
    EXPECT_EQ(_strnicmp("DDFUM_ErrMsg", "ddfum_errmsg", 13), 0);
    EXPECT_LT(_strnicmp("ERMSG_03", "ermsg_04", 9), 0);
    EXPECT_GT(_strnicmp("ERMSG_XX", "ermsg_14", 9), 0);
    EXPECT_EQ(_strnicmp("abcX", "ABCy", 3), 0);
    EXPECT_NE(_strnicmp("ERMSG_0", "ERMSG_03", 9), 0);
    EXPECT_EQ(_strnicmp("ab", "ab", 100), 0) << "stops at the NUL";
    EXPECT_EQ(_strnicmp("x", "y", 0), 0);
}

}  // namespace
}  // namespace settings_test
