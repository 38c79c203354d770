// windows.h first, then the COM types that GDI+ builds on.
#include <windows.h>

#include <objidl.h>

#include <gdiplus.h>

#include <atomic>

#include "graphics/GraphicsSession.h"

namespace {
ULONG_PTR g_gdiplusToken = 0;        // from GdiplusStartup, for GdiplusShutdown
std::atomic<bool> g_running{false};  // between start-up and shut-down
}  // namespace

GraphicsSession::GraphicsSession() {
    // Version 1, no debug callback, background thread and external codecs kept.
    Gdiplus::GdiplusStartupInput input;
    // The result is not examined: without GDI+ every load fails and is logged.
    Gdiplus::GdiplusStartup(&g_gdiplusToken, &input, nullptr);
    g_running = true;
}

GraphicsSession::~GraphicsSession() {
    g_running = false;
    Gdiplus::GdiplusShutdown(g_gdiplusToken);
    g_gdiplusToken = 0;
}

bool GraphicsSession::IsRunning() {
    return g_running.load();
}
