#pragma once
// The control elements of the action catalogue: creating them from the table,
// the conversions of key settings, and the builders of the commands a press
// sends.

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "elements/CommandBuilder.h"

class ControlElementBase;
class ControlElementsManager;
class ControllerClient;

// Creates every element of the catalogue in catalogue order, registers each
// with |manager| right after creating it, and returns them in that order.
std::vector<std::shared_ptr<ControlElementBase>> BuildActionCatalogue(
    ControlElementsManager& manager, const std::shared_ptr<ControllerClient>& controllerClient);

// A setting read as a 32-bit integer: a string as atoi reads it, a boolean as
// 0 or 1, an integer cut to 32 bits, a floating-point number truncated toward
// zero (saturating at the 32-bit limits; NaN gives 0). Null, an object or an
// array raise nlohmann's type_error 302 "type must be number, but is ...".
int32_t SettingToInt(const nlohmann::json& value);

// A stored flag (a check box of a settings page): a boolean as it is, a
// number or a string read by SettingToInt, non-zero meaning on. Null, an
// object or an array say nothing, and the setting's default applies. The
// settings pages read flags by the same rule, so a box shown ticked is on.
std::optional<bool> SettingToFlag(const nlohmann::json& value);

// A stored decimal (the hold time): a number, or a string that holds just an
// optionally signed decimal number with blanks around it at most (" 1.5").
// Anything else says nothing. The settings pages read decimals the same way.
std::optional<double> SettingToDecimal(const nlohmann::json& value);

// The member |key| of |settings|; null when missing or when |settings| is not
// an object.
nlohmann::json SettingOf(const nlohmann::json& settings, const char* key);

// The volume level key's image for its settings: "volume_value" rounded down
// to tens, kept within 10..100.
std::string ChooseVolumeLevelImage(const nlohmann::json& settings);

// Command builders. Every builder makes a new CommandMessage with the source
// address it is given.
CommandBuilder MakeCommand(const char* name);  // data null
// {"auto_unmute": bool, "step": int} from "auto_unmute" and "volume_step".
CommandBuilder MakeVolumeStepCommand(const char* name);
// {"auto_unmute": bool, "value": unsigned} from "auto_unmute" and "volume_value".
CommandBuilder MakeVolumeLevelCommand(const char* name);
// {"value": level} for the emberfall pump.
CommandBuilder MakePumpLevelCommand(const char* name, uint32_t level);
