#include "telemetry/PostFrames.h"

#include <stdexcept>

namespace {
constexpr size_t kHeaderSize = 5;  // the type byte and the length
}

std::string EncodePostRequest(const PostRequest& request) {
    std::string out;
    bool fits = AppendPostFrame(out, post_frame::kUrl, request.url) &&
                AppendPostFrame(out, post_frame::kAgent, request.agent) &&
                AppendPostFrame(out, post_frame::kHeaders, request.headers) &&
                AppendPostFrame(out, post_frame::kTimeLimit, std::to_string(request.timeLimitMilliseconds)) &&
                AppendPostFrame(out, post_frame::kBody, request.body);
    return fits ? out : std::string();
}

bool AppendPostFrame(std::string& out, char type, std::string_view payload) {
    if (payload.size() > kPostFrameLimit) return false;
    auto length = static_cast<uint32_t>(payload.size());
    out += type;
    for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((length >> shift) & 0xff);
    out.append(payload);
    return true;
}

void PostFrameReader::Feed(const char* data, size_t length) {
    if (m_broken) return;
    if (m_offset == m_buffer.size()) {
        m_buffer.clear();
        m_offset = 0;
    }
    m_buffer.append(data, length);
}

std::optional<PostFrame> PostFrameReader::Next() {
    if (m_broken || m_buffer.size() - m_offset < kHeaderSize) return std::nullopt;
    uint32_t length = 0;
    for (int i = 0; i < 4; ++i)
        length |= static_cast<uint32_t>(static_cast<unsigned char>(m_buffer[m_offset + 1 + i])) << (8 * i);
    if (length > kPostFrameLimit) {
        m_broken = true;
        return std::nullopt;
    }
    if (m_buffer.size() - m_offset - kHeaderSize < length) return std::nullopt;
    PostFrame frame{m_buffer[m_offset], m_buffer.substr(m_offset + kHeaderSize, length)};
    m_offset += kHeaderSize + length;
    if (m_offset > m_buffer.size() / 2) {  // keep the buffer from growing with what was read
        m_buffer.erase(0, m_offset);
        m_offset = 0;
    }
    return frame;
}

std::optional<PostRequest> DecodePostRequest(PostFrameReader& reader) {
    PostRequest request;
    bool hasUrl = false, hasLimit = false;
    while (std::optional<PostFrame> frame = reader.Next()) {
        switch (frame->type) {
            case post_frame::kUrl:
                request.url = std::move(frame->payload), hasUrl = true;
                break;
            case post_frame::kAgent:
                request.agent = std::move(frame->payload);
                break;
            case post_frame::kHeaders:
                request.headers = std::move(frame->payload);
                break;
            case post_frame::kBody:
                request.body = std::move(frame->payload);
                break;
            case post_frame::kTimeLimit:
                try {
                    request.timeLimitMilliseconds = std::stol(frame->payload);
                    hasLimit = request.timeLimitMilliseconds > 0;
                } catch (const std::exception&) {
                    return std::nullopt;
                }
                break;
            default:
                return std::nullopt;
        }
    }
    if (reader.Broken() || reader.Partial() || !hasUrl || !hasLimit) return std::nullopt;
    return request;
}
