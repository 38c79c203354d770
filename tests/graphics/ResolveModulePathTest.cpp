// Plug-in folder names resolve under the executable's directory.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "diagnostics/ModuleDirectory.h"
#include "diagnostics/Platform.h"
#include "graphics/ResolveModulePath.h"

namespace fs = std::filesystem;

namespace {

TEST(ResolveModulePathTest, RelativeNamesResolveUnderTheExecutablesDirectory) {
    const fs::path module = GetModuleDirectory();
    EXPECT_EQ(ResolveModulePath(fs::path("state_offline.png")), module / "state_offline.png");
    EXPECT_EQ(ResolveModulePath(std::string("state_offline.png")), module / "state_offline.png");
    EXPECT_EQ(ResolveModulePath(fs::path("sub") / "." / ".." / "key.png"), module / "key.png");
    EXPECT_EQ(ResolveModulePath(fs::path("images") / "key.png"), module / "images" / "key.png");
}

TEST(ResolveModulePathTest, NamesOutsideAsciiKeepTheirCharactersAndPosixNamesTheirBytes) {
    const fs::path utf8 = ResolveModulePath(std::string("t\xC3\xA4st.png"));
    EXPECT_EQ(utf8.parent_path(), GetModuleDirectory());
    EXPECT_EQ(utf8.filename().u8string(), "t\xC3\xA4st.png");
    if (KESTREL_WIN32) return;  // Windows names are UTF-16: every name there is text
    // A POSIX name is bytes: one that is not UTF-8 is still that file's name.
    const fs::path bytes = ResolveModulePath(std::string("kestrel-\xFF\xFE.png"));
    EXPECT_EQ(bytes, GetModuleDirectory() / "kestrel-\xFF\xFE.png");
}

TEST(ResolveModulePathTest, AnAbsolutePathWins) {
    fs::path absolute = (fs::temp_directory_path() / "key.png").lexically_normal();
    EXPECT_EQ(ResolveModulePath(absolute), absolute);
    EXPECT_EQ(ResolveModulePath(absolute.u8string()), absolute);
}

TEST(ResolveModulePathTest, APathTooLongForThePlatformComesBackEmpty) {
    EXPECT_EQ(ResolveModulePath(std::string(5000, 'k')), fs::path());
}

}  // namespace
