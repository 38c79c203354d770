#include "telemetry/TelemetryService.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "Version.h"
#include "diagnostics/CrashReportThread.h"
#include "diagnostics/Log.h"
#include "telemetry/HttpPost.h"
#include "telemetry/MachineId.h"
#include "telemetry/SystemSources.h"

namespace {

constexpr int kWorkerCount = 4;
// Events are few (start, stop, controller link changes); a collector that
// does not keep up must not make them pile up without end.
constexpr size_t kQueueLimit = 64;
// What a service's destruction gives the workers for the events still queued.
constexpr auto kDrainLimit = std::chrono::seconds(3);
// How long the process-wide service's events wait for the streamer's choice:
// the plug-in asks the host for it right after registering, and a host that
// never answers must not hold the events back for good.
constexpr auto kChoiceWait = std::chrono::seconds(5);
// The exit sequence splits the same time: the queued events first, then the
// last event, which is posted after the exit's last log record.
constexpr auto kExitDrainLimit = std::chrono::seconds(2);
using Clock = HttpPostDeadline::Clock;
constexpr uint64_t kNanosecondsPerSecond = 1000000000ull;
constexpr char kContentType[] = "application/json";

// The process-wide holder. Never destroyed: threads that outlive main() may
// still send events after the exit sequence has shut the service down.
struct Holder {
    std::mutex mutex;  // guards creation and shutDown; service is also read without it
    std::shared_ptr<TelemetryService> service;
    bool shutDown = false;
    Clock::time_point lastEventEnd;  // once shut down: when SendLastEvent gives up
};

Holder& TheHolder() {
    static Holder* holder = new Holder;
    return *holder;
}

// Seconds as signed decimal text of their low 32 bits.
std::string SecondsText(uint64_t nanoseconds) {
    uint64_t seconds = nanoseconds / kNanosecondsPerSecond;
    return std::to_string(static_cast<int32_t>(static_cast<uint32_t>(seconds)));
}

void Post(const std::string& url, const std::string& body, const HttpPostLimits& limits) {
    try {
        HttpPost(url, kContentType, body, limits);
    } catch (const std::exception&) {
        // Delivery is fire-and-forget: a failed post is dropped.
    }
}

}  // namespace

enum class Choice { Pending, On, Off };

// A queued event's body; the start event is kept when others can be pushed out.
struct Job {
    std::string body;
    bool start = false;
};

struct TelemetryService::State {
    TelemetrySettings settings;
    uint64_t startTime = 0;
    std::atomic<uint64_t> previousEventTime{0};  // read and replaced as one value
    std::string sessionId;
    std::string hostMachineId;
    std::atomic<Choice> choice{Choice::Pending};  // written under mutex
    Clock::time_point choiceWaitEnd;              // while Pending, events wait until then

    std::mutex mutex;  // guards the queue, stopping, drainEnd and the two counts
    std::condition_variable wake;
    std::deque<Job> queue;  // bodies waiting for a worker, oldest first
    bool stopping = false;
    Clock::time_point drainEnd;     // once stopping: when the workers give up
    size_t droppedFull = 0;         // pushed out of the full queue
    size_t droppedLate = 0;         // not posted by the drain's end
    HttpPostDeadline postDeadline;  // the workers' posts end by it; Stop brings it forward

    std::vector<std::thread> workers;
};

std::shared_ptr<TelemetryService> TelemetryService::Instance() {
    Holder& holder = TheHolder();
    if (auto service = std::atomic_load(&holder.service)) return service;
    std::lock_guard<std::mutex> lock(holder.mutex);
    if (auto service = std::atomic_load(&holder.service)) return service;
    // After the shut-down a late first caller gets a service that sends nothing.
    TelemetrySettings settings = holder.shutDown ? TelemetrySettings{} : ReadTelemetrySettings();
    settings.choiceWait = kChoiceWait;
    auto service = Create(settings);
    std::atomic_store(&holder.service, service);
    return service;
}

