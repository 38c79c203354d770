#pragma once
// A key with one command whose image each context chooses from its own
// settings (the volume level key). A command that the controller client does
// not accept shows the alert overlay. Threads and locks: as ControlElementBase.

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "elements/ControlElementBase.h"

class SimpleDynamicImageButton : public ControlElementBase {
public:
    SimpleDynamicImageButton(const std::string& name, std::shared_ptr<ControllerClient> controllerClient,
                             ImageChooser imageChooser, CommandBuilder command,
                             const nlohmann::json& defaultSettings);
    ~SimpleDynamicImageButton() override;

    void HandleKeyDown(const std::string& context, const nlohmann::json& payload) override;
    // Also gives the context the image that its settings choose.
    void HandleReceivedSettings(const std::string& context, const nlohmann::json& payload) override;

private:
    CommandBuilder m_command;
    std::shared_ptr<ControllerClient> m_controllerClient;
    ImageChooser m_imageChooser;
};
