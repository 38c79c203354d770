// The Node SDK peer takes its actions from the file the probe writes from
// this build's action catalogue; here the peer's own reader reads that file,
// so a row the peer would drop or misread, or one it cannot build, shows.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "PeerActions.h"
#include "catalogue/ActionCatalogue.h"

using nlohmann::json;

namespace {

// Runs the peer's reader on |file|; its output, and its exit status in |status|.
std::string ReadAsThePeerDoes(const std::string& file, int& status) {
    const std::string reader = std::string(getenv("KESTREL_SOURCE_DIR")) + "/bench/peer/actions.js";
    const std::string command = "node '" + reader + "' '" + file + "' 2>/dev/null";
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return output;
    char buffer[4096];
    for (size_t read; (read = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, read);
    status = pclose(pipe);
    return output;
}

class PeerActionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("node --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "node is not installed";
        ASSERT_NE(getenv("KESTREL_SOURCE_DIR"), nullptr);
        ASSERT_NE(mkdtemp(m_folder), nullptr);
    }
    void TearDown() override {
        std::remove(File().c_str());
        rmdir(m_folder);
    }
    std::string File() const { return std::string(m_folder) + "/actions.json"; }

    char m_folder[32] = "/tmp/kestrel-peer-XXXXXX";
};

TEST_F(PeerActionsTest, ThePeerReadsEveryActionOfTheCatalogueWithItsStatesAndDefaults) {
    ASSERT_TRUE(WritePeerActions(File()));
    int status = -1;
    const json rows = json::parse(ReadAsThePeerDoes(File(), status), nullptr, false);
    EXPECT_EQ(status, 0);
    ASSERT_TRUE(rows.is_array());
    ASSERT_EQ(rows.size(), ActionCatalogue().size());
    for (size_t i = 0; i < rows.size(); ++i) {
        const ActionDescription& action = ActionCatalogue()[i];
        SCOPED_TRACE(action.shortName);
        EXPECT_EQ(rows[i]["shortName"], action.shortName);
        EXPECT_EQ(rows[i]["defaults"], action.defaultSettings);
        json states = json::array();
        for (const ActionState& state : action.states)
            states.push_back({state.name, state.image, state.command});
        EXPECT_EQ(rows[i]["states"], states);
    }
}

// A peer short of a key would measure something else: it does not start.
TEST_F(PeerActionsTest, ThePeerRefusesAnActionItCannotBuild) {
    json actions = PeerActions();
    actions.back()["kind"] = "toggle";
    std::ofstream(File()) << actions.dump();
    int status = 0;
    ReadAsThePeerDoes(File(), status);
    EXPECT_NE(status, 0);
    actions.back()["kind"] = "single";
    actions.back()["states"] = json::array();
    std::ofstream(File()) << actions.dump();
    status = 0;
    ReadAsThePeerDoes(File(), status);
    EXPECT_NE(status, 0);
}

}  // namespace
