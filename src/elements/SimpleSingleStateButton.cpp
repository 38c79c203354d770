#include "elements/SimpleSingleStateButton.h"

SimpleSingleStateButton::SimpleSingleStateButton(const std::string& name,
                                                 std::shared_ptr<ControllerClient> controllerClient,
                                                 const std::string& image, CommandBuilder command,
                                                 const nlohmann::json& defaultSettings)
    : ControlElementBase(name, defaultSettings),
      m_command(std::move(command)),
      m_controllerClient(std::move(controllerClient)) {
    SetImageFromFile(image);
}

SimpleSingleStateButton::~SimpleSingleStateButton() = default;

void SimpleSingleStateButton::HandleKeyDown(const std::string& context, const nlohmann::json& payload) {
    const nlohmann::json settings = GetContextSettings(context, payload);
    SendCommand(*m_controllerClient, context, m_command, settings,
                MakeCompletion([this, settings](bool accepted) {
                    if (!accepted) ShowAlertOverlay();
                    if (accepted) VolumeCommandTaken(settings);
                }));
}
