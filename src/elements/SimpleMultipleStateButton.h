#pragma once
// A key that follows a feature's state as the controller reports it: each
// state has its image and the command that a press sends in that state. The
// state is per element: every key of the action shows the same state. With
// two host states, the host keeps each key's state in step with it, and a
// Multi Action step that names the state it wants sends the command that
// brings the function there, whatever the key showed.
// Threads and locks: as ControlElementBase (completions run under the
// manager's lock).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "elements/ControlElementBase.h"

class SimpleMultipleStateButton : public ControlElementBase {
public:
    // |images|, |states| and |commands| are parallel and not empty; with
    // |twoHostStates| they have two entries, host state i being state i.
    SimpleMultipleStateButton(const std::string& name, std::shared_ptr<ControllerClient> controllerClient,
                              std::vector<std::string> images, std::vector<std::string> states,
                              bool advanceOnSuccess, std::vector<CommandBuilder> commands,
                              bool twoHostStates = false);
    ~SimpleMultipleStateButton() override;

    void HandleKeyDown(const std::string& context, const nlohmann::json& payload) override;
    // Also follows "SYS$REPORT:STATE:FUNCTION" reports naming this element.
    void HandleEventMessage(const EventMessage& event) override;

    int32_t GetStateIndex() const { return m_stateIndex; }

private:
    void OnCommandFinished(bool accepted);
    void ShowState(int32_t index);
    // The state whose command a press sends; nothing for a step whose
    // picked state cannot be read.
    std::optional<int32_t> CommandIndex(const nlohmann::json& payload) const;

    int32_t m_stateIndex = 0;
    std::vector<std::string> m_images;
    std::vector<std::string> m_states;
    bool m_advanceOnSuccess;
    std::vector<CommandBuilder> m_commands;
    std::shared_ptr<ControllerClient> m_controllerClient;
    bool m_twoHostStates;
};
