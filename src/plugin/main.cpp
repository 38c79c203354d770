// Entry routine: the Stream Deck application starts the plug-in with four
// option pairs. Process-wide set-up (working directory, log, telemetry, crash
// reporting) has already run during static initialisation, through
// g_processLifetime. Nothing goes to stdout; stderr gets one line on Linux
// once registered (the log file's path), and nothing on unusable arguments.

#include <cstdio>
#include <memory>

#include "diagnostics/Log.h"
#include "diagnostics/Platform.h"
#include "elements/KeyTexts.h"
#include "host/ESDConnectionManager.h"
#include "lifetime/ProcessLifetime.h"
#include "plugin/CommandLine.h"
#include "plugin/MyStreamDeckPlugin.h"
#include "plugin/ProcessArguments.h"
#include "telemetry/HttpPost.h"

// Process-lifetime objects, held by globals with external linkage so that
// they stay reachable (and are not reported as leaks) while they are
// deliberately never destroyed.
MyStreamDeckPlugin* g_plugin = nullptr;
std::shared_ptr<ESDConnectionManager>* g_closedConnectionManager = nullptr;

// The executable's one static object: the image library (GDI+), the log with
// its start record, telemetry and the crash reporter before main(), and their
// orderly end after it, in the order ProcessLifetime.h shows. Every key image
// is therefore loaded, drawn and released while the image library runs.
ProcessLifetime g_processLifetime;

namespace {

void NameLogFile() {
    if (!kNamesLogFileOnStderr) return;
    const std::string path = LogFilePath();
    if (path.empty()) return;
    std::fprintf(stderr, "kestrel-sdplugin: log file: %s\n", path.c_str());
    std::fflush(stderr);
}

// The start is over once registered: posts may now load the HTTP library.
void OnRegistered() {
    HttpStartIsOver();
    NameLogFile();
}

}  // namespace

int main(int argc, const char* argv[]) {
    std::optional<std::vector<std::string>> arguments = ProcessArguments(argc, argv);
    std::optional<CommandLine> commandLine = arguments ? CommandLine::Parse(*arguments) : std::nullopt;
    if (!commandLine) return 1;

    // Titles set at run time speak the host's language; set before any thread reads it.
    KeyTexts::SetLanguage(KeyTexts::LanguageOfInfo(commandLine->info));

    // The plug-in lives until the process ends; its threads until Run returns.
    g_plugin = new MyStreamDeckPlugin();
    MyStreamDeckPlugin* plugin = g_plugin;

    auto connectionManager = std::make_shared<ESDConnectionManager>(
        commandLine->port, commandLine->pluginUUID, commandLine->registerEvent);
    connectionManager->SetPlugin(plugin);
    connectionManager->SetRegisteredHandler([plugin] {
        OnRegistered();
        plugin->OnRegistered();
    });
    plugin->SetConnectionManager(connectionManager.get());

    connectionManager->Run();

    // No key is redrawn once the host link is gone: the controller link and the
    // element timer end here, before the process-wide objects are torn down
    // (a redraw then would use the image library after its shutdown).
    plugin->StopThreads();

    // The plug-in still points at the connection manager; keeping it alive
    // (closed, so it drops every send) keeps that pointer valid to the end.
    g_closedConnectionManager = new std::shared_ptr<ESDConnectionManager>(std::move(connectionManager));
    return 0;
}
