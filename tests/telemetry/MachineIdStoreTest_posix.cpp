// The identifier's file is its user's alone: 0600 in a 0700 folder, also
// when an earlier version left a 0644 file in a 0755 folder.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "support/ScopedEnvironment.h"
#include "support/TemporaryDirectory.h"
#include "telemetry/MachineId.h"
#include "telemetry/MachineIdStore.h"

namespace fs = std::filesystem;

namespace {

mode_t ModeOf(const fs::path& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) return 0;
    return status.st_mode & 07777;
}

TEST(MachineIdFileTest, OnlyItsUserMayReadTheIdentifier) {
    TemporaryDirectory config("kestrel-machine-id-mode");
    ScopedEnvironment xdg("XDG_CONFIG_HOME", config.Path().string());
    const fs::path folder = config.Path() / "Vantora";
    const fs::path file = folder / "MachineUniqueIdentifier";

    std::string made = GetMachineId(SystemMachineIdSources());
    EXPECT_EQ(ReadStoredMachineId(MachineIdStore::Machine), made);
    EXPECT_EQ(ModeOf(folder), 0700u);
    EXPECT_EQ(ModeOf(file), 0600u);

    // What an earlier version left behind is narrowed, and its value kept.
    ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
    ASSERT_EQ(chmod(file.c_str(), 0644), 0);
    EXPECT_EQ(GetMachineId(SystemMachineIdSources()), made);
    EXPECT_EQ(ModeOf(folder), 0700u);
    EXPECT_EQ(ModeOf(file), 0600u);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1)
        << "no temporary file is left beside the store";
}

TEST(MachineIdFileTest, ThereIsNoSecondStoreForTheUser) {
    TemporaryDirectory config("kestrel-machine-id-user");
    ScopedEnvironment xdg("XDG_CONFIG_HOME", config.Path().string());
    EXPECT_FALSE(WriteStoredMachineId(MachineIdStore::User, "VTID/X-1"));
    EXPECT_EQ(ReadStoredMachineId(MachineIdStore::User), "");
    EXPECT_EQ(ReadStoredMachineId(MachineIdStore::Machine), "") << "the user's write went nowhere";
}

}  // namespace
