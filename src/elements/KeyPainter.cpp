#include "elements/KeyPainter.h"

#include <algorithm>
#include <utility>

#include "diagnostics/Log.h"
#include "elements/FaceImagePath.h"
#include "elements/StateImageFactory.h"
#include "graphics/Graphics.h"

namespace {

constexpr double kTransientSeconds = 1.5;

}  // namespace

KeyPainter::KeyPainter(std::shared_ptr<StateImageFactory> overlays)
    : m_overlays(std::move(overlays)), m_transientSince(Clock::now()) {}

KeyPainter::~KeyPainter() = default;

void KeyPainter::SetBaseImageFromFile(const std::string& fileName) {
    // Kept compressed: every redraw copies it anyway.
    std::shared_ptr<Graphics>& kept = m_fileImages[fileName];
    if (!kept || !kept->HasImage())
        kept = std::make_shared<Graphics>(FaceImagePath::Resolve(fileName), Graphics::Keep::FileBytes);
    m_baseImage = kept;
}

std::shared_ptr<Graphics> KeyPainter::ComposeBaseImage() {
    if (!m_baseImage) return nullptr;
    // Only a status overlay alone is kept: a transient mark shows for 1.5 s
    // after a press and is seldom drawn the same way again.
    const bool keep = !m_transientShown && m_statusOverlay;
    const std::shared_ptr<Graphics> overlay = keep ? m_statusOverlay : nullptr;
    auto kept = std::find_if(m_keptComposites.begin(), m_keptComposites.end(),
                             [&](const KeptComposite& entry) { return entry.overlay == overlay; });
    if (keep && kept != m_keptComposites.end() && kept->base == m_baseImage) return kept->image;

    // Nothing to draw: the base image goes as it is, without a copy, and
    // keeps its encoding for the next plain redraw.
    if (!HasOverlays()) return m_baseImage;
    auto image = std::make_shared<Graphics>(*m_baseImage);
    ComposeOverlays(*image);
    // Held as its encoding, the composite costs its PNG bytes, not its pixels;
    // a back-end that cannot hold it so keeps nothing.
    if (!keep || !image->HoldEncoded()) return image;
    if (kept != m_keptComposites.end()) {
        *kept = KeptComposite{m_baseImage, overlay, image};  // the base image changed
    } else {
        m_keptComposites.push_back(KeptComposite{m_baseImage, overlay, image});
    }
    return image;
}

void KeyPainter::SetKeyImage(const std::string& context, std::shared_ptr<Graphics> image) {
    m_keyImages[context] = std::move(image);
}

std::shared_ptr<Graphics> KeyPainter::ComposeKeyImage(const std::string& context) const {
    auto own = m_keyImages.find(context);
    if (own == m_keyImages.end() || !own->second) return nullptr;
    if (!HasOverlays()) return own->second;
    auto image = std::make_shared<Graphics>(*own->second);
    ComposeOverlays(*image);
    return image;
}

void KeyPainter::SetTransientOverlay(std::shared_ptr<Graphics> image, Clock::time_point now) {
    m_transientOverlay = std::move(image);
    m_transientShown = true;
    m_transientSince = now;
}

bool KeyPainter::ExpireTransientOverlay(Clock::time_point now) {
    if (!m_transientShown) return false;
    const double elapsed = std::chrono::duration<double>(now - m_transientSince).count();
    if (elapsed <= kTransientSeconds) return false;
    LogTrace("Transient overlays reset after %f seconds", elapsed);
    m_transientOverlay = nullptr;
    m_transientShown = false;
    return true;
}

void KeyPainter::ComposeOverlays(Graphics& image) const {
    if (m_statusOverlay) image.Compose(*m_statusOverlay);
    if (m_transientOverlay) image.Compose(*m_transientOverlay);
}
