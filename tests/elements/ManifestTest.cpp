// The hand-written manifest of the plug-in folder (the copy beside the test)
// and the artwork's list of images, held against the facts the build owns:
// its version and the action catalogue.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "PluginImageNames.h"
#include "Version.h"
#include "elements/ActionCatalogue.h"

namespace {

using json = nlohmann::json;

json ReadManifest() {
    std::ifstream file("manifest.json", std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return json::parse(text.str(), nullptr, false);
}

std::string WithoutExtension(const std::string& image) {
    return image.substr(0, image.rfind('.'));
}

// The manifest names images without their extension; the host adds ".png".
void ExpectFileInFolder(const std::string& path) {
    EXPECT_TRUE(std::filesystem::is_regular_file(path)) << path << " is not in the plug-in folder";
}

// A dial action has its "Encoder" block: the built-in layout that the plug-in
// fills, its icon at both sizes (also shown on the touch strip) and what
// rotate, push and touch do. A key-only action has none.
void ExpectDialBlock(const ActionDescription& action, const json& entry) {
    if (!WorksOnDial(action)) {
        EXPECT_FALSE(entry.contains("Encoder"));
        return;
    }
    const json dial = entry.value("Encoder", json::object());
    EXPECT_EQ(dial.value("layout", ""), "$B1");
    EXPECT_EQ(dial.value("Icon", ""), DialIcon(action.shortName));
    ExpectFileInFolder(DialIcon(action.shortName) + ".png");
    ExpectFileInFolder(DialIcon(action.shortName) + "@2x.png");
    ExpectFileInFolder(DialIcon(kMuteAction) + ".png");  // the strip's icon while muted
    for (const char* trigger : {"Rotate", "Push", "Touch"})
        EXPECT_NE(dial.value("TriggerDescription", json::object()).value(trigger, ""), "") << trigger;
}

TEST(ManifestTest, CarriesTheVersionOfTheBuild) {
    const json manifest = ReadManifest();
    ASSERT_TRUE(manifest.is_object()) << "manifest.json beside the test is missing or not JSON";
    EXPECT_EQ(manifest.value("Version", ""), kPluginVersion);
}

TEST(ManifestTest, DeclaresEveryActionOfTheCatalogueInItsOrder) {
    const json manifest = ReadManifest();
    ASSERT_TRUE(manifest.is_object() && manifest.contains("Actions"));
    const json& declared = manifest["Actions"];
    ASSERT_EQ(declared.size(), ActionCatalogue().size());
    for (size_t i = 0; i < declared.size(); ++i) {
        const ActionDescription& action = ActionCatalogue()[i];
        const json& entry = declared[i];
        SCOPED_TRACE(action.Id());
        EXPECT_EQ(entry.value("UUID", ""), action.Id());
        EXPECT_EQ(entry.value("Icon", ""), "images/actions/" + action.shortName);
        const std::string stateImage = "images/keys/" + WithoutExtension(action.FirstImage());
        EXPECT_EQ(entry.value("States", json()), json::array({{{"Image", stateImage}}}));
        EXPECT_EQ(entry.value("Controllers", json()), json(action.controllers));
        EXPECT_EQ(entry.value("PropertyInspectorPath", ""), action.settingsPage);
        ExpectFileInFolder(entry.value("Icon", "") + ".png");
        ExpectFileInFolder(stateImage + ".png");
        ExpectFileInFolder(action.settingsPage);
        ExpectDialBlock(action, entry);
    }
}

TEST(ManifestTest, ArtworkDrawsTheImagesAndActionsOfTheCatalogue) {
    std::set<std::string> drawn(std::begin(kPluginImageNames), std::end(kPluginImageNames));
    std::set<std::string> shown;
    for (const ActionDescription& action : ActionCatalogue()) {
        for (const std::string& image : action.Images()) {
            EXPECT_TRUE(drawn.count(image)) << image << " of " << action.shortName << " is not drawn";
            shown.insert(image);
        }
    }
    for (const std::string& image : drawn) {
        const bool overlay = image.rfind("state_", 0) == 0;
        EXPECT_TRUE(overlay || shown.count(image)) << image << " belongs to no action";
    }
    ASSERT_EQ(std::size(kArtActions), ActionCatalogue().size());
    for (size_t i = 0; i < std::size(kArtActions); ++i) {
        EXPECT_EQ(kArtActions[i][0], ActionCatalogue()[i].shortName);
        EXPECT_EQ(kArtActions[i][1], ActionCatalogue()[i].FirstImage());
    }
}

}  // namespace
