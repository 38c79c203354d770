// The real executable installed the way a Linux host installs it: in a
// folder of the user's choosing, and run inside a host's sandbox.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "diagnostics/Platform.h"
#include "e2e/PluginHarness.h"
#include "support/TemporaryDirectory.h"

namespace fs = std::filesystem;
using json = nlohmann::json;
using namespace std::chrono_literals;

namespace {

const std::string kPlugin = "kestrel-sdplugin";
const std::string kEmberfall = "com.vantora.kestrel.emberfall";

// Copies the built executable and the key images into |folder|, as a host
// unpacks the plug-in; the path of the installed executable, in UTF-8.
std::string InstallPlugin(const fs::path& folder) {
    fs::create_directories(folder);
    const fs::path built(BuiltProgramPath(kPlugin));
    for (const auto& entry : fs::directory_iterator(built.parent_path())) {
        if (entry.path().extension() == ".png") fs::copy_file(entry.path(), folder / entry.path().filename());
    }
    fs::copy_file(built, folder / built.filename());
    return (folder / built.filename()).u8string();
}

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Waits until the file at |path| holds |text|; false on time-out.
bool WaitForFileText(const fs::path& path, const std::string& text) {
    auto deadline = std::chrono::steady_clock::now() + PluginHarness::kWait;
    while (ReadFile(path).find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

// Opens the settings page of the emberfall key; what the plug-in sends it.
std::optional<json> OpenSettingsPage(PluginHarness& plugin) {
    plugin.SendToPlugin({{"event", "propertyInspectorDidAppear"},
                         {"action", kEmberfall},
                         {"context", "ctx-emberfall"},
                         {"device", "DEV1"}});
    return plugin.WaitForHostCommand(
        [](const json& command) { return command.value("event", "") == "sendToPropertyInspector"; });
}

// Installs the plug-in in |folder| and runs it: a key shows its image, the
// host sees the plug-in's usual output and the log in the folder is written.
void ExpectKeyImagesAndLogWhenInstalledIn(const fs::path& folder) {
    const std::string program = InstallPlugin(folder);
    PluginHarness plugin(program, {});
    plugin.Appear(kEmberfall, "ctx-emberfall");
    EXPECT_TRUE(
        plugin.WaitForImage("ctx-emberfall", ExpectedKeyImage("emberfall.png", {"state_offline.png"})));
    ASSERT_EQ(plugin.CloseHost(60s), 0) << plugin.PluginOutput();
    EXPECT_EQ(plugin.PluginOutput(), RegisteredPluginOutput(program));

    const fs::path log = folder / "logs" / "rotating.txt";
    EXPECT_NE(ReadFile(log).find("StreamDeck Kestrel plug-in started"), std::string::npos);
}

TEST(InstallationTest, RunsFromAFolderWhoseNameIsNotAscii) {
    // A home folder named after its user, in three scripts, and a space.
    TemporaryDirectory root("kestrel-install");
    const fs::path folder =
        root.Path() / fs::u8path(u8"J\u00fcrgen/\u0414\u043c\u0438\u0442\u0440\u0438\u0439/\u685c/a b") /
        "com.vantora.kestrel.sdPlugin";
    ExpectKeyImagesAndLogWhenInstalledIn(folder);
}

// A Linux folder name is bytes, which need not be UTF-8 (a folder copied
// from an old Latin-1 system, say): the keys still get their images.
TEST(InstallationTest, RunsFromAFolderWhoseNameIsNotUtf8) {
    if (KESTREL_WIN32) GTEST_SKIP() << "Windows names are UTF-16 text";
    TemporaryDirectory root("kestrel-install");
    ExpectKeyImagesAndLogWhenInstalledIn(root.Path() / "kestrel-\xff\xfe" / "com.vantora.kestrel.sdPlugin");
}

// A host installed as a Flatpak runs the plug-in inside its sandbox, where
// the streaming software's socket is hidden until the streamer grants access.
TEST(InstallationTest, InsideAFlatpakSandboxWithoutTheSocketThePageAndTheLogNameTheGrant) {
    if (KESTREL_WIN32) GTEST_SKIP() << "Flatpak runs Linux programs";
    TemporaryDirectory root("kestrel-flatpak");
    const fs::path folder = root.Path() / "com.vantora.kestrel.sdPlugin";
    const std::string program = InstallPlugin(folder);
    fs::create_directories(root.Path() / "run");
    // The product's socket name, looked for in an empty runtime folder.
    PluginHarness plugin(program, {{"FLATPAK_ID", "org.example.DeckHost"},
                                   {"KESTREL_CONTROLLER_PIPE", std::nullopt},
                                   {"XDG_RUNTIME_DIR", (root.Path() / "run").string()}});
    const std::string command =
        "flatpak override --user --filesystem=xdg-run/VantoraKestrelControllerServer org.example.DeckHost";

    plugin.Appear(kEmberfall, "ctx-emberfall");
    EXPECT_TRUE(
        plugin.WaitForImage("ctx-emberfall", ExpectedKeyImage("emberfall.png", {"state_offline.png"})));
    auto page = OpenSettingsPage(plugin);
    ASSERT_TRUE(page);
    EXPECT_EQ((*page)["payload"]["state"], json({{"id", "sandboxed"}, {"command", command}}));
    EXPECT_TRUE(WaitForFileText(folder / "logs" / "rotating.txt", "Flatpak sandbox"));
    EXPECT_NE(ReadFile(folder / "logs" / "rotating.txt").find(command), std::string::npos);
}

TEST(InstallationTest, InsideAFlatpakSandboxWithTheSocketGrantedTheKeysJustWork) {
    if (KESTREL_WIN32) GTEST_SKIP() << "Flatpak runs Linux programs";
    TemporaryDirectory root("kestrel-flatpak");
    const fs::path folder = root.Path() / "com.vantora.kestrel.sdPlugin";
    PluginHarness plugin(InstallPlugin(folder), {{"FLATPAK_ID", "org.example.DeckHost"}});
    plugin.StartController(true);

    plugin.Appear(kEmberfall, "ctx-emberfall");
    EXPECT_TRUE(plugin.WaitForImage("ctx-emberfall", ExpectedKeyImage("emberfall.png")));
    auto page = OpenSettingsPage(plugin);
    ASSERT_TRUE(page);
    EXPECT_EQ((*page)["payload"]["state"], json({{"id", "online"}}));
}

}  // namespace
