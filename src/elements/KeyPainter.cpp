#include "elements/KeyPainter.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "diagnostics/Log.h"
#include "elements/FaceImagePath.h"
#include "elements/StateImageFactory.h"
#include "graphics/Graphics.h"

namespace {

constexpr double kTransientSeconds = 1.5;

// The faces' background runs from this colour at the top edge to the next
// at the bottom edge (art/generate.py BG_TOP, BG_BOTTOM).
constexpr uint32_t kBackgroundTop = 0x262A33;
constexpr uint32_t kBackgroundBottom = 0x15171C;
constexpr int kKeyRows = 144;

uint32_t BackgroundAt(double height) {
    uint32_t rgb = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const double top = (kBackgroundTop >> shift) & 0xFF;
        const double bottom = (kBackgroundBottom >> shift) & 0xFF;
        rgb |= static_cast<uint32_t>(top + (bottom - top) * height + 0.5) << shift;
    }
    return 0xFF000000 | rgb;
}

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

std::shared_ptr<Graphics> KeyPainter::ComposeBaseImage(bool withoutLabel) {
    if (!m_baseImage) return nullptr;
    // Only a status overlay alone, or a cleared label, is kept: a transient
    // mark shows for 1.5 s after a press and is seldom drawn the same way again.
    const bool keep = !m_transientShown && (m_statusOverlay || withoutLabel);
    const std::shared_ptr<Graphics> overlay = keep ? m_statusOverlay : nullptr;
    auto kept =
        std::find_if(m_keptComposites.begin(), m_keptComposites.end(), [&](const KeptComposite& entry) {
            return entry.overlay == overlay && entry.withoutLabel == withoutLabel;
        });
    if (keep && kept != m_keptComposites.end() && kept->base == m_baseImage) return kept->image;

    // Nothing to draw: the base image goes as it is, without a copy, and
    // keeps its encoding for the next plain redraw.
    if (!HasOverlays() && !withoutLabel) return m_baseImage;
    auto image = std::make_shared<Graphics>(*m_baseImage);
    ComposeOverlays(*image, withoutLabel);
    // Held as its encoding, the composite costs its PNG bytes, not its pixels;
    // a back-end that cannot hold it so keeps nothing.
    if (!keep || !image->HoldEncoded()) return image;
    if (kept != m_keptComposites.end()) {
        *kept = KeptComposite{m_baseImage, overlay, withoutLabel, image};  // the base image changed
    } else {
        m_keptComposites.push_back(KeptComposite{m_baseImage, overlay, withoutLabel, image});
    }
    return image;
}

void KeyPainter::SetKeyImage(const std::string& context, std::shared_ptr<Graphics> image) {
    m_keyImages[context] = std::move(image);
}

std::shared_ptr<Graphics> KeyPainter::ComposeKeyImage(const std::string& context, bool withoutLabel) const {
    auto own = m_keyImages.find(context);
    if (own == m_keyImages.end() || !own->second) return nullptr;
    if (!HasOverlays() && !withoutLabel) return own->second;
    auto image = std::make_shared<Graphics>(*own->second);
    ComposeOverlays(*image, withoutLabel);
    return image;
}

void KeyPainter::ClearLabel(Graphics& image) {
    // One band per row of the 144-row faces: an even band would show as a
    // patch on the shaded background.
    const int top = static_cast<int>(kLabelTop * kKeyRows + 0.5);
    const int bottom = static_cast<int>(kLabelBottom * kKeyRows + 0.5);
    for (int row = top; row < bottom; ++row) {
        image.FillRect(kLabelInset, static_cast<double>(row) / kKeyRows, 1 - 2 * kLabelInset, 1.0 / kKeyRows,
                       BackgroundAt((row + 0.5) / kKeyRows));
    }
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

void KeyPainter::ComposeOverlays(Graphics& image, bool withoutLabel) const {
    if (withoutLabel) ClearLabel(image);
    if (m_statusOverlay) image.Compose(*m_statusOverlay);
    if (m_transientOverlay) image.Compose(*m_transientOverlay);
}
