// Telling a Flatpak sandbox apart and naming the command that opens it to the
// controller's socket, with the sandbox's information file in a test folder.

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "controller/FlatpakSandbox.h"
#include "support/ScopedEnvironment.h"
#include "support/TemporaryDirectory.h"

namespace fs = std::filesystem;

namespace {

const std::string kSocket = "VantoraKestrelControllerServer";

class FlatpakSandboxTest : public ::testing::Test {
protected:
    fs::path InfoFile(const std::string& text) {
        fs::path file = m_folder.Path() / "flatpak-info";
        std::ofstream(file, std::ios::binary) << text;
        return file;
    }
    fs::path NoFile() const { return m_folder.Path() / "absent"; }

    ScopedEnvironment m_noVariable{"FLATPAK_ID", std::nullopt};
    TemporaryDirectory m_folder{"kestrel-flatpak"};
};

TEST_F(FlatpakSandboxTest, OutsideASandboxNothingIsDetected) {
    EXPECT_FALSE(FlatpakSandbox::Detect(NoFile()).Inside());
    ScopedEnvironment empty("FLATPAK_ID", "");
    EXPECT_FALSE(FlatpakSandbox::Detect(NoFile()).Inside());
}

TEST_F(FlatpakSandboxTest, TheAppIdComesFromTheVariableElseFromTheApplicationGroup) {
    const fs::path info = InfoFile(
        "[Runtime]\nname=org.freedesktop.Platform\n\n[Application]\nruntime=x\n  name = me.example.DeckHost "
        "\n"
        "[Instance]\nname=other\n");
    FlatpakSandbox fromFile = FlatpakSandbox::Detect(info);
    EXPECT_TRUE(fromFile.Inside());
    EXPECT_EQ(
        fromFile.GrantCommand(kSocket),
        "flatpak override --user --filesystem=xdg-run/VantoraKestrelControllerServer me.example.DeckHost");

    ScopedEnvironment variable("FLATPAK_ID", "org.example.Host_2");
    EXPECT_EQ(FlatpakSandbox::Detect(info).AppId(), "org.example.Host_2");
    EXPECT_EQ(FlatpakSandbox::Detect(NoFile()).AppId(), "org.example.Host_2");
    // A socket given as a path is granted as that path.
    EXPECT_EQ(FlatpakSandbox::Detect(NoFile()).GrantCommand("/run/kestrel.sock"),
              "flatpak override --user --filesystem=/run/kestrel.sock org.example.Host_2");
}

TEST_F(FlatpakSandboxTest, AnAppIdThatIsNotOneNeverReachesTheCommand) {
    // The command is shown to be pasted into a shell.
    for (const std::string& bad :
         std::vector<std::string>{"x; rm -rf ~", "$(reboot)", "-o", "a b", std::string(300, 'a')}) {
        ScopedEnvironment variable("FLATPAK_ID", bad);
        FlatpakSandbox sandbox = FlatpakSandbox::Detect(InfoFile("[Application]\nname=" + bad + "\n"));
        EXPECT_TRUE(sandbox.Inside()) << bad;
        EXPECT_EQ(sandbox.AppId(), "") << bad;
        EXPECT_EQ(sandbox.GrantCommand(kSocket),
                  "flatpak override --user --filesystem=xdg-run/VantoraKestrelControllerServer <app id>");
    }
    // A file without an [Application] group still marks the sandbox.
    FlatpakSandbox bare = FlatpakSandbox::Detect(InfoFile("name=org.example.Wrong\n"));
    EXPECT_TRUE(bare.Inside());
    EXPECT_EQ(bare.AppId(), "");
}

}  // namespace
