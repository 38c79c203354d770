#pragma once
// The settings pages (property inspectors) of one element's keys that are
// shown now, which hear of every change of their key until they close, and
// per page the values a dial set and the page was told of in the last second.
// A page saves its whole copy of the settings, so such a value in a save that
// crossed the dial's later values is not the page's own change.
//
// Threads: none of its own; the owning element calls it with the control
// elements manager's lock held.

#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

class SettingsPages {
public:
    using Clock = std::chrono::steady_clock;

    // |name|: the element's, for log lines.
    explicit SettingsPages(std::string name);

    // Only keys on screen are opened (bounded by them); a closed page and a
    // key that went away are forgotten.
    void Open(const std::string& context) { m_shown.insert(context); }
    void Close(const std::string& context);
    bool IsOpen(const std::string& context) const { return m_shown.count(context) != 0; }
    const std::set<std::string>& OpenPages() const { return m_shown; }

    // The open page of |context| was told that a dial set |key| to |value|.
    void ToldDialValue(const std::string& context, const std::string& key, const nlohmann::json& value,
                       Clock::time_point now);
    // |payload| without the members of its "settings" that hold a value a dial
    // set a moment ago while |stored| has moved on since.
    nlohmann::json ChangesOf(const std::string& context, const nlohmann::json& payload,
                             const nlohmann::json& stored, Clock::time_point now) const;

    // What a page is sent: {"settings": ..., "state": {"id": ...}}, with the
    // command that opens the sandbox when the state is "sandboxed".
    static nlohmann::json Data(const nlohmann::json& settings, const std::string& stateName,
                               const std::string& sandboxGrantCommand);

private:
    struct DialValue {
        Clock::time_point when;
        std::string key;
        nlohmann::json value;
    };
    std::string m_name;
    std::set<std::string> m_shown;
    std::map<std::string, std::vector<DialValue>> m_dialValuesTold;  // per open page, a bounded number
};
