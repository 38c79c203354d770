#include "e2e/FaultSupport.h"

#include <cstdlib>
#include <map>
#include <set>
#include <thread>

#include "controller-sim/ControllerModel.h"
#include "support/PngDecoder.h"

using json = nlohmann::json;
using namespace std::chrono_literals;

namespace faults {

// The simulator supports every action of the catalogue.
const std::vector<std::string> kActions = ControllerModel::ActionIds();

std::string ContextOf(const std::string& action) {
    return "ctx-" + action.substr(action.rfind('.') + 1);
}

namespace {
// A second key of a plain action, pressed only to learn when the presses made
// before it have been handled (commands reach the controller in press order).
const std::string kProbeAction = "com.vantora.kestrel.media-request-next-item";
const std::string kProbeContext = "ctx-usable-probe";
const std::string kPumpAction = "com.vantora.kestrel.emberfall-pump";
}  // namespace

void ShowEveryKey(PluginHarness& plugin) {
    for (const auto& action : kActions) plugin.Appear(action, ContextOf(action));
    plugin.Appear(kProbeAction, kProbeContext);
}

size_t CommandsFrom(const std::vector<json>& commands, const std::string& context) {
    size_t count = 0;
    for (const auto& command : commands) {
        const json& element = command["source"]["element"];
        count += element.is_object() && element.value("id", "") == context;
    }
    return count;
}

::testing::AssertionResult EveryKeyUsable(PluginHarness& plugin, std::chrono::milliseconds timeout) {
    std::map<std::string, size_t> before;
    const auto commands = plugin.AllControllerCommands();
    for (const auto& action : kActions) before[action] = CommandsFrom(commands, ContextOf(action));
    std::set<std::string> waiting(kActions.begin(), kActions.end());
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!waiting.empty()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            std::string names;
            for (const auto& action : waiting) names += " " + action;
            return ::testing::AssertionFailure() << "keys without effect:" << names;
        }
        for (const auto& action : waiting) plugin.KeyDown(action, ContextOf(action));
        const size_t pressed = waiting.size();
        const size_t probesBefore = CommandsFrom(plugin.AllControllerCommands(), kProbeContext);
        // The pump sends about a second after its last press, so a round
        // lasts up to 2.5 s. While none of its presses has arrived, a probe
        // is pressed now and then; once a probe arrives first, the round's
        // presses (but the pump's) were dropped, say because the link was not
        // up yet, and the next round begins at once.
        bool dropped = false;
        auto now = std::chrono::steady_clock::now();
        const auto round = now + 2500ms;
        auto nextProbe = now;
        while (!waiting.empty() && !dropped && now < round) {
            if (waiting.size() == pressed && now >= nextProbe) {
                plugin.KeyDown(kProbeAction, kProbeContext);
                nextProbe = now + 300ms;
            }
            std::this_thread::sleep_for(100ms);
            const auto arrived = plugin.AllControllerCommands();
            for (auto it = waiting.begin(); it != waiting.end();) {
                it = CommandsFrom(arrived, ContextOf(*it)) > before[*it] ? waiting.erase(it) : std::next(it);
            }
            const bool onlyPump = waiting.size() == 1 && *waiting.begin() == kPumpAction;
            dropped =
                waiting.size() == pressed && !onlyPump && CommandsFrom(arrived, kProbeContext) > probesBefore;
            now = std::chrono::steady_clock::now();
        }
        // A later probe may still be on its way; it must not end the next round.
        if (dropped) std::this_thread::sleep_for(300ms);
    }
    return ::testing::AssertionSuccess();
}

std::optional<json> WaitForCommandFrom(PluginHarness& plugin, const std::string& context,
                                       std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
        for (const auto& command : plugin.AllControllerCommands()) {
            if (CommandsFrom({command}, context) == 1) return command;
        }
        std::this_thread::sleep_for(50ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return std::nullopt;
}

size_t AlertMarks(PluginHarness& plugin, const std::string& context) {
    size_t marks = 0;
    bool shown = false;
    for (const auto& command : plugin.HostCommands()) {
        if (command.value("event", "") != "setImage" || command.value("context", "") != context) continue;
        std::string image = command["payload"].value("image", "");
        auto comma = image.find(',');
        auto decoded = DecodeBase64Png(comma == std::string::npos ? image : image.substr(comma + 1));
        bool alert = decoded && ShowsOverlay(*decoded, "state_alert.png");
        marks += alert && !shown;
        shown = alert;
    }
    return marks;
}

size_t PressFor(PluginHarness& plugin, std::chrono::milliseconds duration, const std::string& counted) {
    static size_t next = 0;
    size_t presses = 0;
    auto end = std::chrono::steady_clock::now() + duration;
    auto due = std::chrono::steady_clock::now();
    while (due < end) {
        std::this_thread::sleep_until(due);
        // Every other press goes to the counted key, the rest round the deck.
        const std::string& action = next % 2 == 0 ? counted : kActions[(next / 2) % kActions.size()];
        ++next;
        plugin.KeyDown(action, ContextOf(action));
        presses += action == counted;
        due += 20ms;
    }
    return presses;
}

std::chrono::milliseconds QuickExitLimit() {
#if defined(__SANITIZE_THREAD__)
    return 10s;
#else
    return 5s;
#endif
}

void ExpectBounded(const ChildProcess::Usage& before, const ChildProcess::Usage& after,
                   size_t extraMegabytes) {
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer's shadow and access history grow with every allocation
    // the plug-in touches, several times what the plug-in itself holds; an
    // unbounded queue still breaks three times the bound.
    extraMegabytes *= 3;
#endif
    EXPECT_LE(after.residentBytes, before.residentBytes + extraMegabytes * 1024 * 1024)
        << "resident memory grew from " << before.residentBytes << " to " << after.residentBytes;
    EXPECT_LE(after.threads, before.threads + 2) << "threads grew from " << before.threads;
    EXPECT_LE(after.handles, before.handles + 4) << "handles grew from " << before.handles;
}

namespace {
std::string QuarantineOptions() {
    const char* options = std::getenv("ASAN_OPTIONS");
    std::string value = options ? options : "";
    return value + (value.empty() ? "" : ":") + "quarantine_size_mb=8";
}
}  // namespace

SmallQuarantine::SmallQuarantine() : m_options("ASAN_OPTIONS", QuarantineOptions()) {}

}  // namespace faults
