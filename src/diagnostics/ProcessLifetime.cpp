#include "diagnostics/ProcessLifetime.h"

#include "diagnostics/CrashReporter.h"
#include "diagnostics/HeapArenas.h"
#include "diagnostics/PluginLifetime.h"
#include "graphics/GraphicsSession.h"

ProcessLifetime::ProcessLifetime() {
    LimitHeapArenas();
    m_graphics = std::make_unique<GraphicsSession>();
    m_plugin = std::make_unique<PluginLifetime>();
    m_crashReporter = std::make_unique<CrashReporter>();
}

ProcessLifetime::~ProcessLifetime() {
    m_crashReporter.reset();
    m_plugin.reset();
    m_graphics.reset();
}
