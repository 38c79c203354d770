#pragma once
// The host's own keys whose steps are instances of the plug-in's actions:
// where they sit, their steps, and how a press runs them. The virtual deck
// owns them and sends the plug-in the steps' events.
//
// Threads: not thread-safe; the simulator's single event-loop thread owns it.

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "deck-sim/ActionTable.h"
#include "deck-sim/DeckKey.h"
#include "deck-sim/Outbox.h"
#include "support/HostFlavour.h"

// A key of the host's own whose steps are instances of the plug-in's actions:
// the Stream Deck application's Multi Action (each step pressed and released
// in turn; a two-state step says which state the user picked), OpenDeck's
// multi action (the same without the picked state), or OpenDeck's toggle
// action (one child per press, in turn, pressed and never released).
struct DeckComposite {
    enum class Kind { MultiAction, Toggle };
    Kind kind = Kind::MultiAction;
    std::string name;
    int column = 0;
    int row = 0;
    std::vector<DeckKey> steps;  // each its own context and settings, inMultiAction
    size_t next = 0;             // a toggle action: the child the next press runs
    size_t childSerial = 0;      // the last child number given (OpenDeck's context index)
};

class MultiActionKeys {
public:
    // |actions|: every action of the plug-in (those allowed in Multi Actions
    // become steps); |columns|: of the device, for the steps' contexts.
    MultiActionKeys(const std::vector<ActionEntry>& actions, HostFlavour host, int columns);

    const std::vector<DeckComposite>& All() const { return m_composites; }
    bool HasStep(size_t composite, size_t step) const;
    bool Occupies(int column, int row) const;
    // A composite key with no steps at |column|, |row|; its index.
    size_t Add(DeckComposite::Kind kind, const std::string& name, int column, int row);
    // Adds a step of |actionUuid| (context made from |randomHex| as the host
    // makes them); a two-state step of a Stream Deck Multi Action starts with
    // |desiredState| picked (0 when not given). The new step, or null (and a
    // log line) when it cannot be added.
    const DeckKey* AddStep(size_t composite, const std::string& actionUuid, const std::string& randomHex,
                           std::optional<int> desiredState, Outbox& out);
    // Takes a step away; the caller has sent its willDisappear.
    Outbox RemoveStep(size_t composite, size_t step);
    Outbox PickStepState(size_t composite, size_t step, int state);
    // The step presses of a press of the composite key, in |later|.
    Outbox Press(size_t composite);
    // The step with |context| and its composite key's index; null for none.
    DeckKey* FindStep(const std::string& context, size_t& composite);
    // The page's picture of a composite key.
    nlohmann::json View(size_t composite) const;

private:
    nlohmann::json ViewUpdate(size_t composite) const;

    std::vector<ActionEntry> m_stepActions;  // the actions a step can be
    HostFlavour m_host;
    int m_columns;
    std::vector<DeckComposite> m_composites;
};