void TelemetryService::ShutDown() {
    Holder& holder = TheHolder();
    std::shared_ptr<TelemetryService> service;
    {
        std::lock_guard<std::mutex> lock(holder.mutex);
        if (holder.shutDown) return;
        holder.shutDown = true;
        holder.lastEventEnd = Clock::now() + kDrainLimit;
        service = std::atomic_load(&holder.service);
    }
    if (service) service->Stop(kExitDrainLimit);
}

void TelemetryService::SendLastEvent(const char* name) {
    Holder& holder = TheHolder();
    std::shared_ptr<TelemetryService> service;
    Clock::time_point end;
    {
        std::lock_guard<std::mutex> lock(holder.mutex);
        if (!holder.shutDown) return;
        service = std::atomic_load(&holder.service);
        end = holder.lastEventEnd;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (!service || name == nullptr || !service->m_state->settings.enabled || !service->UserAllows() ||
        left.count() <= 0)
        return;
    HttpPostLimits limits;
    limits.overall = left;
    Post(service->m_state->settings.collectorUrl, service->BuildBody(name, nlohmann::json::object()), limits);
}

std::shared_ptr<TelemetryService> TelemetryService::Create(const TelemetrySettings& settings) {
    return std::shared_ptr<TelemetryService>(new TelemetryService(settings));
}

TelemetryService::TelemetryService(const TelemetrySettings& settings) : m_state(std::make_unique<State>()) {
    State& state = *m_state;
    state.settings = settings;
    state.startTime = ClockNanoseconds();
    state.previousEventTime = state.startTime;
    state.choiceWaitEnd = Clock::now() + settings.choiceWait;
    // With telemetry off nothing identifying is made or stored, and no thread runs.
    if (!settings.enabled) return;
    state.sessionId = NewGuidText();
    state.hostMachineId = GetMachineId();
    for (int i = 0; i < kWorkerCount; ++i) state.workers.emplace_back([this] { WorkerThreadProc(); });
}

TelemetryService::~TelemetryService() {
    Stop(kDrainLimit);
}

void TelemetryService::Stop(std::chrono::milliseconds drain) {
    State& state = *m_state;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.stopping) return;
        state.stopping = true;
        state.drainEnd = Clock::now() + drain;
        state.postDeadline.BringForward(state.drainEnd);  // cuts the posts under way short too
    }
    state.wake.notify_all();
    for (std::thread& worker : state.workers) {
        if (worker.joinable()) worker.join();
    }
    size_t full = 0, late = 0;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.droppedLate += state.queue.size();
        state.queue.clear();
        full = state.droppedFull;
        late = state.droppedLate;
    }
    if (full + late == 0) return;
    LogWarning(
        "TelemetryService::Stop: %s events dropped: %s pushed out of the full queue, %s not posted "
        "within the %d s given at exit",
        std::to_string(full + late).c_str(), std::to_string(full).c_str(), std::to_string(late).c_str(),
        static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(drain).count()));
}

void TelemetryService::SendEvent(const char* name, bool synchronous, const nlohmann::json& properties) {
    if (name == nullptr || !m_state->settings.enabled || !UserAllows()) return;
    std::string body = BuildBody(name, properties);
    if (synchronous) {
        Post(m_state->settings.collectorUrl, body, HttpPostLimits{});
        return;
    }
    Enqueue(std::move(body), std::strcmp(name, kStartEvent) == 0);
}

void TelemetryService::Enqueue(std::string body, bool start) {
    State& state = *m_state;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.choice == Choice::Off) return;  // switched off since SendEvent looked
        if (state.stopping) {
            ++state.droppedLate;  // no worker takes new jobs once the drain began
            return;
        }
        if (state.queue.size() >= kQueueLimit) {
            // The oldest goes, but the start event last: it is the one that
            // tells the collector a session began.
            auto oldest = std::find_if(state.queue.begin(), state.queue.end(),
                                       [](const Job& job) { return !job.start; });
            state.queue.erase(oldest == state.queue.end() ? state.queue.begin() : oldest);
            ++state.droppedFull;
        }
        state.queue.push_back(Job{std::move(body), start});
    }
    state.wake.notify_one();
}

