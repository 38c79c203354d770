// kestrel-post: makes one HTTP or HTTPS post for the plug-in and exits. The
// plug-in starts it for each post with a socket as its standard input and
// output, writes the request and closes its side for writing; the helper
// answers with the response as it arrives (see PostFrames.h). Keeping
// libcurl, the TLS library and their thirty-odd libraries in this
// short-lived process keeps their pages and their state out of the
// plug-in's memory for the whole session, and a fault in them out of the
// plug-in. The plug-in ends the helper at its deadline.

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

#include "telemetry/CurlLibrary.h"
#include "telemetry/CurlPost_posix.h"
#include "telemetry/PostFrames.h"

namespace {

constexpr int kIn = 0;
constexpr int kOut = 1;

// Nothing the plug-in had open stays open here longer than the start.
void CloseInheritedDescriptors() {
#ifdef SYS_close_range
    if (syscall(SYS_close_range, 3u, UINT_MAX, 0u) == 0) return;
#endif
    for (int fd = 3; fd < 1024; ++fd) close(fd);
}

// The whole request; none when it cannot be read or is malformed.
std::optional<PostRequest> ReadRequest() {
    PostFrameReader reader;
    char buffer[0x8000];
    for (;;) {
        ssize_t got = read(kIn, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::nullopt;
        if (got == 0) break;
        reader.Feed(buffer, static_cast<size_t>(got));
    }
    return DecodePostRequest(reader);
}

}  // namespace

int main() {
    CloseInheritedDescriptors();
    std::optional<PostRequest> request = ReadRequest();
    if (!request) return 2;
    std::string why;
    const CurlLibrary* lib = CurlLibrary::Get(&why);
    if (!lib) {
        SendPostFrame(kOut, post_frame::kUnavailable, why);
        return 3;
    }
    return CurlPost(*lib, *request, kOut) ? 0 : 2;
}
