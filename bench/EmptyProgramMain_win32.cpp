// empty_program: Wine's own floor beside the plug-in in plugin_probe. It
// does nothing a Windows program could do less of: it writes one line (the
// probe times its start to that line), then either waits for its standard
// input to close, or, given a pipe address, connects to the probe's pipe and
// sends each message straight back (the probe times the round trip).
// Plain Win32 calls only, so that it loads no more than any program does.
#include <windows.h>

namespace {

void WaitForInputToClose() {
    char buffer[64];
    DWORD read = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &read, nullptr) && read > 0) {
    }
}

int Echo(const char* address) {
    HANDLE pipe = CreateFileA(address, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) return 1;
    DWORD mode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
    static char buffer[64 * 1024];
    DWORD size = 0, written = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &size, nullptr) &&
           WriteFile(pipe, buffer, size, &written, nullptr)) {
    }
    CloseHandle(pipe);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "ready\n", 6, &written, nullptr);
    if (argc < 2) {
        WaitForInputToClose();
        return 0;
    }
    return Echo(argv[1]);
}
