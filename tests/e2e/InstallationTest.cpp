// The real executable installed the way a Linux host installs it: in a
// folder of the user's choosing, and run inside a host's sandbox.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

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

TEST(InstallationTest, RunsFromAFolderWhoseNameIsNotAscii) {
    // A home folder named after its user, in three scripts, and a space.
    TemporaryDirectory root("kestrel-install");
    const fs::path folder =
        root.Path() / fs::u8path(u8"J\u00fcrgen/\u0414\u043c\u0438\u0442\u0440\u0438\u0439/\u685c/a b") /
        "com.vantora.kestrel.sdPlugin";
    const std::string program = InstallPlugin(folder);

    PluginHarness plugin(program, {});
    plugin.Appear(kEmberfall, "ctx-emberfall");
    EXPECT_TRUE(
        plugin.WaitForImage("ctx-emberfall", ExpectedKeyImage("emberfall.png", {"state_offline.png"})));
    ASSERT_EQ(plugin.CloseHost(60s), 0) << plugin.PluginOutput();

    const fs::path log = folder / "logs" / "rotating.txt";
    EXPECT_NE(ReadFile(log).find("StreamDeck Kestrel plug-in started"), std::string::npos);
}

}  // namespace
