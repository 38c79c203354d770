#include <atomic>

#include "graphics/GraphicsSession.h"

// cairo needs no start-up; the session only records that image work may run.
namespace {
std::atomic<int> g_sessions{0};
}

GraphicsSession::GraphicsSession() {
    ++g_sessions;
}

GraphicsSession::~GraphicsSession() {
    --g_sessions;
}

bool GraphicsSession::IsRunning() {
    return g_sessions.load() > 0;
}
