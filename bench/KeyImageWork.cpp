#include "KeyImageWork.h"

#include "PluginImageNames.h"
#include "graphics/ResolveModulePath.h"

namespace {

std::shared_ptr<Graphics> Load(const char* fileName, Graphics::Keep keep = Graphics::Keep::Pixels) {
    return std::make_shared<Graphics>(ResolveModulePath(std::string(fileName)), keep);
}

}  // namespace

KeyImageWork::KeyImageWork()
    // Held as the plug-in holds them: a key's own image as its file, the
    // shared overlays as pixels.
    : m_base(Load("media_request_video_on.png", Graphics::Keep::FileBytes)),
      m_status(Load("state_offline.png")),
      m_transient(Load("state_alert.png")) {}

bool KeyImageWork::Ready() const {
    return m_base->HasImage() && m_status->HasImage() && m_transient->HasImage();
}

size_t KeyImageWork::ComposeAndEncode() const {
    Graphics key(*m_base);
    key.Compose(*m_status);
    key.Compose(*m_transient);
    std::string text;
    return key.ToBase64Png(text) ? text.size() : 0;
}

double KeyImageWork::AverageBase64Size(size_t* imageCount) {
    size_t total = 0;
    size_t count = 0;
    for (const char* fileName : kPluginImageNames) {
        std::string text;
        if (Load(fileName)->ToBase64Png(text)) {
            total += text.size();
            ++count;
        }
    }
    if (imageCount) *imageCount = count;
    return count ? static_cast<double>(total) / count : 0.0;
}
