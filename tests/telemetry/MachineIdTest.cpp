// The machine identifier against the system's real store (the registry of
// the test's Wine prefix on Windows, a scratch XDG_CONFIG_HOME elsewhere),
// which every test cleans before and after.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
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

// For a UUID source that answers at once: the limit guards start-up against a
// hung WMI service, not against a test machine too loaded to start a thread.
constexpr std::chrono::milliseconds kPatientLimit = std::chrono::minutes(2);

class MachineIdTest : public ::testing::Test {
protected:
    MachineIdTest()
        : m_config(fs::temp_directory_path() /
                   ("kestrel-machine-id-test-" + std::to_string(std::random_device()()))),
          m_xdg("XDG_CONFIG_HOME", m_config.string()) {
        DeleteStores();
    }
    ~MachineIdTest() override {
        DeleteStores();
        std::error_code ignored;
        fs::remove_all(m_config, ignored);
    }

    static void DeleteStores() {
        DeleteStoredMachineId(MachineIdStore::Machine);
        DeleteStoredMachineId(MachineIdStore::User);
    }

    // The system's sources with the hardware UUID given by the test; every
    // write to the real machine's store is also noted in m_writes.
    MachineIdSources WithHardwareUuid(const std::string& uuid) {
        MachineIdSources sources = SystemMachineIdSources();
        sources.hardwareUuid = [uuid] { return uuid; };
        sources.hardwareUuidLimit = kPatientLimit;
        sources.writeStored = [this](const std::string& text) {
            m_writes.push_back(text);
            return WriteStoredMachineId(MachineIdStore::Machine, text);
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
    EXPECT_EQ(ReadStoredMachineId(MachineIdStore::Machine), first);
    EXPECT_EQ(GetMachineId(SystemMachineIdSources()), first) << "a later run reads it back";

    // One identifier per process, also when no store keeps it (telemetry and
    // crash reports of one run must agree).
    DeleteStores();
    EXPECT_EQ(GetMachineId(), first);
}

TEST_F(MachineIdTest, ReplacesAPlaceholderValueAndWritesTheNewOneBack) {
    for (const char* rejected :
         {"WUID/03000200-0400-0500-0006-000700080009", "WUID/00000000-0000-0000-0000-000000000000",
          "WUID/FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF", "WUID/00412F4E-0000-0000-0000-0000FFFFFFFF"}) {
        WriteStoredMachineId(MachineIdStore::Machine, rejected);
        ASSERT_EQ(ReadStoredMachineId(MachineIdStore::Machine), rejected);
        m_writes.clear();
        std::string made = GetMachineId(WithHardwareUuid(""));
        EXPECT_TRUE(std::regex_match(made, kFallbackForm)) << made;
        EXPECT_EQ(m_writes, std::vector<std::string>{made});
        EXPECT_EQ(ReadStoredMachineId(MachineIdStore::Machine), made);
    }
}

TEST_F(MachineIdTest, KeepsAnyOtherStoredValueAndWritesItBackUnchanged) {
    for (const char* kept : {"WUID/12345678-9ABC-DEF0-1234-56789ABCDEF0",
                             "wuid/ffffffff-ffff-ffff-ffff-ffffffffffff", "VTID/made-by-an-older-version"}) {
        WriteStoredMachineId(MachineIdStore::Machine, kept);
        m_writes.clear();
        EXPECT_EQ(GetMachineId(WithHardwareUuid("4C4C4544-0042-3510-8052-B4C04F4B4E32")), kept);
        EXPECT_EQ(m_writes, std::vector<std::string>{kept}) << "written back on every call";
        EXPECT_EQ(ReadStoredMachineId(MachineIdStore::Machine), kept);
    }
}

TEST_F(MachineIdTest, BuildsTheHardwareFormFromTheUuidAGuidAndARandomNumber) {
    std::string made = GetMachineId(WithHardwareUuid("4C4C4544-0042-3510-8052-B4C04F4B4E32"));
    EXPECT_TRUE(std::regex_match(
        made, std::regex("SWID/4C4C4544004235108052B4C04F4B4E32-[0-9A-F]{32}-[0-9A-F]{1,16}")))
        << made;
    EXPECT_EQ(std::count(made.begin(), made.end(), '-'), 2);
    EXPECT_EQ(ReadStoredMachineId(MachineIdStore::Machine), made);

    // Each identifier made is new: the GUID and the random number differ.
    DeleteStores();
    EXPECT_NE(GetMachineId(WithHardwareUuid("4C4C4544-0042-3510-8052-B4C04F4B4E32")), made);
}

// The machine's and the user's store in memory; the machine's can refuse
// writes, as HKLM does for a standard user on Windows.
struct MemoryStores {
    std::string machine;
    std::string user;
    bool machineRefuses = false;
    int userWrites = 0;
};

MachineIdSources InMemory(const std::shared_ptr<MemoryStores>& stores) {
    MachineIdSources sources = SystemMachineIdSources();
    sources.readStored = [stores] { return stores->machine; };
    sources.writeStored = [stores](const std::string& text) {
        if (stores->machineRefuses) return false;
        stores->machine = text;
        return true;
    };
    sources.readUserStored = [stores] { return stores->user; };
    sources.writeUserStored = [stores](const std::string& text) {
        ++stores->userWrites;
        stores->user = text;
        return true;
    };
    sources.hardwareUuid = [] { return std::string(); };
    sources.hardwareUuidLimit = kPatientLimit;
    return sources;
}

TEST(MachineIdStoresTest, AUserWhoMayNotWriteTheMachineStoreKeepsOneIdentifier) {
    auto stores = std::make_shared<MemoryStores>();
    stores->machineRefuses = true;
    const std::string first = GetMachineId(InMemory(stores));
    EXPECT_TRUE(std::regex_match(first, kFallbackForm)) << first;
    EXPECT_EQ(stores->user, first);
    EXPECT_EQ(stores->machine, "");
    EXPECT_EQ(GetMachineId(InMemory(stores)), first) << "the next run reads the user's store";

    // A placeholder in the machine's store does not hide the user's identifier.
    stores->machine = "WUID/00000000-0000-0000-0000-000000000000";
    EXPECT_EQ(GetMachineId(InMemory(stores)), first);

    // A usable value in the machine's store is read first and is not copied
    // into the user's store.
    stores->machine = "SWID/SET-BY-THE-INSTALLER";
    stores->userWrites = 0;
    EXPECT_EQ(GetMachineId(InMemory(stores)), "SWID/SET-BY-THE-INSTALLER");
    EXPECT_EQ(stores->user, first);
    EXPECT_EQ(stores->userWrites, 0);
}

TEST(MachineIdStoresTest, TheUsersIdentifierMovesToTheMachineStoreOnceThatTakesIt) {
    auto stores = std::make_shared<MemoryStores>();
    stores->user = "VTID/0123456789ABCDEF0123456789ABCDEF-1F";
    EXPECT_EQ(GetMachineId(InMemory(stores)), stores->user);
    EXPECT_EQ(stores->machine, stores->user);
    EXPECT_EQ(stores->userWrites, 0);
}

TEST(MachineIdStoresTest, AHardwareUuidThatDoesNotComeInTimeIsNotWaitedFor) {
    struct Gate {
        std::mutex lock;
        std::condition_variable changed;
        bool open = false;
        bool answered = false;
    };
    auto gate = std::make_shared<Gate>();
    auto stores = std::make_shared<MemoryStores>();
    MachineIdSources sources = InMemory(stores);
    // A query that hangs until the test lets it go, as a hung WMI service does.
    sources.hardwareUuid = [gate] {
        std::unique_lock<std::mutex> lock(gate->lock);
        gate->changed.wait(lock, [&gate] { return gate->open; });
        gate->answered = true;
        gate->changed.notify_all();
        return std::string("4C4C4544-0042-3510-8052-B4C04F4B4E32");
    };
    sources.hardwareUuidLimit = std::chrono::milliseconds(300);

    auto start = std::chrono::steady_clock::now();
    std::string made = GetMachineId(sources);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    EXPECT_TRUE(std::regex_match(made, kFallbackForm)) << made;
    EXPECT_EQ(stores->machine, made);

    // The abandoned query still ends cleanly once it returns.
    std::unique_lock<std::mutex> lock(gate->lock);
    gate->open = true;
    gate->changed.notify_all();
    EXPECT_TRUE(gate->changed.wait_for(lock, std::chrono::minutes(2), [&gate] { return gate->answered; }));
}

}  // namespace
