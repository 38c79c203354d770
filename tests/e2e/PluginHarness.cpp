#include "e2e/PluginHarness.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <sstream>
#include <thread>

#include "graphics/Graphics.h"
#include "graphics/ResolveModulePath.h"
#include "support/PngDecoder.h"

using json = nlohmann::json;
using namespace std::chrono_literals;

namespace {

std::string PrivatePipeName() {
    static std::atomic<int> counter{0};
    std::random_device random;
    return "kestrel-e2e-" + std::to_string(random()) + "-" + std::to_string(++counter);
}

const std::string kImagePrefix = "data:image/png;base64,";

}  // namespace

PluginHarness::PluginHarness(HostFlavour host)
    : PluginHarness(host, BuiltProgramPath("kestrel-sdplugin"), {}, "en") {}

PluginHarness::PluginHarness(const std::string& language)
    : PluginHarness(HostFlavour(), BuiltProgramPath("kestrel-sdplugin"), {}, language) {}

PluginHarness::PluginHarness(const std::string& program, const EnvironmentOverrides& environment)
    : PluginHarness(HostFlavour(), program, environment, "en") {}

PluginHarness::PluginHarness(HostFlavour host, std::string program, EnvironmentOverrides environment,
                             std::string language)
    : m_hostFlavour(host),
      m_program(std::move(program)),
      m_environment(std::move(environment)),
      m_language(std::move(language)),
      m_pipeName(PrivatePipeName()),
      m_pipeOverride("KESTREL_CONTROLLER_PIPE", m_pipeName) {
    m_host.ReplayUndelivered(host.ReplaysUndelivered());
    StartPlugin();
}

void PluginHarness::StartPlugin() {
    std::string uuid = m_hostFlavour.PluginUUID("E2E-PLUGIN");
    std::string info =
        m_hostFlavour.IsOpenDeck()
            ? m_hostFlavour.InfoDocument("e2e", json::array({{{"id", "DEV1"}, {"type", 0}}})).dump()
            : json({{"application",
                     {{"language", m_language}, {"platform", "windows"}, {"version", "6.5.0"}}}})
                  .dump();
    m_latestImages.clear();
    EXPECT_TRUE(m_plugin.Start(m_program,
                               {"-port", std::to_string(m_host.Port()), "-pluginUUID", uuid, "-registerEvent",
                                "registerPlugin", "-info", info},
                               m_environment));
    EXPECT_TRUE(m_host.WaitForConnection(kWait)) << m_plugin.Output();
    auto registration = m_host.NextMessage(kWait);
    EXPECT_EQ(registration.value_or(""), json({{"event", "registerPlugin"}, {"uuid", uuid}}).dump());
}

void PluginHarness::KillPlugin() {
    m_plugin.Kill();
    EXPECT_TRUE(m_host.WaitForDisconnect(kWait));
    // Everything the plug-in said up to its end, so that the next start's
    // first message is its registration.
    DrainHost(0ms);
}

PluginHarness::~PluginHarness() {
    if (!m_hostClosed) {
        EXPECT_EQ(CloseHost(10s), 0) << m_plugin.Output();
    }
    if (m_controller) StopController();
}

void PluginHarness::StartController(bool signedIn) {
    m_controller = std::make_unique<ChildProcess>();
    m_controllerLinesSeen = 0;
    std::vector<std::string> arguments = {"--pipe", m_pipeName};
    if (signedIn) arguments.push_back("--signed-in");
    ASSERT_TRUE(m_controller->Start(BuiltProgramPath("controller-sim"), arguments));
    ASSERT_TRUE(m_controller->WaitForOutput("listening " + m_pipeName, kWait)) << m_controller->Output();
}

void PluginHarness::StopController() {
    if (!m_controller) return;
    for (auto& command : ControllerCommands()) m_pastControllerCommands.push_back(std::move(command));
    m_controller->WriteInput("quit\n");
    if (!m_controller->Wait(10s)) m_controller->Kill();
    m_controller.reset();
}

void PluginHarness::KillController() {
    if (!m_controller) return;
    m_controller->Kill();
    for (auto& command : ControllerCommands()) m_pastControllerCommands.push_back(std::move(command));
    m_controller.reset();
}

