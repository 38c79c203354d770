#pragma once
// The messages one operation of the virtual deck yields, for the simulator's
// server to deliver to each party.

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

// A press or release of a composite key's step that the host sends later:
// the server asks for the event (StepEvent) when its time comes, so that it
// carries the step's state and settings of that moment.
struct StepPress {
    std::chrono::milliseconds after{0};  // from the composite key's press
    std::string context;                 // the step's
    bool down = true;
};

// Messages to deliver, in order, to each party.
struct Outbox {
    std::vector<nlohmann::json> toPlugin;
    std::vector<nlohmann::json> toInspector;
    std::vector<nlohmann::json> toPage;
    std::vector<StepPress> later;

    void Append(Outbox other);
    // A line of the page's log; |kind| says who did it ("host", "plugin", …).
    // |say| ({"id": …, and the values the line names}) lets the page tell the
    // line in the language it shows; |text| is the English line.
    static nlohmann::json PageLog(const std::string& kind, const std::string& text,
                                  const nlohmann::json& say = nullptr);
};
