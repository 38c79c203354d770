#include "SignInBursts.h"

#include <algorithm>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <thread>
#include <utility>

#include "controller-sim/ControllerModel.h"
#include "controller-sim/PipeServer.h"
#include "support/HostStandIn.h"

namespace {

double Millis(std::chrono::steady_clock::duration span) {
    return std::chrono::duration<double, std::milli>(span).count();
}

// The context of a "setImage" text (compact JSON, as both plug-ins write it);
// empty for any other message. Read without a parse: the probe shares the
// machine's two cores with the plug-in, and a parse of every image would
// take from the time it measures.
std::string ImageContext(const std::string& text) {
    if (text.find("\"event\":\"setImage\"") == std::string::npos) return {};
    const std::string key = "\"context\":\"";
    const size_t start = text.find(key);
    if (start == std::string::npos) return {};
    const size_t end = text.find('"', start + key.size());
    if (end == std::string::npos) return {};
    return text.substr(start + key.size(), end - start - key.size());
}

}  // namespace

SignInBursts::SignInBursts(HostStandIn& host, std::vector<std::string> contexts, std::string measuredContext)
    : m_host(host), m_contexts(std::move(contexts)), m_measuredContext(std::move(measuredContext)) {}

void SignInBursts::Measure(PipeServer& pipe, ControllerModel& model, int reports) {
    std::mt19937 random(13);
    for (int report = 0; report < reports; ++report) {
        const bool signIn = report % 2 == 1;
        model.SetSignedIn(signIn);
        m_host.Clear();
        const auto sentAt = Clock::now();
        pipe.Send(model.SignInReport());
        if (signIn) pipe.Send(model.SupportReport());
        Record(sentAt, TakeBurst(sentAt));
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 100));
    }
}

std::vector<SignInBursts::Image> SignInBursts::TakeBurst(Clock::time_point sentAt) {
    std::vector<Image> images;
    std::set<std::string> drawn;
    const auto limit = sentAt + kLimit;
    // Cheap under the stand-in's lock; the text is parsed after it is taken.
    auto isImage = [](const HostStandIn::Received& received) {
        return received.text.find("\"setImage\"") != std::string::npos;
    };
    while (true) {
        const bool allDrawn = drawn.size() == m_contexts.size();
        const auto now = Clock::now();
        if (!allDrawn && now >= limit) break;
        const auto wait = allDrawn ? kQuiet
                                   : std::chrono::duration_cast<std::chrono::milliseconds>(limit - now) +
                                         std::chrono::milliseconds(1);
        std::optional<HostStandIn::Received> image = m_host.WaitFor(isImage, wait);
        if (!image) break;
        const std::string context = ImageContext(image->text);
        if (std::find(m_contexts.begin(), m_contexts.end(), context) == m_contexts.end()) continue;
        drawn.insert(context);
        images.emplace_back(context, image->at);
    }
    return images;
}

void SignInBursts::Record(Clock::time_point sentAt, const std::vector<Image>& images) {
    std::map<std::string, Clock::time_point> first, last;
    for (const auto& [context, at] : images) {
        first.emplace(context, at);
        last[context] = at;
    }
    const double missed = Millis(kLimit);
    bool complete = true;
    Clock::time_point end = sentAt;
    for (const std::string& context : m_contexts) {
        auto drawn = last.find(context);
        complete = complete && drawn != last.end();
        m_perKey.Add(drawn == last.end() ? missed : Millis(drawn->second - sentAt));
        if (drawn != last.end() && drawn->second > end) end = drawn->second;
    }
    if (!complete) ++m_incomplete;
    m_burst.Add(complete ? Millis(end - sentAt) : missed);
    auto measured = first.find(m_measuredContext);
    m_measuredKey.Add(measured == first.end() ? missed : Millis(measured->second - sentAt));
}
