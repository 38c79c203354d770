#include "telemetry/TelemetryService.h"

#include <concurrentqueue/blockingconcurrentqueue.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "diagnostics/CrashReportThread.h"
#include "telemetry/HttpPost.h"
#include "telemetry/MachineId.h"
#include "telemetry/SystemSources.h"

namespace {

constexpr int kWorkerCount = 4;
constexpr uint64_t kNanosecondsPerSecond = 1000000000ull;
constexpr char kContentType[] = "application/json";

// The process-wide holder. Never destroyed: threads that outlive main() may
// still send events after the exit sequence has shut the service down.
struct Holder {
    std::mutex mutex;  // guards creation and shutDown; service is also read without it
    std::shared_ptr<TelemetryService> service;
    bool shutDown = false;
};

Holder& TheHolder() {
    static Holder* holder = new Holder;
    return *holder;
}

std::string PluginVersion() {
    char text[32];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", 22, 6, 21, 87);
    return text;
}

// Seconds as signed decimal text of their low 32 bits.
std::string SecondsText(uint64_t nanoseconds) {
    uint64_t seconds = nanoseconds / kNanosecondsPerSecond;
    return std::to_string(static_cast<int32_t>(static_cast<uint32_t>(seconds)));
}

void Post(const std::string& url, const std::string& body) {
    try {
        HttpPost(url, kContentType, body);
    } catch (const std::exception&) {
        // Delivery is fire-and-forget: a failed post is dropped.
    }
}

}  // namespace

struct TelemetryService::State {
    TelemetrySettings settings;
    uint64_t startTime = 0;
    std::atomic<uint64_t> previousEventTime{0};  // read and replaced as one value
    std::string sessionId;
    std::string hostMachineId;
    moodycamel::BlockingConcurrentQueue<std::function<void()>> jobs;
    std::atomic<bool> running{false};
    std::vector<std::thread> workers;
};

std::shared_ptr<TelemetryService> TelemetryService::Instance() {
    Holder& holder = TheHolder();
    if (auto service = std::atomic_load(&holder.service)) return service;
    std::lock_guard<std::mutex> lock(holder.mutex);
    if (auto service = std::atomic_load(&holder.service)) return service;
    // After the shut-down a late first caller gets a service that sends nothing.
    auto service = Create(holder.shutDown ? TelemetrySettings{} : ReadTelemetrySettings());
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
        service = std::atomic_load(&holder.service);
    }
    if (service) service->Stop();
}

std::shared_ptr<TelemetryService> TelemetryService::Create(const TelemetrySettings& settings) {
    return std::shared_ptr<TelemetryService>(new TelemetryService(settings));
}

TelemetryService::TelemetryService(const TelemetrySettings& settings) : m_state(std::make_unique<State>()) {
    State& state = *m_state;
    state.settings = settings;
    state.startTime = ClockNanoseconds();
    state.previousEventTime = state.startTime;
    // With telemetry off nothing identifying is made or stored, and no thread runs.
    if (!settings.enabled) return;
    state.sessionId = NewGuidText();
    state.hostMachineId = GetMachineId();
    state.running = true;
    for (int i = 0; i < kWorkerCount; ++i) state.workers.emplace_back([this] { WorkerThreadProc(); });
}

TelemetryService::~TelemetryService() {
    Stop();
}

void TelemetryService::Stop() {
    State& state = *m_state;
    state.running = false;
    // One empty job per worker ends it; the workers sleep on the queue's
    // semaphore until then, so an idle service costs no wake-ups.
    for (size_t i = 0; i < state.workers.size(); ++i) state.jobs.enqueue(nullptr);
    for (std::thread& worker : state.workers) {
        if (worker.joinable()) worker.join();
    }
    // Posts queued by other threads may sort behind the end marks: they are
    // still sent, here, before the service goes.
    std::function<void()> job;
    while (state.jobs.try_dequeue(job)) {
        if (job) job();
    }
}

void TelemetryService::SendEvent(const char* name, bool synchronous, const nlohmann::json& properties) {
    if (name == nullptr || !m_state->settings.enabled) return;
    std::string body = BuildBody(name, properties);
    const std::string& url = m_state->settings.collectorUrl;
    if (synchronous) {
        Post(url, body);
        return;
    }
    // No worker takes jobs after the stop: drop rather than queue for nobody.
    if (!m_state->running) return;
    m_state->jobs.enqueue([url, body] { Post(url, body); });
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
    fields.push_back(nlohmann::json::array({"plugin_version", PluginVersion()}));
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

void TelemetryService::WorkerThreadProc() {
    PrepareThreadForCrashReports();
    State& state = *m_state;
    while (true) {
        std::function<void()> job;
        state.jobs.wait_dequeue(job);
        if (!job) return;  // the end mark of Stop
        job();
    }
}
