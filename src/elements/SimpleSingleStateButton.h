#pragma once
// A key with one image and one command. A command that the controller client
// does not accept shows the alert overlay. Threads and locks: as
// ControlElementBase (completions run under the manager's lock).

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "elements/ControlElementBase.h"

class SimpleSingleStateButton : public ControlElementBase {
public:
    SimpleSingleStateButton(const std::string& name, std::shared_ptr<ControllerClient> controllerClient,
                            const std::string& image, CommandBuilder command,
                            const nlohmann::json& defaultSettings);
    ~SimpleSingleStateButton() override;

    void HandleKeyDown(const std::string& context, const nlohmann::json& payload) override;

private:
    CommandBuilder m_command;
    std::shared_ptr<ControllerClient> m_controllerClient;
};
