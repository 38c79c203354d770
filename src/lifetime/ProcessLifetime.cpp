#include "lifetime/ProcessLifetime.h"

#include "diagnostics/HeapArenas.h"
#include "graphics/GraphicsSession.h"
#include "lifetime/CrashReporter.h"
#include "lifetime/PluginLifetime.h"
#include "telemetry/HttpPost.h"

ProcessLifetime::ProcessLifetime() {
    LimitHeapArenas();
    HttpHoldPostsForStart();
    m_graphics = std::make_unique<GraphicsSession>();
    m_plugin = std::make_unique<PluginLifetime>();
    m_crashReporter = std::make_unique<CrashReporter>();
}

ProcessLifetime::~ProcessLifetime() {
    HttpStartIsOver();  // a process that never registered still posts on its way out
    m_crashReporter.reset();
    m_plugin.reset();
    m_graphics.reset();
}
