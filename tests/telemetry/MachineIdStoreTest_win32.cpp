// The identifier in the real registry of the test's Wine prefix when HKLM
// refuses the write, as it does for a standard user: it is kept in HKCU under
// the same key and value name and read back from there.

#include <gtest/gtest.h>
#include <windows.h>

#include <regex>
#include <string>

#include "telemetry/MachineId.h"
#include "telemetry/MachineIdStore.h"

namespace {

constexpr char kKey[] = "SOFTWARE\\Vantora";
constexpr char kValue[] = "MachineUniqueIdentifier";
constexpr char kVirtualStoreKey[] =
    "Software\\Classes\\VirtualStore\\MACHINE\\SOFTWARE\\WOW6432Node\\Vantora";

// The REG_SZ text at |root|\|key|, read without the code under test; "" when absent.
std::string RegistryText(HKEY root, const char* key) {
    char buffer[512] = {};
    DWORD size = sizeof buffer;
    if (RegGetValueA(root, key, kValue, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) return "";
    return buffer;
}

class RegistryStoreTest : public ::testing::Test {
protected:
    RegistryStoreTest() { Clean(); }
    ~RegistryStoreTest() override { Clean(); }
    static void Clean() {
        RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kKey, kValue);
        RegDeleteKeyValueA(HKEY_CURRENT_USER, kKey, kValue);
        RegDeleteKeyValueA(HKEY_CURRENT_USER, kVirtualStoreKey, kValue);
    }
    // The system's sources, except that HKLM refuses every write.
    static MachineIdSources RefusedByHklm() {
        MachineIdSources sources = SystemMachineIdSources();
        sources.writeStored = [](const std::string&) { return false; };
        return sources;
    }
};

TEST_F(RegistryStoreTest, RefusedByHklmTheIdentifierIsKeptInHkcu) {
    const std::string first = GetMachineId(RefusedByHklm());
    EXPECT_TRUE(std::regex_match(first, std::regex("(VTID|SWID)/.+"))) << first;
    EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, kKey), first);
    EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, kKey), "");
    EXPECT_EQ(GetMachineId(RefusedByHklm()), first);

    // Once HKLM holds an identifier (an installer wrote it), it is the one read.
    ASSERT_TRUE(WriteStoredMachineId(MachineIdStore::Machine, "VTID/FROM-HKLM-1"));
    EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, kKey), "VTID/FROM-HKLM-1");
    EXPECT_EQ(GetMachineId(RefusedByHklm()), "VTID/FROM-HKLM-1");
    EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, kKey), first);
}

TEST_F(RegistryStoreTest, TheIdentifierThatWindowsVirtualisedForAnEarlierVersionIsKept) {
    // Where Windows put a 32-bit process's HKLM write without a manifest.
    const char kEarlier[] = "VTID/0123456789ABCDEF0123456789ABCDEF-2A";
    ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, kVirtualStoreKey, kValue, REG_SZ, kEarlier, sizeof kEarlier),
              ERROR_SUCCESS);
    EXPECT_EQ(GetMachineId(RefusedByHklm()), kEarlier);
    EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, kKey), kEarlier);
}

}  // namespace
