#pragma once
// Platform side of the machine identifier: its persistent store and the
// hardware UUID. On Windows the store is the value "MachineUniqueIdentifier"
// under HKLM "SOFTWARE\Vantora" and the UUID comes from WMI; elsewhere the
// store is $XDG_CONFIG_HOME/Vantora/MachineUniqueIdentifier (default
// ~/.config) and the UUID is /sys/class/dmi/id/product_uuid when readable.

#include <string>

// The stored text up to its first zero byte; "" when absent or unreadable.
std::string ReadStoredMachineId();
// Stores |text|; failures are ignored.
void WriteStoredMachineId(const std::string& text);
// Removes the stored value (tests start from a clean store).
void DeleteStoredMachineId();
// The hardware UUID as the system reports it; "" when unknown.
std::string ReadHardwareUuid();
