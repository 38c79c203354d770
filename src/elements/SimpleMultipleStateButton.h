#pragma once
// A key that follows a feature's state as the controller reports it: each
// state has its image and the command that a press sends in that state. The
// state is per element: every key of the action shows the same state.
// Threads and locks: as ControlElementBase (completions run under the
// manager's lock).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "elements/ControlElementBase.h"

class SimpleMultipleStateButton : public ControlElementBase {
public:
    // |images|, |states| and |commands| are parallel and not empty.
    SimpleMultipleStateButton(const std::string& name, std::shared_ptr<ControllerClient> controllerClient,
                              std::vector<std::string> images, std::vector<std::string> states,
                              bool advanceOnSuccess, std::vector<CommandBuilder> commands);
    ~SimpleMultipleStateButton() override;

    void HandleKeyDown(const std::string& context, const nlohmann::json& payload) override;
    // Also follows "SYS$REPORT:STATE:FUNCTION" reports naming this element.
    void HandleEventMessage(const EventMessage& event) override;

    int32_t GetStateIndex() const { return m_stateIndex; }

private:
    void OnCommandFinished(bool accepted);

    int32_t m_stateIndex = 0;
    std::vector<std::string> m_images;
    std::vector<std::string> m_states;
    bool m_advanceOnSuccess;
    std::vector<CommandBuilder> m_commands;
    std::shared_ptr<ControllerClient> m_controllerClient;
};
