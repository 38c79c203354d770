#pragma once
// Runs the real plug-in executable the way the Stream Deck application does,
// against a stand-in host (a WebSocket server in the test) and the reference
// controller server (tools/controller-sim) on a private pipe name.
//
// Threads: the host server runs its own thread; everything here is called
// from the test thread.

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/ChildProcess.h"
#include "support/HostFlavour.h"
#include "support/HostStandIn.h"
#include "support/RgbaImage.h"
#include "support/ScopedEnvironment.h"

class PluginHarness {
public:
    static constexpr std::chrono::milliseconds kWait{30000};

    // Starts the plug-in as |host| does (the controller simulator is not
    // running yet) and waits for its registration.
    explicit PluginHarness(HostFlavour host = HostFlavour());
    // The same as the Stream Deck application whose -info names |language|
    // as the host application's language.
    explicit PluginHarness(const std::string& language);
    // The same with the executable at |program| (an installed copy) and the
    // plug-in's environment changed by |environment|.
    PluginHarness(const std::string& program, const EnvironmentOverrides& environment);
    // Closes the host link and expects the plug-in to exit with 0.
    ~PluginHarness();

    // Kills the plug-in, as a crash would, and waits until the host sees it gone.
    void KillPlugin();
    // Starts the plug-in again and waits for its registration; images it sent before are forgotten.
    void StartPlugin();

    // Starts the controller simulator on the plug-in's pipe; waits until it listens.
    void StartController(bool signedIn);
    // Ends the controller simulator (the plug-in sees its link drop).
    void StopController();
    // Kills the controller simulator abruptly, as a crash of the server would.
    void KillController();
    // Writes one control line to the controller simulator.
    void Control(const std::string& line);

    // willAppear, and the titleParametersDidChange after it where the host sends one.
    void Appear(const std::string& action, const std::string& context,
                const nlohmann::json& settings = nlohmann::json::object());
    // willAppear of a dial (Stream Deck +), and a dial event of it ("dialRotate",
    // "dialDown", "dialUp", "touchTap") with |members| added to its payload.
    void AppearOnDial(const std::string& action, const std::string& context,
                      const nlohmann::json& settings = nlohmann::json::object());
    void DialEvent(const std::string& event, const std::string& action, const std::string& context,
                   const nlohmann::json& members = nlohmann::json::object());
    void KeyDown(const std::string& action, const std::string& context,
                 const nlohmann::json& settings = nlohmann::json::object());
    // A key down alone, and its key up: a key held for as long as the test waits.
    void PressKey(const std::string& action, const std::string& context,
                  const nlohmann::json& settings = nlohmann::json::object());
    void ReleaseKey(const std::string& action, const std::string& context,
                    const nlohmann::json& settings = nlohmann::json::object());
    void SendToPlugin(const nlohmann::json& message);
    // Sends |text| to the plug-in as one text message, whatever it holds.
    void SendHostText(const std::string& text);
    // The stand-in host stops reading the plug-in's commands, as a hung host
    // would; resume only after the plug-in has sent something since.
    void PauseHostReading() { m_host.PauseReading(); }
    void ResumeHostReading() { m_host.ResumeReading(); }
    // Closes the host link and waits up to |timeout| for the plug-in to end;
    // its exit status, or nothing while it still runs.
    std::optional<int> CloseHost(std::chrono::milliseconds timeout);
    // The plug-in's current memory, threads and handles; nothing once it has ended.
    std::optional<ChildProcess::Usage> PluginUsage() const { return m_plugin.Sample(); }

    // Waits until the latest image that the host received for |context|
    // matches |expected| (a few units of rounding allowed).
    ::testing::AssertionResult WaitForImage(const std::string& context, const RgbaImage& expected,
                                            std::chrono::milliseconds timeout = kWait);
    // The latest image the host received for |context|, if any.
    std::optional<RgbaImage> LatestImage(const std::string& context);
    // The image a "setImage" command carries, decoded; none for other commands.
    static std::optional<RgbaImage> ImageOf(const nlohmann::json& command);

    // The next host command (after those already seen) satisfying |match|.
    std::optional<nlohmann::json> WaitForHostCommand(const std::function<bool(const nlohmann::json&)>& match,
                                                     std::chrono::milliseconds timeout = kWait);

    // The next message (after those already seen) the controller received
    // whose command name is |name|; nothing on time-out.
    std::optional<nlohmann::json> WaitForControllerCommand(const std::string& name,
                                                           std::chrono::milliseconds timeout = kWait);
    // Every command document the controller received so far.
    std::vector<nlohmann::json> ControllerCommands();
    // The same across every controller simulator of this harness, stopped or killed ones included.
    std::vector<nlohmann::json> AllControllerCommands();
    // Every command the host received so far, in order.
    const std::vector<nlohmann::json>& HostCommands();

    std::string PluginOutput() const { return m_plugin.Output(); }

private:
    void SendWillAppear(const std::string& action, const std::string& context, const nlohmann::json& settings,
                        const char* controller);
    void DrainHost(std::chrono::milliseconds wait);

    PluginHarness(HostFlavour host, std::string program, EnvironmentOverrides environment,
                  std::string language);

    HostFlavour m_hostFlavour;
    std::string m_program;               // the executable that StartPlugin starts
    EnvironmentOverrides m_environment;  // its environment's changes
    std::string m_language;              // the host application's language in -info
    std::string m_pipeName;
    ScopedEnvironment m_pipeOverride;
    HostStandIn m_host;
    ChildProcess m_plugin;
    std::unique_ptr<ChildProcess> m_controller;
    size_t m_controllerLinesSeen = 0;
    std::vector<nlohmann::json> m_pastControllerCommands;  // of simulators that have ended
    bool m_hostClosed = false;
    std::vector<nlohmann::json> m_hostCommands;
    size_t m_hostCommandsSeen = 0;
    std::map<std::string, std::string> m_latestImages;  // context -> Base64 PNG
};

// The image the plug-in should show: |base| (a plug-in folder file) with the
// given overlay files drawn over it, in order, as a decoded picture.
RgbaImage ExpectedKeyImage(const std::string& base, const std::vector<std::string>& overlays = {});

// True when |key| shows the overlay file |overlay| on top: wherever the
// overlay is opaque, the key has the overlay's colour.
bool ShowsOverlay(const RgbaImage& key, const std::string& overlay);

// True when both pictures have the same size and differ by at most |tolerance| per channel.
bool SameImage(const RgbaImage& a, const RgbaImage& b, int tolerance = 3);
