#include "EmptyProgramFloor.h"

#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

#include "controller-sim/PipeServer.h"
#include "controller/PipeSystem.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kLong = std::chrono::milliseconds(20000);
constexpr auto kLeaveGrace = std::chrono::milliseconds(2000);
// About a press command's size.
constexpr size_t kMessageBytes = 200;

double Millis(Clock::duration span) {
    return std::chrono::duration<double, std::milli>(span).count();
}

void End(ChildProcess& process) {
    process.CloseInput();
    if (!process.Wait(kLeaveGrace)) process.Kill();
}

}  // namespace

EmptyProgramFloor::EmptyProgramFloor(std::string program, std::string pipeName)
    : m_program(std::move(program)), m_pipeName(std::move(pipeName)) {}

void EmptyProgramFloor::MeasureStart(ProbeResults& floor) const {
    auto ready = std::make_shared<std::promise<Clock::time_point>>();
    auto once = std::make_shared<std::once_flag>();
    std::future<Clock::time_point> readyAt = ready->get_future();
    ChildProcess::Options options;
    options.onLine = [ready, once](const std::string&) {
        std::call_once(*once, [&ready] { ready->set_value(Clock::now()); });
    };
    ChildProcess process;
    auto startedAt = Clock::now();
    if (!process.Start(m_program, {}, {}, options)) {
        floor.failure = "cannot start " + m_program;
        return;
    }
    if (readyAt.wait_for(kLong) == std::future_status::ready)
        floor.start.Add(Millis(readyAt.get() - startedAt));
    End(process);
}

void EmptyProgramFloor::MeasureSession(int messages, int idleSeconds, ProbeResults& floor) const {
    PipeServer pipe(m_pipeName);
    ChildProcess process;
    if (!pipe.Listen() || !process.Start(m_program, {PipeAddress(m_pipeName)}) ||
        !pipe.WaitForClient(kLong)) {
        floor.failure = "the empty program did not connect to " + m_pipeName;
        return;
    }
    const std::string message(kMessageBytes, 'x');
    std::mt19937 random(7);
    for (int i = 0; i < messages; ++i) {
        auto sentAt = Clock::now();
        if (!pipe.Send(message)) break;
        auto echo = pipe.Receive(std::chrono::milliseconds(2000));
        if (echo && *echo == message) floor.press.Add(Millis(Clock::now() - sentAt));
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 30));
    }
    floor.MeasureIdle(process, idleSeconds);
    pipe.DropClient();  // the echo ends at the broken pipe
    End(process);
}
