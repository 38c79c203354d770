#include "deck-sim/MultiActionKeys.h"

#include <algorithm>
#include <utility>

#include "deck-sim/VirtualDeck.h"

using nlohmann::json;

namespace {

// How the hosts run a composite key's steps: each step's press is let go
// after kStepHold, and the next step follows kStepGap after that.
constexpr std::chrono::milliseconds kStepHold{100};
constexpr std::chrono::milliseconds kStepGap{100};
constexpr size_t kMostSteps = 32;

}  // namespace

MultiActionKeys::MultiActionKeys(const std::vector<ActionEntry>& actions, HostFlavour host, int columns)
    : m_host(host), m_columns(columns) {
    for (const ActionEntry& action : actions) {
        if (action.inMultiActions) m_stepActions.push_back(action);
    }
}

bool MultiActionKeys::HasStep(size_t composite, size_t step) const {
    return composite < m_composites.size() && step < m_composites[composite].steps.size();
}

bool MultiActionKeys::Occupies(int column, int row) const {
    return std::any_of(m_composites.begin(), m_composites.end(), [&](const DeckComposite& composite) {
        return composite.column == column && composite.row == row;
    });
}

size_t MultiActionKeys::Add(DeckComposite::Kind kind, const std::string& name, int column, int row) {
    DeckComposite composite;
    composite.kind = kind;
    composite.name = name;
    composite.column = column;
    composite.row = row;
    m_composites.push_back(std::move(composite));
    return m_composites.size() - 1;
}

const DeckKey* MultiActionKeys::AddStep(size_t index, const std::string& actionUuid,
                                        const std::string& randomHex, std::optional<int> desiredState,
                                        Outbox& out) {
    if (index >= m_composites.size()) return nullptr;
    DeckComposite& composite = m_composites[index];
    auto action = std::find_if(m_stepActions.begin(), m_stepActions.end(),
                               [&](const ActionEntry& entry) { return entry.uuid == actionUuid; });
    if (action == m_stepActions.end() || composite.steps.size() >= kMostSteps) {
        out.toPage.push_back(Outbox::PageLog("host", "cannot add " + actionUuid + " to " + composite.name));
        return nullptr;
    }
    DeckKey step;
    step.action = *action;
    step.column = composite.column;
    step.row = composite.row;
    step.inMultiAction = true;
    size_t position = size_t(composite.row * m_columns + composite.column);
    step.context =
        m_host.KeyContext(VirtualDeck::kDeviceId, position, randomHex, "Keypad", ++composite.childSerial);
    // Only the Stream Deck application's Multi Action offers a state picker.
    if (!m_host.IsOpenDeck() && composite.kind == DeckComposite::Kind::MultiAction &&
        action->StateCount() == 2) {
        step.desiredState = std::clamp(desiredState.value_or(0), 0, 1);
    }
    composite.steps.push_back(std::move(step));
    out.toPage.push_back(Outbox::PageLog("host", "added " + action->name + " to " + composite.name));
    out.toPage.push_back(ViewUpdate(index));
    return &composite.steps.back();
}

Outbox MultiActionKeys::RemoveStep(size_t index, size_t step) {
    Outbox out;
    if (!HasStep(index, step)) return out;
    DeckComposite& composite = m_composites[index];
    out.toPage.push_back(
        Outbox::PageLog("host", "removed " + composite.steps[step].action.name + " from " + composite.name));
    composite.steps.erase(composite.steps.begin() + static_cast<std::ptrdiff_t>(step));
    if (composite.next >= composite.steps.size()) composite.next = 0;
    out.toPage.push_back(ViewUpdate(index));
    return out;
}

Outbox MultiActionKeys::PickStepState(size_t index, size_t step, int state) {
    Outbox out;
    if (!HasStep(index, step)) return out;
    DeckKey& picked = m_composites[index].steps[step];
    if (!picked.desiredState || state < 0 || state > 1) {
        out.toPage.push_back(Outbox::PageLog("host", "no state to pick for " + picked.action.name));
        return out;
    }
    picked.desiredState = state;
    out.toPage.push_back(ViewUpdate(index));
    return out;
}

Outbox MultiActionKeys::Press(size_t index) {
    Outbox out;
    if (index >= m_composites.size()) return out;
    DeckComposite& composite = m_composites[index];
    out.toPage.push_back(Outbox::PageLog("host", "pressed " + composite.name));
    if (composite.steps.empty()) return out;
    if (composite.kind == DeckComposite::Kind::Toggle) {
        // The child of the toggle's current state: pressed, never let go.
        out.later.push_back({std::chrono::milliseconds(0), composite.steps[composite.next].context, true});
        composite.next = (composite.next + 1) % composite.steps.size();
        out.toPage.push_back(ViewUpdate(index));
        return out;
    }
    std::chrono::milliseconds at{0};
    for (const DeckKey& step : composite.steps) {
        out.later.push_back({at, step.context, true});
        out.later.push_back({at + kStepHold, step.context, false});
        at += kStepHold + kStepGap;
    }
    return out;
}

DeckKey* MultiActionKeys::FindStep(const std::string& context, size_t& index) {
    for (index = 0; index < m_composites.size(); ++index) {
        for (DeckKey& step : m_composites[index].steps) {
            if (step.context == context) return &step;
        }
    }
    return nullptr;
}

json MultiActionKeys::ViewUpdate(size_t index) const {
    return {{"type", "composite"}, {"composite", View(index)}};
}

json MultiActionKeys::View(size_t index) const {
    const DeckComposite& composite = m_composites[index];
    json steps = json::array();
    for (const DeckKey& step : composite.steps) {
        json states = json::array();
        for (size_t state = 0; state < step.action.StateCount(); ++state)
            states.push_back(step.StateName(state));
        steps.push_back({{"action", step.action.uuid},
                         {"name", step.action.name},
                         {"context", step.context},
                         {"state", step.state},
                         {"states", states},
                         {"desiredState", step.desiredState ? json(*step.desiredState) : json()},
                         {"hasInspector", !step.action.propertyInspectorPath.empty()}});
    }
    return {{"index", index},
            {"kind", composite.kind == DeckComposite::Kind::Toggle ? "toggle" : "multi"},
            {"name", composite.name},
            {"column", composite.column},
            {"row", composite.row},
            {"next", composite.next},
            {"picksStates", !m_host.IsOpenDeck() && composite.kind == DeckComposite::Kind::MultiAction},
            {"steps", steps}};
}
