#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "deck-sim/StaticFiles.h"

namespace fs = std::filesystem;

class StaticFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_base = fs::temp_directory_path() / ("deck-sim-files-" + std::to_string(::getpid()));
        fs::create_directories(m_base / "root" / "pi");
        Write(m_base / "root" / "index.html", "index");
        Write(m_base / "root" / "pi" / "page.html", "page");
        Write(m_base / "secret.txt", "secret");
        fs::create_symlink(m_base / "secret.txt", m_base / "root" / "link.txt");
    }
    void TearDown() override { fs::remove_all(m_base); }

    static void Write(const fs::path& file, const std::string& text) { std::ofstream(file) << text; }
    std::string Root() const { return (m_base / "root").string(); }

    fs::path m_base;
};

TEST_F(StaticFilesTest, ServesFilesBelowTheRootAndIndexForFolders) {
    StaticFiles files(Root());
    auto page = files.Resolve("/pi/page.html?x=1");
    ASSERT_TRUE(page);
    EXPECT_EQ(*StaticFiles::Read(*page), "page");
    ASSERT_TRUE(files.Resolve("/"));
    EXPECT_EQ(*StaticFiles::Read(*files.Resolve("/")), "index");
    EXPECT_TRUE(files.Resolve("/pi/%70age.html"));  // percent-encoded letter
    EXPECT_FALSE(files.Resolve("/pi/missing.html"));
    EXPECT_FALSE(files.Resolve("/pi"));  // a folder without the slash is no file
}

TEST_F(StaticFilesTest, RefusesEveryWayOutOfTheRoot) {
    StaticFiles files(Root());
    for (const char* path :
         {"/../secret.txt", "/pi/../../secret.txt", "/%2e%2e/secret.txt", "/pi%2f..%2f..%2fsecret.txt",
          "/..%5csecret.txt", "/link.txt", "/index.html%00.png", "/%zz", "relative.html", ""}) {
        EXPECT_FALSE(files.Resolve(path)) << path;
    }
}

TEST_F(StaticFilesTest, NamesTheContentTypesThePageUses) {
    EXPECT_EQ(StaticFiles::ContentType("a/b.html"), "text/html; charset=utf-8");
    EXPECT_EQ(StaticFiles::ContentType("deck.js"), "text/javascript; charset=utf-8");
    EXPECT_EQ(StaticFiles::ContentType("key@2x.png"), "image/png");
    EXPECT_EQ(StaticFiles::ContentType("blob"), "application/octet-stream");
}
