#pragma once
// Helpers of the fault-injection tests: every key of the catalogue on the
// deck, a check that every key works, key presses at a steady pace, and the
// accounting of what became of the presses of one key.

#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "e2e/PluginHarness.h"
#include "support/ScopedEnvironment.h"

namespace faults {

extern const std::vector<std::string> kActions;  // full identifiers, catalogue order

std::string ContextOf(const std::string& action);

// Makes one key of every action appear, and a second key of a plain action
// that EveryKeyUsable presses to learn when earlier presses were dropped.
void ShowEveryKey(PluginHarness& plugin);

// Presses every key whose command has not reached the controller since this
// call began, again and again, until each key's command has arrived; a key
// may be inactive for a moment after the link comes back.
::testing::AssertionResult EveryKeyUsable(PluginHarness& plugin,
                                          std::chrono::milliseconds timeout = std::chrono::seconds(90));

// Commands that the controller received from the key |context|.
size_t CommandsFrom(const std::vector<nlohmann::json>& commands, const std::string& context);

// The first command that the controller received from the key |context|;
// nothing on time-out.
std::optional<nlohmann::json> WaitForCommandFrom(
    PluginHarness& plugin, const std::string& context,
    std::chrono::milliseconds timeout = std::chrono::seconds(30));

// How often the key |context| began to show the alert mark, over every image
// the host received for it.
size_t AlertMarks(PluginHarness& plugin, const std::string& context);

// Presses keys in turn, one every 20 ms, for |duration|; returns how often
// the key |counted| was pressed.
size_t PressFor(PluginHarness& plugin, std::chrono::milliseconds duration, const std::string& counted);

// How long the plug-in may take to exit after the host closes: five seconds,
// whatever the peers do (it still has to work off a burst of presses queued
// before the close, on a loaded machine under a sanitizer or Wine). A
// thread-sanitised plug-in handles each message about ten times slower and
// checks every thread at exit, so that build gets ten seconds.
std::chrono::milliseconds QuickExitLimit();

// Checks that the plug-in's memory, threads and handles have not grown past
// what a long-running process may hold: |after| against the |before| sample
// (a thread-sanitised plug-in gets three times the memory).
void ExpectBounded(const ChildProcess::Usage& before, const ChildProcess::Usage& after,
                   size_t extraMegabytes);

// Keeps an address-sanitised plug-in from holding freed memory for long, so
// that its resident size tells whether memory is really kept.
class SmallQuarantine {
public:
    SmallQuarantine();

private:
    ScopedEnvironment m_options;
};

}  // namespace faults