std::vector<json> PluginHarness::AllControllerCommands() {
    std::vector<json> commands = m_pastControllerCommands;
    for (auto& command : ControllerCommands()) commands.push_back(std::move(command));
    return commands;
}

const std::vector<json>& PluginHarness::HostCommands() {
    DrainHost(0ms);
    return m_hostCommands;
}

void PluginHarness::SendHostText(const std::string& text) {
    m_host.SendText(text);
}

std::optional<int> PluginHarness::CloseHost(std::chrono::milliseconds timeout) {
    m_hostClosed = true;
    m_host.Close();
    return m_plugin.Wait(timeout);
}

void PluginHarness::Control(const std::string& line) {
    ASSERT_TRUE(m_controller);
    ASSERT_TRUE(m_controller->WriteInput(line + "\n"));
}

void PluginHarness::Appear(const std::string& action, const std::string& context, const json& settings) {
    SendWillAppear(action, context, settings, "Keypad");
}

void PluginHarness::AppearOnDial(const std::string& action, const std::string& context,
                                 const json& settings) {
    SendWillAppear(action, context, settings, "Encoder");
}

void PluginHarness::SendWillAppear(const std::string& action, const std::string& context,
                                   const json& settings, const char* controller) {
    json willAppear = {{"event", "willAppear"},
                       {"action", action},
                       {"context", context},
                       {"device", "DEV1"},
                       {"payload",
                        {{"settings", settings},
                         {"coordinates", {{"column", 0}, {"row", 0}}},
                         {"controller", controller},
                         {"state", 0},
                         {"isInMultiAction", false}}}};
    m_host.SendText(willAppear.dump());
    if (m_hostFlavour.AnnouncesTitleParameters())
        m_host.SendText(HostFlavour::TitleParameters(willAppear, "").dump());
}

void PluginHarness::DialEvent(const std::string& event, const std::string& action, const std::string& context,
                              const json& members) {
    json payload = {{"settings", json::object()},
                    {"coordinates", {{"column", 0}, {"row", 0}}},
                    {"controller", "Encoder"}};
    payload.update(members);
    m_host.SendText(json{
        {"event", event}, {"action", action}, {"context", context}, {"device", "DEV1"}, {"payload", payload}}
                        .dump());
}

void PluginHarness::KeyDown(const std::string& action, const std::string& context, const json& settings) {
    PressKey(action, context, settings);
    ReleaseKey(action, context, settings);
}

namespace {

json KeyEvent(const char* event, const std::string& action, const std::string& context,
              const json& settings) {
    json payload = {{"settings", settings}, {"coordinates", {{"column", 0}, {"row", 0}}}, {"state", 0}};
    return {
        {"event", event}, {"action", action}, {"context", context}, {"device", "DEV1"}, {"payload", payload}};
}

}  // namespace

void PluginHarness::PressKey(const std::string& action, const std::string& context, const json& settings) {
    m_host.SendText(KeyEvent("keyDown", action, context, settings).dump());
}

void PluginHarness::ReleaseKey(const std::string& action, const std::string& context, const json& settings) {
    m_host.SendText(KeyEvent("keyUp", action, context, settings).dump());
}

void PluginHarness::SendToPlugin(const json& message) {
    m_host.SendText(message.dump());
}

void PluginHarness::DrainHost(std::chrono::milliseconds wait) {
    for (auto text = m_host.NextMessage(wait); text; text = m_host.NextMessage(0ms)) {
        json command = json::parse(*text, nullptr, false);
        if (command.is_discarded()) continue;
        if (command.value("event", "") == "setImage") {
            std::string image = command["payload"].value("image", "");
            if (image.rfind(kImagePrefix, 0) == 0) {
                m_latestImages[command.value("context", "")] = image.substr(kImagePrefix.size());
            }
        }
        m_hostCommands.push_back(std::move(command));
    }
}

std::optional<RgbaImage> PluginHarness::LatestImage(const std::string& context) {
    DrainHost(0ms);
    auto found = m_latestImages.find(context);
    if (found == m_latestImages.end()) return std::nullopt;
    return DecodeBase64Png(found->second);
}

