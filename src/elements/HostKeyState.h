#pragma once
// What the host shows on each key (context) of one element, as far as the
// plug-in decides it: the state index the host was last told or reported
// (for actions with two host states), and whether the key's image is left
// to the host (the user's own icons). Only keys on screen have a record.
//
// Threads: none of its own; the owning element calls it with the control
// elements manager's lock held.

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

class HostKeyState {
public:
    // A key appeared: its record starts from the host's "state" in |payload|
    // (unknown unless it is 0 or 1), with its image not left to the host.
    void Appear(const std::string& context, const nlohmann::json& payload);
    // A key event's "state" is what the host shows now; ignored when it is
    // not 0 or 1 or the key has no record.
    void Heard(const std::string& context, const nlohmann::json& payload);
    void Forget(const std::string& context);
    // Whether the host must be told |state| for |context| (it shows another
    // one or none known); records it as told. False for a key without a record.
    bool Tell(const std::string& context, int32_t state);

    bool ImageLeft(const std::string& context) const;
    void SetImageLeft(const std::string& context, bool left);
    // Every key's image is sent afresh, an empty one included (after sleep).
    void ForgetImagesLeft();

    size_t RecordCount() const { return m_keys.size(); }

    // The setting "own_icons" (boolean, default false): whether the key shows
    // the icons its user set in the host while it works ("1" and 1 count as
    // true, as the settings page shows them). Nothing when the value is of
    // another kind (which then counts as false).
    static std::optional<bool> OwnIcons(const nlohmann::json& settings);

private:
    struct Key {
        int32_t state = -1;  // -1: not known
        bool imageLeft = false;
    };
    static int32_t StateOf(const nlohmann::json& payload);

    std::map<std::string, Key> m_keys;
};
