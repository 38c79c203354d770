#include "controller/PipeSystem.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

PipeSystem::WriteResult PipeSystem::WriteWithin(Handle handle, const char* bytes, uint32_t size, uint32_t,
                                                Handle) {
    return Write(handle, bytes, size) ? WriteResult::Written : WriteResult::Failed;
}

PipeSystem::WriteResult PipeSystem::WriteNow(Handle, const char*, uint32_t) {
    return WriteResult::TimedOut;
}

void PipeSystem::WaitForWakeup(Handle, uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min<uint32_t>(milliseconds, 25)));
}

std::string DefaultControllerPipeName() {
    const char* configured = std::getenv("KESTREL_CONTROLLER_PIPE");
    if (configured && *configured) return configured;
    return kControllerPipeName;
}
