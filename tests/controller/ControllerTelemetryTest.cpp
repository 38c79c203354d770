// The controller client's connection events reach the telemetry collector
// through the real telemetry service (a small HTTP server on 127.0.0.1).

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "ScriptedTransport.h"
#include "controller/ControllerClient.h"
#include "support/ScopedEnvironment.h"
#include "support/TemporaryDirectory.h"
#include "support/TestHttpServer.h"
#include "telemetry/TelemetryService.h"
#include "telemetry/TelemetrySettings.h"

using nlohmann::json;
using namespace std::chrono_literals;

namespace {

TEST(ControllerTelemetryTest, ConnectionEventsArePostedByName) {
    TestHttpServer collector;
    TemporaryDirectory configuration("kestrel-controller-telemetry");
    ScopedEnvironment enabled("KESTREL_TELEMETRY", "on");
    ScopedEnvironment tracking("DO_NOT_TRACK", std::nullopt);
    ScopedEnvironment url("KESTREL_TELEMETRY_URL", collector.Url("/science/insert/kestrel"));
    ScopedEnvironment store("XDG_CONFIG_HOME", configuration.Path().string());

    // A service of the test's own, sent to as the default sink sends to the
    // process's service, so that its workers end within the test.
    auto service = TelemetryService::Create(ReadTelemetrySettings());
    auto transport = std::make_shared<ScriptedTransport>();
    {
        ControllerClient client(
            transport, [](const EventMessage&) {},
            [service](const char* name) { service->SendEvent(name, false, json::object()); });
        client.Start();
        transport->SetServerUp(true);
        ASSERT_TRUE(transport->WaitFor([](ScriptedTransport& t) { return t.Written().size() == 1; }));
        transport->Break();
    }

    ASSERT_TRUE(collector.WaitForRequests(3, 30s));
    std::vector<std::string> names;
    for (const auto& request : collector.Requests())
        names.push_back(json::parse(request.body).at(0).at("name"));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"streamdeck_kestrel_connect_error", "streamdeck_kestrel_connected",
                                        "streamdeck_kestrel_disconnected"}));
}

}  // namespace
