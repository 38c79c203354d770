#pragma once
// The images of one element's keys: the element's base image (kept per file,
// as a key switches between its few files again and again), a key's own
// image where it has one, and the overlays that lie over either, the status
// overlay below the transient mark (alert or success, shown for about 1.5
// seconds). Composites of the base image under a status overlay alone are
// kept: a link or a sign-in that comes and goes redraws every key with the
// same few composites, which then cost no image work. A key whose streamer
// gave it a title of their own is drawn without the face's label (the title
// takes its place); the state still reads from the glyph and its colour.
//
// Threads: none of its own; the owning element calls it with the control
// elements manager's lock held.

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

class Graphics;
class StateImageFactory;

class KeyPainter {
public:
    using Clock = std::chrono::steady_clock;

    // Where every face draws its label (art/images_list.py LABEL_BOX), as
    // parts of the key's height, and the key's inner edge beside it, inside
    // the rounded corners.
    static constexpr double kLabelTop = 104.0 / 144;
    static constexpr double kLabelBottom = 134.0 / 144;
    static constexpr double kLabelInset = 2.0 / 144;

    explicit KeyPainter(std::shared_ptr<StateImageFactory> overlays);
    ~KeyPainter();

    // The status and transient overlay images.
    const StateImageFactory& Overlays() const { return *m_overlays; }

    // Makes the file of the plug-in folder the base image. A file that did
    // not load is tried again the next time it is asked for.
    void SetBaseImageFromFile(const std::string& fileName);
    bool HasBaseImage() const { return m_baseImage != nullptr; }
    // The base image with the overlays, or null without a base image;
    // |withoutLabel| for a key that shows the streamer's own title.
    std::shared_ptr<Graphics> ComposeBaseImage(bool withoutLabel = false);

    // A key appeared: it shows the base image until it is given its own.
    void AppearKey(const std::string& context) { m_keyImages[context] = nullptr; }
    void SetKeyImage(const std::string& context, std::shared_ptr<Graphics> image);
    void ForgetKey(const std::string& context) { m_keyImages.erase(context); }
    // The key's own image with the overlays, or null when it has none.
    std::shared_ptr<Graphics> ComposeKeyImage(const std::string& context, bool withoutLabel = false) const;
    // Paints the label box over with the key's own background, row by row as
    // the faces shade it, so that a title there stands alone.
    static void ClearLabel(Graphics& image);
    // Keys with a record (a null image included).
    size_t RecordCount() const { return m_keyImages.size(); }

    // The status overlay, or null for none.
    void SetStatusOverlay(std::shared_ptr<Graphics> overlay) { m_statusOverlay = std::move(overlay); }
    // Replaces the transient mark and starts its time again.
    void SetTransientOverlay(std::shared_ptr<Graphics> image, Clock::time_point now);
    bool HasTransientOverlay() const { return m_transientShown; }
    // Drops the transient mark once its time is over; true when it did.
    bool ExpireTransientOverlay(Clock::time_point now);

private:
    bool HasOverlays() const { return m_statusOverlay || m_transientOverlay; }
    // The label cleared first, so that a status overlay dims the cleared
    // box as it dims the rest of the key.
    void ComposeOverlays(Graphics& image, bool withoutLabel) const;

    std::shared_ptr<StateImageFactory> m_overlays;
    std::shared_ptr<Graphics> m_baseImage;
    std::map<std::string, std::shared_ptr<Graphics>> m_fileImages;  // file name -> its kept image
    std::map<std::string, std::shared_ptr<Graphics>> m_keyImages;   // context -> its own image, or null
    std::shared_ptr<Graphics> m_statusOverlay;
    std::shared_ptr<Graphics> m_transientOverlay;
    bool m_transientShown = false;  // set even for a null mark, which expires as any other
    Clock::time_point m_transientSince;
    // The base image under each status overlay it was last drawn with (at
    // most one entry per status overlay, with and without the label), held
    // as its encoding.
    struct KeptComposite {
        std::shared_ptr<Graphics> base;
        std::shared_ptr<Graphics> overlay;
        bool withoutLabel;
        std::shared_ptr<Graphics> image;
    };
    std::vector<KeptComposite> m_keptComposites;
};
