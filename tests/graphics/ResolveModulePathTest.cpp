// Plug-in folder names resolve under the executable's directory.

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "diagnostics/ModuleDirectory.h"
#include "diagnostics/Platform.h"
#include "graphics/ResolveModulePath.h"

namespace {

std::wstring UnderModule(const std::wstring& name) {
    return GetModuleDirectory() + kPathSeparatorW + name;
}

TEST(ResolveModulePathTest, RelativeNamesResolveUnderTheExecutablesDirectory) {
    EXPECT_EQ(ResolveModulePath(std::wstring(L"state_offline.png")), UnderModule(L"state_offline.png"));
    EXPECT_EQ(ResolveModulePath(std::string("state_offline.png")), UnderModule(L"state_offline.png"));
    std::wstring sep(1, kPathSeparatorW);
    EXPECT_EQ(ResolveModulePath(L"sub" + sep + L"." + sep + L".." + sep + L"key.png"),
              UnderModule(L"key.png"));
    EXPECT_EQ(ResolveModulePath(L"images" + sep + L"key.png"), UnderModule(L"images" + sep + L"key.png"));
}

TEST(ResolveModulePathTest, Utf8NamesAreConvertedAndIllFormedOnesRaiseBadConversion) {
    EXPECT_EQ(ResolveModulePath(std::string("t\xC3\xA4st.png")), UnderModule(L"t\u00E4st.png"));
    try {
        ResolveModulePath(std::string("bad\xFF.png"));
        FAIL() << "ill-formed UTF-8 was accepted";
    } catch (const std::range_error& error) {
        EXPECT_STREQ(error.what(), "bad conversion");
    }
}

TEST(ResolveModulePathTest, AnAbsolutePathWins) {
    std::wstring absolute = (std::filesystem::temp_directory_path() / "key.png").lexically_normal().wstring();
    EXPECT_EQ(ResolveModulePath(absolute), absolute);
}

TEST(ResolveModulePathTest, APathTooLongForThePlatformComesBackEmpty) {
    EXPECT_EQ(ResolveModulePath(std::wstring(5000, L'k')), L"");
}

}  // namespace
