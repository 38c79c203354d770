// The real plug-in executable, started the way the Stream Deck application
// starts it.

#include <gtest/gtest.h>

#include "diagnostics/Platform.h"
#include "support/ChildProcess.h"
#include "support/HostStandIn.h"

using namespace std::chrono_literals;

namespace {

const std::string kPlugin = "kestrel-sdplugin";

TEST(ExecutableTest, UnusableArgumentsExitWithOneAndPrintNothing) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"-port", "1234", "-pluginUUID", "U", "-registerEvent", "registerPlugin"},
        {"-port", "1234", "-pluginUUID", "U", "-registerEvent", "registerPlugin", "-info", "{}", "x"},
        {"-port", "0", "-pluginUUID", "U", "-registerEvent", "registerPlugin", "-info", "{}"},
        {"-port", "port", "-pluginUUID", "U", "-registerEvent", "registerPlugin", "-info", "{}"},
        {"-port", "1234", "-pluginUUID", "", "-registerEvent", "registerPlugin", "-info", "{}"},
        {"-port", "1234", "-pluginUUID", "U", "-registerEvent", "registerPlugin", "-inf", "{}"},
        {"-port", "1234", "-port", "1235", "-registerEvent", "registerPlugin", "-info", "{}"},
    };
    for (const auto& arguments : cases) {
        ChildProcess child;
        ASSERT_TRUE(child.Start(BuiltProgramPath(kPlugin), arguments));
        EXPECT_EQ(child.Wait(60s), 1) << ::testing::PrintToString(arguments);
        EXPECT_EQ(child.Output(), "");
    }
}

TEST(ExecutableTest, RegistersWithTheHostAndExitsZeroSoonAfterTheHostCloses) {
    HostStandIn host;
    ChildProcess child;
    // The information document is plain text on purpose: only its presence matters.
    ASSERT_TRUE(child.Start(BuiltProgramPath(kPlugin), {"-info", "not json", "-registerEvent", "registerPlugin",
                                                        "-pluginUUID", "ABCDEF", "-port",
                                                        std::to_string(host.Port())}));
    ASSERT_TRUE(host.WaitForConnection(60s)) << child.Output();
    auto registration = host.NextMessage(30s);
    ASSERT_TRUE(registration.has_value());
    EXPECT_EQ(*registration, R"({"event":"registerPlugin","uuid":"ABCDEF"})");

    host.SendText(R"({"event":"willAppear","action":"com.vantora.kestrel.unknown","context":"K1"})");
    host.SendText("garbage");
    host.Close();
    EXPECT_EQ(child.Wait(2s), 0) << child.Output();
    EXPECT_EQ(child.Output(), RegisteredPluginOutput(BuiltProgramPath(kPlugin)));
}

TEST(ExecutableTest, RegistersANonAsciiIdentifierByteForByteInUtf8) {
    // Ü, the euro sign (not in every ANSI code page) and an emoji (in none).
    const std::string kIdentifier = "\xC3\x9C-\xE2\x82\xAC-\xF0\x9F\x98\x80";
    HostStandIn host;
    ChildProcess child;
    ASSERT_TRUE(child.Start(BuiltProgramPath(kPlugin),
                            {"-port", std::to_string(host.Port()), "-pluginUUID", kIdentifier,
                             "-registerEvent", "registerPlugin", "-info", "{}"}));
    ASSERT_TRUE(host.WaitForConnection(60s)) << child.Output();
    auto registration = host.NextMessage(30s);
    ASSERT_TRUE(registration.has_value());
    EXPECT_EQ(*registration, "{\"event\":\"registerPlugin\",\"uuid\":\"" + kIdentifier + "\"}");
    host.Close();
    EXPECT_EQ(child.Wait(60s), 0) << child.Output();
}

TEST(ExecutableTest, AnIdentifierOrEventThatIsNotUtf8IsUnusable) {
    // Windows hands the plug-in its arguments in UTF-16: there the bytes
    // below cannot arrive, and CommandLineTest covers the check.
    if (KESTREL_WIN32) GTEST_SKIP() << "arguments arrive as UTF-16";
    HostStandIn host;
    const std::string port = std::to_string(host.Port());
    const std::vector<std::vector<std::string>> cases = {
        {"-port", port, "-pluginUUID", "Caf\xE9", "-registerEvent", "registerPlugin", "-info", "{}"},
        {"-port", port, "-pluginUUID", "U", "-registerEvent", "register\xFF", "-info", "{}"},
    };
    for (const auto& arguments : cases) {
        ChildProcess child;
        ASSERT_TRUE(child.Start(BuiltProgramPath(kPlugin), arguments));
        EXPECT_EQ(child.Wait(60s), 1) << child.Output();
        EXPECT_EQ(child.Output(), "");
    }
    EXPECT_FALSE(host.WaitForConnection(100ms)) << "nothing reached the host";
}

TEST(ExecutableTest, RefusedConnectionExitsZero) {
    int closedPort = 0;
    {
        HostStandIn host;
        closedPort = host.Port();
    }
    ChildProcess child;
    ASSERT_TRUE(child.Start(BuiltProgramPath(kPlugin), {"-port", std::to_string(closedPort), "-pluginUUID", "U",
                                                        "-registerEvent", "registerPlugin", "-info", "{}"}));
    EXPECT_EQ(child.Wait(60s), 0) << child.Output();
}

}  // namespace
