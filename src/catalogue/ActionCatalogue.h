#pragma once
// The one table of the plug-in's 22 actions: identifier, button kind, key
// images, the commands sent to the controller server with their data, the
// state names, default settings, settings page and the controllers each
// action supports. The plug-in builds its elements from it, and the
// simulators, fuzz targets and tests take their list of actions from it.
// The hand-written manifest must agree with it (a test checks).

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

// Every action identifier begins with this.
inline constexpr char kActionPrefix[] = "com.vantora.kestrel.";

enum class ActionKind {
    kSingleState,    // one image, one command
    kMultipleState,  // follows the state the controller reports
    kPump,           // counts presses, then sends the level reached
    kDynamicImage,   // image chosen from the settings
};

// What goes into a command's "data".
enum class CommandData {
    kNone,         // null
    kVolumeStep,   // {"auto_unmute", "step"} from the settings
    kVolumeLevel,  // {"auto_unmute", "value"} from the settings
    kPumpLevel,    // {"value": level reached}
};

// One state of an action. Single-state and dynamic-image actions have one; a
// multi-state action one per state the controller reports, in its order; the
// pump its idle image first, then one per level.
struct ActionState {
    std::string name;     // as the controller reports it; empty when it reports none
    std::string image;    // file of the plug-in folder shown in this state
    std::string command;  // what a press sends in this state; empty: nothing
};

struct ActionDescription {
    std::string shortName;  // the identifier after kActionPrefix
    ActionKind kind;
    std::vector<ActionState> states;
    CommandData data;
    nlohmann::json defaultSettings;        // an object
    std::string settingsPage;              // relative to the plug-in folder
    std::vector<std::string> controllers;  // as the manifest names them

    std::string Id() const { return kActionPrefix + shortName; }
    // The image a key shows first (and the action's picture in the host's list).
    const std::string& FirstImage() const { return states.front().image; }
    // Every image file the key may show.
    std::vector<std::string> Images() const;
};

// The actions in catalogue order (the order of the manifest and the keys).
const std::vector<ActionDescription>& ActionCatalogue();

// The action with this identifier or short name; null when there is none.
const ActionDescription* FindAction(const std::string& idOrShortName);

// Whether the action also works on a dial (its controllers name "Encoder").
bool WorksOnDial(const ActionDescription& action);
// The dial's icon in the host's list and on the touch strip: a file of the
// plug-in folder without its extension (".png", and "@2x.png" at twice the size).
std::string DialIcon(const std::string& shortName);
// Whether the host knows the action's states too: a toggle of two reported
// states, declared with both in the manifest, automatic states off. The
// catalogue's state index i is the host's state i.
bool HasTwoHostStates(const ActionDescription& action);
// The action whose reported state a dial's push toggles.
inline constexpr char kMuteAction[] = "media-request-mute";

// The volume level key's image for a level of 10..100 in steps of ten.
std::string VolumeLevelImage(int level);
