#include "deck-sim/DeckKey.h"

#include <algorithm>

namespace {

const std::string& StateMember(const std::vector<std::string>& perState, int state) {
    static const std::string none;
    return state >= 0 && size_t(state) < perState.size() ? perState[size_t(state)] : none;
}

}  // namespace

std::string DeckKey::ShownImage() const {
    return StateMember(images, state);
}

bool DeckKey::ShowsOwnIcon() const {
    return !OwnIcon(state).empty();
}

const std::string& DeckKey::OwnIcon(int of) const {
    return StateMember(ownIcons, of);
}

std::string DeckKey::HostImage() const {
    if (ShowsOwnIcon()) return OwnIcon(state);
    std::string picture = action.StateImage(static_cast<size_t>(std::max(state, 0)));
    return picture.empty() ? "" : "/plugin/" + picture + "@2x.png";
}

std::string DeckKey::StateName(size_t of) const {
    if (of < action.states.size() && !action.states[of].name.empty()) return action.states[of].name;
    return "State " + std::to_string(of + 1);
}
