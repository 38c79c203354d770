#include "elements/SimpleDynamicImageButton.h"

#include "diagnostics/Log.h"
#include "elements/FaceImagePath.h"
#include "graphics/Graphics.h"

SimpleDynamicImageButton::SimpleDynamicImageButton(const std::string& name,
                                                   std::shared_ptr<ControllerClient> controllerClient,
                                                   ImageChooser imageChooser, CommandBuilder command,
                                                   const nlohmann::json& defaultSettings)
    : ControlElementBase(name, defaultSettings),
      m_command(std::move(command)),
      m_controllerClient(std::move(controllerClient)),
      m_imageChooser(std::move(imageChooser)) {
    SetImageFromFile(m_imageChooser(defaultSettings));
}

SimpleDynamicImageButton::~SimpleDynamicImageButton() = default;

void SimpleDynamicImageButton::HandleKeyDown(const std::string& context, const nlohmann::json& payload) {
    const nlohmann::json settings = GetContextSettings(context, payload);
    SendCommand(*m_controllerClient, context, m_command, settings,
                MakeCompletion([this, settings](bool accepted) {
                    if (!accepted) ShowAlertOverlay();
                    if (accepted) VolumeCommandTaken(settings);
                }));
}

void SimpleDynamicImageButton::HandleReceivedSettings(const std::string& context,
                                                      const nlohmann::json& payload) {
    ControlElementBase::HandleReceivedSettings(context, payload);
    if (!IsShown(context)) return;  // ignored (and logged) by the base
    const std::string file = m_imageChooser(GetContextSettings(context, payload));
    LogTrace("ControlElementBase::SetImageFromFile: '%s' ('%s')", file.c_str(), GetName().c_str());
    SetContextImage(context,
                    std::make_shared<Graphics>(FaceImagePath::Resolve(file), Graphics::Keep::FileBytes));
    UpdateGraphics(context);
}
