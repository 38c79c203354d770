#pragma once
// What a streamer sees when the controller reports a sign-out or a sign-in:
// every key redrawn (under the "logged out" overlay, or back without it). The
// probe writes the report (a sign-in is followed at once by the support
// report, as the controller server sends them) and takes every "setImage"
// the host receives until each key has had at least one and then none has
// come for a quiet spell: the burst. Figures per report:
// - the burst: from the report written to the last "setImage" of the burst;
// - per key: from the report to each key's last "setImage" of the burst (the
//   image it is left with; a key may be drawn twice when the support report
//   lands during the first pass);
// - the measured key: from the report to its first "setImage".
// A burst that leaves a key undrawn counts as the time limit in every figure,
// so that a miss cannot hide from the p99.
//
// Threads: one (the probe's); the host stand-in stamps arrivals on its own thread.

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "Samples.h"

class ControllerModel;
class HostStandIn;
class PipeServer;

class SignInBursts {
public:
    // How long after a report every key must have been drawn.
    static constexpr std::chrono::milliseconds kLimit{2000};
    // No "setImage" for this long, with every key drawn, ends a burst: longer
    // than the element timer's interval, so a second pass is not cut off.
    static constexpr std::chrono::milliseconds kQuiet{300};

    SignInBursts(HostStandIn& host, std::vector<std::string> contexts, std::string measuredContext);

    // Signs out and in again, |reports| reports in all (sign-outs first),
    // each after the previous burst has ended and a short random pause.
    void Measure(PipeServer& pipe, ControllerModel& model, int reports);

    // One "setImage" of a burst: the key's context and its arrival.
    using Image = std::pair<std::string, std::chrono::steady_clock::time_point>;
    // Records the figures of the burst |images| that followed a report written at |sentAt|.
    void Record(std::chrono::steady_clock::time_point sentAt, const std::vector<Image>& images);

    const Samples& Burst() const { return m_burst; }
    const Samples& PerKey() const { return m_perKey; }
    const Samples& MeasuredKey() const { return m_measuredKey; }
    // Bursts that left a key undrawn within kLimit.
    int Incomplete() const { return m_incomplete; }

private:
    using Clock = std::chrono::steady_clock;
    // The "setImage"s of the keys that follow a report written at |sentAt|.
    std::vector<Image> TakeBurst(Clock::time_point sentAt);

    HostStandIn& m_host;
    const std::vector<std::string> m_contexts;
    const std::string m_measuredContext;
    Samples m_burst, m_perKey, m_measuredKey;
    int m_incomplete = 0;
};
