#pragma once
// Platform side of the machine identifier: where it is kept and the hardware
// UUID. On Windows the machine's store is the value "MachineUniqueIdentifier"
// under HKLM "SOFTWARE\Vantora" and the user's store is the same value under
// HKCU (for a user who may not write HKLM); the UUID comes from WMI.
// Elsewhere the machine's store is the file
// $XDG_CONFIG_HOME/Vantora/MachineUniqueIdentifier (default ~/.config), which
// only its user may read, there is no user's store, and the UUID is
// /sys/class/dmi/id/product_uuid when readable.

#include <string>

enum class MachineIdStore { Machine, User };

// The stored text up to its first zero byte; "" when absent or unreadable.
// On Windows the user's store also finds the value that Windows kept for
// earlier versions in the user's VirtualStore when they wrote HKLM without
// the right to.
std::string ReadStoredMachineId(MachineIdStore store);
// Stores |text|; false when the store refuses it.
bool WriteStoredMachineId(MachineIdStore store, const std::string& text);
// Removes the stored value (tests start from a clean store).
void DeleteStoredMachineId(MachineIdStore store);
// The hardware UUID as the system reports it; "" when unknown. WMI may take
// long: the caller bounds the wait (see GetMachineId).
std::string ReadHardwareUuid();
