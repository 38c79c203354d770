// Every key image and status overlay of the plug-in folder sits beside the
// built executables, loads, and has the key's size.

#include <gtest/gtest.h>

#include <filesystem>

#include "PluginImageNames.h"
#include "graphics/Graphics.h"
#include "graphics/ResolveModulePath.h"

namespace {

TEST(KeyImageFilesTest, EveryImageLoadsAt144By144) {
    // How many there are follows the catalogue: ManifestTest holds this list
    // against the images of every action and the status overlays.
    for (const char* name : kPluginImageNames) {
        SCOPED_TRACE(name);
        std::filesystem::path path = ResolveModulePath(std::string(name));
        EXPECT_TRUE(std::filesystem::is_regular_file(path));
        Graphics image(path);
        ASSERT_TRUE(image.HasImage());
        EXPECT_EQ(image.Width(), 144u);
        EXPECT_EQ(image.Height(), 144u);
        std::string text;
        EXPECT_TRUE(image.ToBase64Png(text));
    }
}

}  // namespace
