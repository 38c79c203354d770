// held_keys_bench: how long a plain key press waits while many keys are held
// to confirm. The catalogue's elements under the element manager with its real
// timer, a host connection that drops what it is sent, and the controller
// client over a link that takes every write. The held keys all belong to one
// action (the worst case: one element's tick draws them). A press is timed
// from SignalKeyDown until it returns, its command queued; it waits for the
// manager's lock while a tick draws held keys.
// Goal: with 100 keys held, the 99th percentile within 20 ms.
// Usage: held_keys_bench [held keys ...]   (default: 0 100; 2000 takes minutes,
// most of it pressing and letting go of the held keys one by one)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Samples.h"
#include "catalogue/ActionCatalogue.h"
#include "controller/ControllerClient.h"
#include "controller/ElementAddress.h"
#include "controller/Messages.h"
#include "controller/NetworkClientBase.h"
#include "elements/CatalogueElements.h"
#include "elements/ControlElementsManager.h"
#include "graphics/GraphicsSession.h"
#include "host/ESDConnectionManager.h"

using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

// A controller link that is always up and takes every write.
class TakingLink : public NetworkClientBase {
public:
    bool Connect() override { return true; }
    void Disconnect() override {}
    bool IsConnected() override { return true; }
    bool Write(const char*, uint32_t) override { return true; }
};

EventMessage Report(const char* name, json data) {
    auto source = std::make_shared<ElementAddress>(ElementAddress::kNetworkClient, "controllerClient",
                                                   "controllerClient");
    return EventMessage(name, source, std::move(data));
}

// One round: |held| keys pressed and held (2 s holds), then plain presses
// every 10 ms for 1.5 s; then every key is let go. Adds the presses' times in ms.
void Round(ControlElementsManager& manager, const std::string& heldAction, const std::string& plainAction,
           int held, Samples& samples) {
    for (int i = 0; i < held; ++i) manager.SignalKeyDown(heldAction, "H" + std::to_string(i), json::object());
    const auto end = Clock::now() + std::chrono::milliseconds(1500);
    while (Clock::now() < end) {
        const auto pressed = Clock::now();
        manager.SignalKeyDown(plainAction, "P", json::object());
        samples.Add(std::chrono::duration<double, std::milli>(Clock::now() - pressed).count());
        manager.SignalKeyUp(plainAction, "P", json::object());
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    for (int i = 0; i < held; ++i) manager.SignalKeyUp(heldAction, "H" + std::to_string(i), json::object());
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // the hints end and are drawn away
}

void Measure(int held) {
    ESDConnectionManager host([](const std::string&) {});
    auto client = std::make_shared<ControllerClient>(std::make_shared<TakingLink>(), nullptr);
    client->Start();
    auto manager = std::make_unique<ControlElementsManager>();
    BuildActionCatalogue(*manager, client);
    const std::string heldAction = std::string(kActionPrefix) + "alerts-skip";
    const std::string plainAction = std::string(kActionPrefix) + "overlays-reload";
    const json holds = {{"settings", {{"hold_to_confirm", true}, {"hold_seconds", 2}}}};
    for (int i = 0; i < held; ++i) manager->AddSdContext(heldAction, &host, "H" + std::to_string(i), holds);
    manager->AddSdContext(plainAction, &host, "P", json::object());
    manager->SignalEventMessage(Report(SystemMessages::kConnected, nullptr));
    manager->SignalEventMessage(Report(SystemMessages::kReportState, {{"isSignedIn", true}}));
    manager->SignalEventMessage(
        Report(SystemMessages::kSupportFunctions, {{heldAction, true}, {plainAction, true}}));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the first draws are done

    Samples samples;
    for (int round = 0; round < 3; ++round) Round(*manager, heldAction, plainAction, held, samples);
    std::printf("%6d keys held: plain press median %.2f ms, p99 %.2f ms, max %.2f ms (%zu presses)\n", held,
                samples.Median(), samples.Percentile(99), samples.Max(), samples.Count());
    client->Stop();  // before the elements go, never under the manager's lock
    manager.reset();
}

}  // namespace

int main(int argc, char** argv) {
    GraphicsSession graphics;
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i) counts.push_back(std::atoi(argv[i]));
    if (counts.empty()) counts = {0, 100};
    for (int held : counts) Measure(held);
    return 0;
}
