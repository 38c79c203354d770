// deck-sim behaving as OpenDeck: what it gives the plug-in at start and
// registration, and the manifest it reads.
#include <gtest/gtest.h>

#include <fstream>

#include "deck-sim/DeckSimOptions.h"
#include "deck-sim/PluginManifest.h"
#include "deck-sim/VirtualDeck.h"
#include "support/TemporaryDirectory.h"

using nlohmann::json;

namespace {

const HostFlavour kOpenDeck(HostFlavour::Kind::OpenDeck);

void Write(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

TEST(OpenDeckHostTest, RegistrationFollowsEveryWillAppearWithItsTitleParameters) {
    ActionTable table;
    std::vector<std::string> contexts;
    for (size_t i = 0; i < table.Entries().size(); ++i)
        contexts.push_back(kOpenDeck.KeyContext(VirtualDeck::kDeviceId, i, "unused"));
    EXPECT_EQ(contexts[9], "DECKSIM1.Default.Keypad.9.0");
    VirtualDeck deck(table.Entries(), contexts, kOpenDeck.PluginUUID("unused"), "1.2.3.4", kOpenDeck);
    EXPECT_EQ(deck.PluginUUID(), "com.vantora.kestrel.sdPlugin");
    json info = deck.InfoDocument();
    EXPECT_EQ(info["devicePixelRatio"], 0);
    EXPECT_EQ(info["application"]["platform"], "linux");
    EXPECT_EQ(info["plugin"]["uuid"], "com.vantora.kestrel.sdPlugin");
    EXPECT_NE(info["colors"], HostFlavour().InfoDocument("1.2.3.4", json::array())["colors"]);

    bool accepted = false;
    Outbox out = deck.RegisterPlugin({{"event", "registerPlugin"}, {"uuid", "com.vantora.kestrel.sdPlugin"}},
                                     accepted);
    ASSERT_TRUE(accepted);
    ASSERT_EQ(out.toPlugin.size(), 1 + 2 * contexts.size());
    for (size_t i = 0; i < contexts.size(); ++i) {
        const json& appear = out.toPlugin[1 + 2 * i];
        const json& title = out.toPlugin[2 + 2 * i];
        EXPECT_EQ(appear["event"], "willAppear");
        EXPECT_EQ(title["event"], "titleParametersDidChange");
        EXPECT_EQ(title["context"], contexts[i]);
        EXPECT_EQ(title["action"], appear["action"]);
        EXPECT_EQ(title["payload"]["coordinates"], appear["payload"]["coordinates"]);
        EXPECT_EQ(title["payload"]["settings"], appear["payload"]["settings"]);
        EXPECT_TRUE(title["payload"]["titleParameters"].is_object());
    }
    Outbox woke = deck.SystemWokeUp();
    ASSERT_EQ(woke.toPlugin.size(), 1u);
    EXPECT_EQ(woke.toPlugin[0], json({{"event", "systemDidWakeUp"}}));
}

TEST(OpenDeckHostTest, ManifestTakesTheLinuxFileAsAMergePatchAndNamesCodePathLin) {
    TemporaryDirectory folder("kestrel-manifest");
    Write(folder.Path() / "manifest.json", R"({"CodePath": "kestrel-sdplugin.exe", "Name": "Kestrel",
        "OS": [{"Platform": "windows"}, {"Platform": "mac"}], "Category": "Streaming",
        "Actions": [{"UUID": "com.vantora.kestrel.emberfall", "Name": "Embers"}]})");
    Write(folder.Path() / "manifest.linux.json",
          R"({"CodePathLin": "kestrel-sdplugin", "OS": [{"Platform": "linux"}], "Category": null})");
    std::string note;

    auto merged = PluginManifest::Read(folder.Path().string(), kOpenDeck, note);
    ASSERT_TRUE(merged);
    EXPECT_EQ((*merged)["OS"], json::parse(R"([{"Platform": "linux"}])"));  // arrays are replaced whole
    EXPECT_FALSE(merged->contains("Category"));                             // null removes
    EXPECT_EQ((*merged)["Actions"][0]["Name"], "Embers");
    EXPECT_EQ(PluginManifest::CodePath(*merged, kOpenDeck), "kestrel-sdplugin");

    auto plain = PluginManifest::Read(folder.Path().string(), HostFlavour(), note);
    ASSERT_TRUE(plain);
    EXPECT_EQ((*plain)["OS"].size(), 2u);
    EXPECT_TRUE(note.empty());

    Write(folder.Path() / "manifest.linux.json", "[1, 2");
    merged = PluginManifest::Read(folder.Path().string(), kOpenDeck, note);
    ASSERT_TRUE(merged);
    EXPECT_EQ((*merged)["CodePath"], "kestrel-sdplugin.exe");
    EXPECT_NE(note.find("manifest.linux.json"), std::string::npos);
    EXPECT_EQ(PluginManifest::CodePath(*merged, kOpenDeck), "kestrel-sdplugin.exe");
}

TEST(OpenDeckHostTest, CommandLineChoosesTheHost) {
    std::string error;
    const char* openDeck[] = {"deck-sim", "--host", "opendeck"};
    auto options = DeckSimOptions::Parse(3, openDeck, "/opt/deck-sim", error);
    ASSERT_TRUE(options) << error;
    EXPECT_TRUE(options->host.IsOpenDeck());
    EXPECT_FALSE(options->pluginPathGiven);
    const char* unknown[] = {"deck-sim", "--host", "elgato"};
    EXPECT_FALSE(DeckSimOptions::Parse(3, unknown, "/opt/deck-sim", error));
    EXPECT_NE(error.find("elgato"), std::string::npos);
}
