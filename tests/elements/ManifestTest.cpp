// The hand-written manifest of the plug-in folder (the copy beside the test)
// against the facts the build owns: its version.

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "Version.h"

namespace {

nlohmann::json ReadManifest() {
    std::ifstream file("manifest.json", std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return nlohmann::json::parse(text.str(), nullptr, false);
}

TEST(ManifestTest, CarriesTheVersionOfTheBuild) {
    const nlohmann::json manifest = ReadManifest();
    ASSERT_TRUE(manifest.is_object()) << "manifest.json beside the test is missing or not JSON";
    EXPECT_EQ(manifest.value("Version", ""), kPluginVersion);
}

}  // namespace
