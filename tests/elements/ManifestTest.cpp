// The hand-written manifest of the plug-in folder (the copy beside the test)
// and the artwork's list of images, held against the facts the build owns:
// its version and the action catalogue.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <utility>
#include <vector>

#include "PluginImageNames.h"
#include "Version.h"
#include "catalogue/ActionCatalogue.h"
#include "support/PngDecoder.h"

namespace {

using json = nlohmann::json;

json ReadJson(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return json::parse(text.str(), nullptr, false);
}

json ReadManifest() {
    return ReadJson("manifest.json");
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

// A toggle the host knows declares both states in the catalogue's order,
// each with its key image and a name for a Multi Action's state picker, and
// leaves the state to the plug-in (the host must not flip it on a press).
// Every other action declares its first image only.
void ExpectHostStates(const ActionDescription& action, const json& entry) {
    const json states = entry.value("States", json());
    const bool two = HasTwoHostStates(action);
    EXPECT_EQ(entry.value("DisableAutomaticStates", false), two);
    ASSERT_TRUE(states.is_array());
    ASSERT_EQ(states.size(), two ? 2u : 1u);
    for (size_t i = 0; i < states.size(); ++i) {
        const std::string image = "images/keys/" + WithoutExtension(action.states[i].image);
        EXPECT_EQ(states[i].value("Image", ""), image) << "state " << i;
        ExpectFileInFolder(image + ".png");
        ExpectFileInFolder(image + "@2x.png");
        if (two) {
            EXPECT_NE(states[i].value("Name", ""), "") << "state " << i;
        } else {
            EXPECT_EQ(states[i], json({{"Image", image}}));
        }
    }
}

// Width and height of a PNG file of the folder; zero when it is none.
std::pair<unsigned, unsigned> PngSize(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    const std::optional<RgbaImage> image = DecodePng(bytes);
    return image ? std::pair(image->width, image->height) : std::pair(0u, 0u);
}

TEST(ManifestTest, CarriesTheVersionOfTheBuild) {
    const json manifest = ReadManifest();
    ASSERT_TRUE(manifest.is_object()) << "manifest.json beside the test is missing or not JSON";
    EXPECT_EQ(manifest.value("Version", ""), kPluginVersion);
}

// The host's preferences show the plug-in icon at 256 px and the action list
// the category icon at 28 px, each with a twin at twice the size.
TEST(ManifestTest, IconsHaveTheSizesTheHostShowsThemAt) {
    const json manifest = ReadManifest();
    ASSERT_TRUE(manifest.is_object());
    for (const auto& [member, size] : {std::pair{"Icon", 256u}, {"CategoryIcon", 28u}}) {
        const std::string icon = manifest.value(member, "");
        EXPECT_EQ(PngSize(icon + ".png"), std::pair(size, size)) << member;
        EXPECT_EQ(PngSize(icon + "@2x.png"), std::pair(2 * size, 2 * size)) << member;
    }
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
        EXPECT_EQ(entry.value("Controllers", json()), json(action.controllers));
        EXPECT_EQ(entry.value("PropertyInspectorPath", ""), action.settingsPage);
        ExpectFileInFolder(entry.value("Icon", "") + ".png");
        ExpectFileInFolder(action.settingsPage);
        ExpectHostStates(action, entry);
        ExpectDialBlock(action, entry);
    }
}

// The toggles whose two states a Multi Action step can pick; the video key's
// three states stay the plug-in's own.
TEST(ManifestTest, TheHostKnowsTheStatesOfTheTwoStateTogglesOnly) {
    std::set<std::string> twoStates;
    for (const ActionDescription& action : ActionCatalogue())
        if (HasTwoHostStates(action)) twoStates.insert(action.shortName);
    EXPECT_EQ(twoStates, (std::set<std::string>{"alerts-mute", "streaming-state", "alerts-pause",
                                                "media-request", "media-request-play-pause",
                                                "media-request-mute", "media-request-show-on-stream"}));
}

// The Multi Action's state picker shows the state names in the host's
// language: each localisation file names both states of every two-state
// action (a file without them would fall back to English), and en.json says
// what the manifest says.
TEST(ManifestTest, NamesTheHostStatesInEveryLanguage) {
    const json manifest = ReadManifest();
    ASSERT_TRUE(manifest.is_object() && manifest.contains("Actions"));
    for (const char* language : {"de", "en", "es", "fr", "ja", "ko", "zh_CN", "zh_TW"}) {
        const json texts = ReadJson(std::string(language) + ".json");
        ASSERT_TRUE(texts.is_object()) << language;
        for (size_t i = 0; i < ActionCatalogue().size(); ++i) {
            const ActionDescription& action = ActionCatalogue()[i];
            SCOPED_TRACE(std::string(language) + " " + action.Id());
            const json states = texts.value(action.Id(), json::object()).value("States", json());
            if (!HasTwoHostStates(action)) {
                EXPECT_TRUE(states.is_null());
                continue;
            }
            ASSERT_TRUE(states.is_array() && states.size() == 2);
            EXPECT_NE(states[0].value("Name", ""), states[1].value("Name", ""));
            for (size_t state = 0; state < 2; ++state) {
                EXPECT_NE(states[state].value("Name", ""), "") << "state " << state;
                if (std::string(language) == "en") {
                    EXPECT_EQ(states[state].value("Name", ""),
                              manifest["Actions"][i]["States"][state].value("Name", "?"));
                }
            }
        }
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
