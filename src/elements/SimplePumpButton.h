#pragma once
// A key whose repeated presses raise a level shown on the key; one second
// after the last press the timer tick sends the command of the level reached
// and the key returns to idle. The level is per element: presses on different
// keys of the action add up, and the command names the last pressed key.
// Threads and locks: as ControlElementBase (key presses and ticks under the
// manager's lock; completions take it).

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "elements/ControlElementBase.h"

class SimplePumpButton : public ControlElementBase {
public:
    static constexpr double kBurstEndSeconds = 1.0;

    // |commands| gives the number of levels; |titles| and |images| may be shorter.
    SimplePumpButton(const std::string& name, std::shared_ptr<ControllerClient> controllerClient,
                     const std::string& idleImage, std::vector<std::string> titles,
                     std::vector<std::string> images, std::vector<CommandBuilder> commands);
    ~SimplePumpButton() override;

    void HandleKeyDown(const std::string& context, const nlohmann::json& payload) override;
    void HandleTimerTick() override;
    // Also while a burst of presses waits to be sent.
    bool HasTimerWork() const override;

    // -1 when idle.
    int32_t GetLevel() const { return m_level; }

protected:
    // Presses add up to a level, so a hold would change what a press means:
    // the pump acts on every press whatever its key's settings say.
    bool AllowsHoldToConfirm() const override { return false; }

private:
    void SendLevel();

    int32_t m_level = -1;
    std::string m_idleImage;
    std::vector<std::string> m_titles;
    std::vector<std::string> m_images;
    std::vector<CommandBuilder> m_commands;
    std::shared_ptr<ControllerClient> m_controllerClient;
    std::string m_lastContext;
    std::chrono::steady_clock::time_point m_lastPress;
};
