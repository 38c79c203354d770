// Telling a Flatpak sandbox apart and naming the command that opens it to the
// controller's socket, with the sandbox's information file in a test folder.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "controller/FlatpakSandbox.h"
#include "diagnostics/Platform.h"
#include "support/ChildProcess.h"
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
                  "flatpak override --user --filesystem=xdg-run/VantoraKestrelControllerServer '<app id>'");
    }
    // A file without an [Application] group still marks the sandbox.
    FlatpakSandbox bare = FlatpakSandbox::Detect(InfoFile("name=org.example.Wrong\n"));
    EXPECT_TRUE(bare.Inside());
    EXPECT_EQ(bare.AppId(), "");
}

// The command is shown to be pasted into a shell: run through a real sh, with
// a pipe name chosen to break out of it, it must start flatpak (here a stand-in
// that writes down its arguments) with exactly the intended arguments and
// nothing else.
TEST_F(FlatpakSandboxTest, TheGrantCommandRunsExactlyAsMeantWhenPastedIntoAShell) {
    if (KESTREL_WIN32) GTEST_SKIP() << "Flatpak runs Linux programs";
    const fs::path bin = m_folder.Path() / "bin";
    fs::create_directories(bin);
    const fs::path arguments = m_folder.Path() / "arguments";
    std::ofstream(bin / "flatpak") << "#!/bin/sh\nfor a in \"$@\"; do printf '%s|' \"$a\"; done > \""
                                   << arguments.string() << "\"\n";
    fs::permissions(bin / "flatpak", fs::perms::owner_all);
    const std::string path = bin.string() + ":" + std::getenv("PATH");

    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a b;touch X;#", "org.example.Host"},
        {"$(touch X)`touch X`", "org.example.Host"},
        {"it's \"quoted\" \\ & | > X", "org.example.Host"},
        {"/run/user/1000/dir name/sock\n;touch X", "org.example.Host"},
        {"=touch", ""},  // no app id: the placeholder stays one word
    };
    for (const auto& [pipe, appId] : cases) {
        ScopedEnvironment variable("FLATPAK_ID", appId.empty() ? std::optional<std::string>() : appId);
        const std::string command = FlatpakSandbox::Detect(NoFile()).GrantCommand(pipe);
        fs::remove(arguments);
        ChildProcess shell;
        ASSERT_TRUE(shell.Start("/bin/sh", {"-c", "cd \"$0\" && " + command, m_folder.Path().string()},
                                {{"PATH", path}}));
        ASSERT_EQ(shell.Wait(std::chrono::seconds(30)), 0) << command << "\n" << shell.Output();
        std::ifstream file(arguments);
        std::stringstream seen;
        seen << file.rdbuf();
        const std::string target = pipe.front() == '/' ? pipe : "xdg-run/" + pipe;
        EXPECT_EQ(seen.str(),
                  "override|--user|--filesystem=" + target + "|" + (appId.empty() ? "<app id>" : appId) + "|")
            << command;
        EXPECT_FALSE(fs::exists(m_folder.Path() / "X")) << command;
    }
    // The log line ends with the command, so the part to copy is the command itself.
    const std::string command = FlatpakSandbox::Detect(NoFile()).GrantCommand("a b");
    const std::string advice = FlatpakSandbox::UnreachableAdvice(command);
    EXPECT_EQ(advice.substr(advice.size() - command.size() - 2), ": " + command);
}

}  // namespace