std::optional<RgbaImage> PluginHarness::ImageOf(const json& command) {
    if (command.value("event", "") != "setImage") return std::nullopt;
    std::string image = command["payload"].value("image", "");
    if (image.rfind(kImagePrefix, 0) != 0) return std::nullopt;
    return DecodeBase64Png(image.substr(kImagePrefix.size()));
}

::testing::AssertionResult PluginHarness::WaitForImage(const std::string& context, const RgbaImage& expected,
                                                       std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        auto image = LatestImage(context);
        if (image && SameImage(*image, expected)) return ::testing::AssertionSuccess();
        if (std::chrono::steady_clock::now() >= deadline) {
            return ::testing::AssertionFailure()
                   << "key " << context << (image ? " shows another image" : " has no image");
        }
        DrainHost(50ms);
    }
}

std::optional<json> PluginHarness::WaitForHostCommand(const std::function<bool(const json&)>& match,
                                                      std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        DrainHost(0ms);
        while (m_hostCommandsSeen < m_hostCommands.size()) {
            const json& command = m_hostCommands[m_hostCommandsSeen++];
            if (match(command)) return command;
        }
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        DrainHost(50ms);
    }
}

std::vector<json> PluginHarness::ControllerCommands() {
    std::vector<json> commands;
    if (!m_controller) return commands;
    std::istringstream lines(m_controller->Output());
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] != '{') continue;
        // Only commands: the stand-in prints what it could not parse as
        // {"unparsed": …}, which callers must not mistake for one.
        static const json::json_pointer kName("/payload/command/name");
        json document = json::parse(line, nullptr, false);
        if (!document.is_discarded() && document.contains(kName)) commands.push_back(std::move(document));
    }
    return commands;
}

std::optional<json> PluginHarness::WaitForControllerCommand(const std::string& name,
                                                            std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        std::vector<json> commands = ControllerCommands();
        while (m_controllerLinesSeen < commands.size()) {
            const json& command = commands[m_controllerLinesSeen++];
            if (command["payload"]["command"].value("name", "") == name) return command;
        }
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(20ms);
    }
}

RgbaImage ExpectedKeyImage(const std::string& base, const std::vector<std::string>& overlays) {
    Graphics image(ResolveModulePath(base));
    for (const auto& overlay : overlays) image.Compose(Graphics(ResolveModulePath(overlay)));
    std::string encoded;
    EXPECT_TRUE(image.ToBase64Png(encoded)) << base;
    return DecodeBase64Png(encoded).value_or(RgbaImage{});
}

bool ShowsOverlay(const RgbaImage& key, const std::string& overlay) {
    static std::map<std::string, RgbaImage> overlays;
    auto found = overlays.find(overlay);
    if (found == overlays.end()) {
        Graphics file(ResolveModulePath(overlay));
        std::string encoded;
        EXPECT_TRUE(file.ToBase64Png(encoded)) << overlay;
        found = overlays.emplace(overlay, DecodeBase64Png(encoded).value_or(RgbaImage{})).first;
    }
    const RgbaImage& mark = found->second;
    if (mark.width != key.width || mark.height != key.height || mark.width == 0) return false;
    size_t opaque = 0, matching = 0;
    for (unsigned y = 0; y < mark.height; ++y) {
        for (unsigned x = 0; x < mark.width; ++x) {
            RgbaImage::Pixel m = mark.At(x, y), k = key.At(x, y);
            if (m[3] != 255) continue;
            ++opaque;
            bool same = true;
            for (int c = 0; c < 3; ++c) same = same && std::abs(int(m[c]) - int(k[c])) <= 8;
            matching += same;
        }
    }
    return opaque > 0 && matching * 100 >= opaque * 98;
}

bool SameImage(const RgbaImage& a, const RgbaImage& b, int tolerance) {
    if (a.width != b.width || a.height != b.height || a.pixels.size() != b.pixels.size()) return false;
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        if (std::abs(int(a.pixels[i]) - int(b.pixels[i])) > tolerance) return false;
    }
    return true;
}
