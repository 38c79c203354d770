#pragma once
// The frames between the plug-in and kestrel-post, the helper process that
// makes its HTTP and HTTPS posts on POSIX systems: a type byte, the
// payload's length (4 bytes, little-endian) and the payload. The plug-in
// writes the request (url, agent, extra headers, time limit, body) and
// closes its side for writing; the helper answers with each response header
// line and the body bytes as they arrive, or with one line saying why it
// cannot post at all.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace post_frame {
// The request, in any order, each at most once.
constexpr char kUrl = 'U';
constexpr char kAgent = 'A';
constexpr char kHeaders = 'X';    // CR LF separated
constexpr char kTimeLimit = 'T';  // whole milliseconds, as decimal text
constexpr char kBody = 'B';
// The answer.
constexpr char kHeaderLine = 'H';  // one response header line, as received
constexpr char kBodyBytes = 'D';
constexpr char kUnavailable = 'E';  // why posting is off on this system
}  // namespace post_frame

struct PostFrame {
    char type = 0;
    std::string payload;
};

// What the plug-in asks the helper to post.
struct PostRequest {
    std::string url;
    std::string agent;
    std::string headers;
    long timeLimitMilliseconds = 0;
    std::string body;
};

// A frame's payload is at most this long; a longer length marks the stream broken.
constexpr uint32_t kPostFrameLimit = 64u << 20;

// Appends one frame to |out|; false, and nothing appended, when |payload| is over the limit.
bool AppendPostFrame(std::string& out, char type, std::string_view payload);

// The request as frames; empty when a part is over the limit.
std::string EncodePostRequest(const PostRequest& request);

// Cuts a byte stream into frames as it arrives.
class PostFrameReader {
public:
    void Feed(const char* data, size_t length);
    // The next whole frame, if one has arrived.
    std::optional<PostFrame> Next();
    // Whether a length over the limit arrived; nothing is read after it.
    bool Broken() const { return m_broken; }
    // Whether bytes of an unfinished frame are waiting.
    bool Partial() const { return m_offset < m_buffer.size(); }

private:
    std::string m_buffer;
    size_t m_offset = 0;  // the start of the next frame in m_buffer
    bool m_broken = false;
};

// The request in the frames of |reader| (the whole stream, read to its end);
// none when the stream is broken or cut, or has no url or time limit.
std::optional<PostRequest> DecodePostRequest(PostFrameReader& reader);
