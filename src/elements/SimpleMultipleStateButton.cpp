#include "elements/SimpleMultipleStateButton.h"

#include "controller/Messages.h"
#include "elements/KeyPress.h"

using json = nlohmann::json;

SimpleMultipleStateButton::SimpleMultipleStateButton(const std::string& name,
                                                     std::shared_ptr<ControllerClient> controllerClient,
                                                     std::vector<std::string> images,
                                                     std::vector<std::string> states, bool advanceOnSuccess,
                                                     std::vector<CommandBuilder> commands, bool twoHostStates)
    : ControlElementBase(name, json::object()),
      m_images(std::move(images)),
      m_states(std::move(states)),
      m_advanceOnSuccess(advanceOnSuccess),
      m_commands(std::move(commands)),
      m_controllerClient(std::move(controllerClient)),
      m_twoHostStates(twoHostStates && m_commands.size() == 2) {
    SetImageFromFile(m_images.front());
    if (m_twoHostStates) SetHostState(m_stateIndex);
}

SimpleMultipleStateButton::~SimpleMultipleStateButton() = default;

void SimpleMultipleStateButton::HandleKeyDown(const std::string& context, const json& payload) {
    const std::optional<int32_t> index = CommandIndex(payload);
    if (!index) return;  // KeyDown has said why
    SendCommand(*m_controllerClient, context, m_commands.at(*index), GetContextSettings(context, payload),
                MakeCompletion([this](bool accepted) { OnCommandFinished(accepted); }));
}

std::optional<int32_t> SimpleMultipleStateButton::CommandIndex(const json& payload) const {
    if (!m_twoHostStates) return m_stateIndex;
    const KeyPress press = KeyPress::Read(payload);
    if (!press.inMultiAction) return m_stateIndex;
    if (press.desiredStateUnreadable) return std::nullopt;
    // A step without a picked state (OpenDeck's macros) is a press as any other.
    if (!press.desiredState) return m_stateIndex;
    // A step is an order: the command of the other state brings the function
    // to the state picked, even when the key already shows it.
    return (*press.desiredState + 1) % 2;
}

void SimpleMultipleStateButton::OnCommandFinished(bool accepted) {
    if (!accepted) {
        ShowAlertOverlay();
        return;
    }
    if (!m_advanceOnSuccess) return;  // the controller's report moves the state
    ShowState((m_stateIndex + 1) % static_cast<int32_t>(m_commands.size()));
}

void SimpleMultipleStateButton::ShowState(int32_t index) {
    m_stateIndex = index;
    SetImageFromFile(m_images.at(index));
    if (m_twoHostStates) SetHostState(index);
}

void SimpleMultipleStateButton::HandleEventMessage(const EventMessage& event) {
    ControlElementBase::HandleEventMessage(event);
    const ControllerEvent& meaning = event.Meaning();
    if (meaning.kind != ControllerEvent::Kind::FunctionState || meaning.function != GetName()) return;
    // A state this key does not know changes nothing.
    for (size_t index = 0; index < m_states.size(); ++index) {
        if (m_states[index] != meaning.state) continue;
        if (static_cast<int32_t>(index) != m_stateIndex) ShowState(static_cast<int32_t>(index));
        return;
    }
}