std::string TelemetryService::BuildBody(const char* name, const nlohmann::json& properties) {
    State& state = *m_state;
    nlohmann::json document = properties.is_object() ? properties : nlohmann::json::object();

    // Reading the clock after loading the previous time, and replacing it only
    // if no other event did so meanwhile, keeps "now" at or after it.
    uint64_t previous = state.previousEventTime.load();
    uint64_t now = 0;
    do {
        now = ClockNanoseconds();
    } while (!state.previousEventTime.compare_exchange_weak(previous, now));
    uint64_t sinceStart = now > state.startTime ? now - state.startTime : 0;
    uint64_t sincePrevious = now > previous ? now - previous : 0;

    nlohmann::json fields = nlohmann::json::array();
    fields.push_back(nlohmann::json::array({"plugin_version", kPluginVersion}));
    fields.push_back(nlohmann::json::array({"seconds_since_start", SecondsText(sinceStart)}));
    fields.push_back(nlohmann::json::array({"seconds_since_previous_event", SecondsText(sincePrevious)}));

    document["feature"] = "streamdeck_kestrel_plugin";
    document["name"] = name;
    document["sessionId"] = state.sessionId;
    document["hostMachineId"] = state.hostMachineId;
    document["_meta"] = {{"mobile", false}, {"os", OperatingSystemName()}, {"platform", "desktop"}};
    document["fields"] = fields;
    // Text that is not UTF-8 (a crash message, say) is replaced, not raised.
    return "[" + document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "]";
}

void TelemetryService::SetUserChoice(bool allowed) {
    State& state = *m_state;
    size_t dropped = 0;
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        const Choice choice = allowed ? Choice::On : Choice::Off;
        changed = state.choice.exchange(choice) != choice;
        if (!allowed) {
            dropped = state.queue.size();
            state.queue.clear();
        }
    }
    state.wake.notify_all();
    if (!changed) return;
    const std::string droppedNote =
        dropped == 0 ? "" : "; " + std::to_string(dropped) + " queued events dropped";
    LogInfo("TelemetryService::SetUserChoice: usage statistics %s by the streamer's switch%s%s",
            allowed ? "allowed" : "turned off",
            m_state->settings.enabled ? "" : " (the environment keeps them off)", droppedNote.c_str());
}

bool TelemetryService::UserAllows() const {
    return m_state->choice != Choice::Off;
}

const TelemetrySettings& TelemetryService::Settings() const {
    return m_state->settings;
}

void TelemetryService::WorkerThreadProc() {
    PrepareThreadForCrashReports();
    State& state = *m_state;
    HttpPostLimits limits;
    limits.stop = &state.postDeadline;
    for (;;) {
        std::string body;
        {
            std::unique_lock<std::mutex> lock(state.mutex);
            // Until the streamer's choice is known (or its wait is over, or the
            // exit drains the queue), queued events stay where they are.
            for (;;) {
                const bool waitsForChoice =
                    state.choice == Choice::Pending && !state.stopping && Clock::now() < state.choiceWaitEnd;
                if (state.stopping || (!state.queue.empty() && !waitsForChoice)) break;
                if (state.queue.empty()) {
                    state.wake.wait(lock);
                } else {
                    state.wake.wait_until(lock, state.choiceWaitEnd);
                }
            }
            if (state.queue.empty()) return;                               // stopping, and nothing left
            if (state.stopping && Clock::now() >= state.drainEnd) return;  // Stop counts the rest
            body = std::move(state.queue.front().body);
            state.queue.pop_front();
        }
        Post(m_state->settings.collectorUrl, body, limits);
    }
}
