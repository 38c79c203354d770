#include "controller/PipeSystem.h"

#include <cstdlib>

std::string DefaultControllerPipeName() {
    const char* configured = std::getenv("KESTREL_CONTROLLER_PIPE");
    if (configured && *configured) return configured;
    return kControllerPipeName;
}
