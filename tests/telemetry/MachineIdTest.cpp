// The machine identifier against the system's real store (the registry of
// the test's Wine prefix on Windows, a scratch XDG_CONFIG_HOME elsewhere),
// which every test cleans before and after.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "support/ScopedEnvironment.h"
#include "telemetry/MachineId.h"
#include "telemetry/MachineIdStore.h"

namespace fs = std::filesystem;

namespace {

const std::regex kFallbackForm("VTID/[0-9A-F]{32}-[0-9A-F]{1,16}");
const std::regex kHardwareForm("SWID/[^-]+-[0-9A-F]{32}-[0-9A-F]{1,16}");

class MachineIdTest : public ::testing::Test {
protected:
    MachineIdTest()
        : m_config(fs::temp_directory_path() /
                   ("kestrel-machine-id-test-" + std::to_string(std::random_device()()))),
          m_xdg("XDG_CONFIG_HOME", m_config.string()) {
        DeleteStoredMachineId();
    }
    ~MachineIdTest() override {
        DeleteStoredMachineId();
        std::error_code ignored;
        fs::remove_all(m_config, ignored);
    }

    // The system's sources with the hardware UUID given by the test; every
    // write to the real store is also noted in m_writes.
    MachineIdSources WithHardwareUuid(const std::string& uuid) {
        MachineIdSources sources = SystemMachineIdSources();
        sources.hardwareUuid = [uuid] { return uuid; };
        sources.writeStored = [this](const std::string& text) {
            m_writes.push_back(text);
            WriteStoredMachineId(text);
        };
        return sources;
    }

    fs::path m_config;
    ScopedEnvironment m_xdg;
    std::vector<std::string> m_writes;
};

TEST_F(MachineIdTest, MakesAnIdentifierOnceAndKeepsItAcrossCalls) {
    std::string first = GetMachineId();
    const std::regex& form = ReadHardwareUuid().empty() ? kFallbackForm : kHardwareForm;
    EXPECT_TRUE(std::regex_match(first, form)) << first;
    EXPECT_EQ(ReadStoredMachineId(), first);
    EXPECT_EQ(GetMachineId(), first);
}

TEST_F(MachineIdTest, ReplacesAPlaceholderValueAndWritesTheNewOneBack) {
    for (const char* rejected :
         {"WUID/03000200-0400-0500-0006-000700080009", "WUID/00000000-0000-0000-0000-000000000000",
          "WUID/FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF", "WUID/00412F4E-0000-0000-0000-0000FFFFFFFF"}) {
        WriteStoredMachineId(rejected);
        ASSERT_EQ(ReadStoredMachineId(), rejected);
        m_writes.clear();
        std::string made = GetMachineId(WithHardwareUuid(""));
        EXPECT_TRUE(std::regex_match(made, kFallbackForm)) << made;
        EXPECT_EQ(m_writes, std::vector<std::string>{made});
        EXPECT_EQ(ReadStoredMachineId(), made);
    }
}

TEST_F(MachineIdTest, KeepsAnyOtherStoredValueAndWritesItBackUnchanged) {
    for (const char* kept : {"WUID/12345678-9ABC-DEF0-1234-56789ABCDEF0",
                             "wuid/ffffffff-ffff-ffff-ffff-ffffffffffff", "VTID/made-by-an-older-version"}) {
        WriteStoredMachineId(kept);
        m_writes.clear();
        EXPECT_EQ(GetMachineId(WithHardwareUuid("4C4C4544-0042-3510-8052-B4C04F4B4E32")), kept);
        EXPECT_EQ(m_writes, std::vector<std::string>{kept}) << "written back on every call";
        EXPECT_EQ(ReadStoredMachineId(), kept);
    }
}

TEST_F(MachineIdTest, BuildsTheHardwareFormFromTheUuidAGuidAndARandomNumber) {
    std::string made = GetMachineId(WithHardwareUuid("4C4C4544-0042-3510-8052-B4C04F4B4E32"));
    EXPECT_TRUE(std::regex_match(
        made, std::regex("SWID/4C4C4544004235108052B4C04F4B4E32-[0-9A-F]{32}-[0-9A-F]{1,16}")))
        << made;
    EXPECT_EQ(std::count(made.begin(), made.end(), '-'), 2);
    EXPECT_EQ(ReadStoredMachineId(), made);

    // Each identifier made is new: the GUID and the random number differ.
    DeleteStoredMachineId();
    EXPECT_NE(GetMachineId(WithHardwareUuid("4C4C4544-0042-3510-8052-B4C04F4B4E32")), made);
}

}  // namespace
