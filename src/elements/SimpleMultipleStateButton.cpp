#include "elements/SimpleMultipleStateButton.h"

#include "controller/Messages.h"

using json = nlohmann::json;

SimpleMultipleStateButton::SimpleMultipleStateButton(const std::string& name,
                                                     std::shared_ptr<ControllerClient> controllerClient,
                                                     std::vector<std::string> images,
                                                     std::vector<std::string> states, bool advanceOnSuccess,
                                                     std::vector<CommandBuilder> commands)
    : ControlElementBase(name, json::object()),
      m_images(std::move(images)),
      m_states(std::move(states)),
      m_advanceOnSuccess(advanceOnSuccess),
      m_commands(std::move(commands)),
      m_controllerClient(std::move(controllerClient)) {
    SetImageFromFile(m_images.front());
}

SimpleMultipleStateButton::~SimpleMultipleStateButton() = default;

void SimpleMultipleStateButton::HandleKeyDown(const std::string& context, const json& payload) {
    SendCommand(*m_controllerClient, context, m_commands.at(m_stateIndex),
                GetContextSettings(context, payload),
                MakeCompletion([this](bool accepted) { OnCommandFinished(accepted); }));
}

void SimpleMultipleStateButton::OnCommandFinished(bool accepted) {
    if (!accepted) {
        ShowAlertOverlay();
        return;
    }
    if (!m_advanceOnSuccess) return;  // the controller's report moves the state
    m_stateIndex = (m_stateIndex + 1) % static_cast<int32_t>(m_commands.size());
    SetImageFromFile(m_images.at(m_stateIndex));
}

void SimpleMultipleStateButton::HandleEventMessage(const EventMessage& event) {
    ControlElementBase::HandleEventMessage(event);
    const ControllerEvent& meaning = event.Meaning();
    if (meaning.kind != ControllerEvent::Kind::FunctionState || meaning.function != GetName()) return;
    // A state this key does not know changes nothing.
    for (size_t index = 0; index < m_states.size(); ++index) {
        if (m_states[index] != meaning.state) continue;
        if (static_cast<int32_t>(index) != m_stateIndex) {
            m_stateIndex = static_cast<int32_t>(index);
            SetImageFromFile(m_images.at(index));
        }
        return;
    }
}
