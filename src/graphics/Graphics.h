#pragma once
// A key image: a picture loaded from a file, composed with overlays and
// encoded as Base64 PNG text for the host's setImage command. Two back-ends
// behind this header: GDI+ (Graphics_win32.cpp) and cairo (Graphics_posix.cpp).
//
// A Graphics either holds an image or holds none (its file did not load) and
// never changes between the two. An image-less Graphics composes and encodes to
// nothing. Callers compose on copies, so the images they keep are never drawn on.
//
// Threads: none of its own; one Graphics must not be used by two threads at
// once (the control elements serialise their redraws). The cairo back-end
// also lets several threads read one image at once (copy it, draw it as an
// overlay, encode it). Objects are held by std::shared_ptr.

#include <cstdint>
#include <filesystem>
#include <string>

class Graphics {
public:
    // How an image loaded from a file is held while it is kept. Pixels: decoded
    // once, quick to copy and to draw as an overlay. FileBytes: only the
    // compressed image, a fraction of the memory, decoded again for every use
    // as an overlay and when a copy is drawn on; for images that are only
    // copied for a redraw now and then. The result of every operation is the
    // same either way; a back-end may hold pixels in both cases (GDI+ does).
    enum class Keep { Pixels, FileBytes };

    // Loads the image file at `path`; on failure logs the critical line
    // "Failed loading image from file '<path>'" and holds no image. A file
    // that is not a whole PNG (cut short, a chunk altered, not a PNG at all)
    // fails here in both Keep modes; Pixels decodes it at once, FileBytes may
    // leave decoding to its first use (the cairo back-end does), where pixels
    // that do not decode leave the image as it is.
    explicit Graphics(const std::filesystem::path& path, Keep keep = Keep::Pixels);

    // Deep copy of the pixels; a copy of an image-less Graphics is image-less.
    Graphics(const Graphics& other);
    Graphics& operator=(const Graphics&) = delete;

    virtual ~Graphics();

    // Draws `overlay` over this image, stretched or shrunk to cover all of it,
    // alpha-blended. Does nothing when either side holds no image.
    void Compose(const Graphics& overlay);

    // Fills a rectangle, given in fractions of the image's width and height
    // (0 to 1, cut to the image), with the colour |argb| (alpha in the top
    // byte) blended over what is there. Does nothing when there is no image.
    void FillRect(double left, double top, double width, double height, uint32_t argb);

    // PNG-encodes the image and writes its Base64 text (standard alphabet,
    // padded, no line breaks, no data-URL prefix) into `output`. Returns false
    // and leaves `output` as it was when there is no image or encoding fails.
    bool ToBase64Png(std::string& output) const;

    // Encodes the image now and from then on holds only that encoding, a
    // fraction of the memory of its pixels: later encodings cost only the
    // Base64, drawing on a copy decodes it again. For composites kept to be
    // sent again. False, and the image as it was, when there is no image,
    // encoding fails or the back-end always holds pixels (GDI+). Draws on
    // the image, so no other thread may use it meanwhile.
    bool HoldEncoded();

    // While at least one hold is taken, an image kept as its file's bytes
    // keeps the pixels of its first decoding for its later uses as an
    // overlay, so that a round of key redraws decodes each overlay once; the
    // last release drops them. Nothing changes for an image that holds its
    // pixels anyway (GDI+ always does). Each hold is released once.
    void HoldDecodedPixels() const;
    void ReleaseDecodedPixels() const;

    bool HasImage() const { return m_image != nullptr; }
    // Size in pixels; 0 when there is no image.
    unsigned Width() const;
    unsigned Height() const;

private:
    struct Image;  // the back-end's picture

    // The critical log line of a failed load, the same on both back-ends.
    static void LogLoadFailure(const std::filesystem::path& path);

    Image* m_image = nullptr;  // owned; null when loading failed
};
