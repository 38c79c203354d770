#include "elements/SimplePumpButton.h"

#include <algorithm>

#include "controller/ControllerClient.h"

using json = nlohmann::json;

SimplePumpButton::SimplePumpButton(const std::string& name,
                                   std::shared_ptr<ControllerClient> controllerClient,
                                   const std::string& idleImage, std::vector<std::string> titles,
                                   std::vector<std::string> images, std::vector<CommandBuilder> commands)
    : ControlElementBase(name, json::object()),
      m_idleImage(idleImage),
      m_titles(std::move(titles)),
      m_images(std::move(images)),
      m_commands(std::move(commands)),
      m_controllerClient(std::move(controllerClient)),
      m_lastPress(std::chrono::steady_clock::now()) {
    SetImageFromFile(m_idleImage);
}

SimplePumpButton::~SimplePumpButton() = default;

void SimplePumpButton::HandleKeyDown(const std::string& context, const json&) {
    m_lastContext = context;
    m_level = std::min(m_level + 1, static_cast<int32_t>(m_commands.size()) - 1);
    m_lastPress = std::chrono::steady_clock::now();
    if (m_level < static_cast<int32_t>(m_titles.size())) SetTitleForAllContexts(m_titles[m_level]);
    if (m_level < static_cast<int32_t>(m_images.size())) SetImageFromFile(m_images[m_level]);
}

bool SimplePumpButton::HasTimerWork() const {
    return m_level >= 0 || ControlElementBase::HasTimerWork();
}

void SimplePumpButton::HandleTimerTick() {
    ControlElementBase::HandleTimerTick();
    if (m_level < 0) return;
    const double sincePress =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_lastPress).count();
    if (sincePress >= kBurstEndSeconds) SendLevel();
}

void SimplePumpButton::SendLevel() {
    // The pump's commands read no settings: the element's defaults.
    const json settings = GetContextSettings("", json());
    std::shared_ptr<MessageBase> message = BuildCommand(m_lastContext, m_commands.at(m_level), settings);
    m_level = -1;
    if (!m_images.empty()) SetImageFromFile(m_idleImage);
    m_controllerClient->WriteMessageAsync(message, MakeCompletion([this](bool accepted) {
                                              if (!accepted) {
                                                  ShowAlertOverlay();
                                                  return;
                                              }
                                              SetTitleForAllContexts("");
                                              ShowSuccessOverlay();
                                          }));
}
