// Loading, copying, composing and encoding key images, checked through the
// PNG that ToBase64Png produces, decoded by the tests' own decoder.

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <zlib.h>

#include "diagnostics/Platform.h"
#include "graphics/Base64.h"
#include "graphics/Graphics.h"
#include "graphics/ResolveModulePath.h"
#include "support/LogCapture.h"
#include "support/PngDecoder.h"
#include "support/PngWriter.h"
#include "support/TemporaryDirectory.h"

namespace {

const RgbaImage::Pixel kRed = {255, 0, 0, 255};
const RgbaImage::Pixel kBlue = {0, 0, 255, 255};
const RgbaImage::Pixel kGreen = {0, 255, 0, 255};
const RgbaImage::Pixel kBlack = {0, 0, 0, 255};
const RgbaImage::Pixel kClear = {0, 0, 0, 0};

// Channel-wise comparison with room for the rounding of scaling and blending.
::testing::AssertionResult Near(const RgbaImage::Pixel& actual, const RgbaImage::Pixel& expected,
                                int tolerance = 4) {
    for (int i = 0; i < 4; ++i) {
        if (std::abs(int(actual[i]) - int(expected[i])) > tolerance) {
            return ::testing::AssertionFailure()
                   << "pixel (" << int(actual[0]) << "," << int(actual[1]) << "," << int(actual[2]) << ","
                   << int(actual[3]) << ") expected (" << int(expected[0]) << "," << int(expected[1]) << ","
                   << int(expected[2]) << "," << int(expected[3]) << ")";
        }
    }
    return ::testing::AssertionSuccess();
}

class GraphicsTest : public ::testing::Test {
protected:
    GraphicsTest() : m_directory("kestrel-graphics-test") {}

    // Writes `image` as a PNG file of the test's folder and loads it.
    std::shared_ptr<Graphics> Load(const std::string& name, const RgbaImage& image,
                                   Graphics::Keep keep = Graphics::Keep::Pixels) {
        std::string path = (m_directory.Path() / name).u8string();
        EXPECT_TRUE(WritePngFile(path, image));
        return std::make_shared<Graphics>(std::filesystem::u8path(path), keep);
    }

    std::shared_ptr<Graphics> Missing() {
        return std::make_shared<Graphics>(m_directory.Path() / "missing.png");
    }

    static RgbaImage Decode(const Graphics& graphics) {
        std::string text;
        EXPECT_TRUE(graphics.ToBase64Png(text));
        auto image = DecodeBase64Png(text);
        EXPECT_TRUE(image.has_value()) << "not a decodable Base64 PNG";
        return image.value_or(RgbaImage());
    }

    TemporaryDirectory m_directory;
};

// Quadrants: blue top left, green bottom right, the rest transparent.
RgbaImage QuadrantOverlay(unsigned size) {
    RgbaImage overlay(size, size, kClear);
    overlay.Fill(0, 0, size / 2, size / 2, kBlue);
    overlay.Fill(size / 2, size / 2, size, size, kGreen);
    return overlay;
}

TEST_F(GraphicsTest, LoadsAndEncodesThePixelsOfTheFile) {
    RgbaImage picture(16, 12, kClear);
    picture.Fill(0, 0, 8, 12, kRed);
    picture.Fill(8, 0, 16, 6, {10, 200, 30, 128});
    auto graphics = Load("picture.png", picture);
    ASSERT_TRUE(graphics->HasImage());
    EXPECT_EQ(graphics->Width(), 16u);
    EXPECT_EQ(graphics->Height(), 12u);

    std::string text;
    ASSERT_TRUE(graphics->ToBase64Png(text));
    EXPECT_EQ(text.size() % 4, 0u);
    EXPECT_EQ(text.rfind("iVBORw0KGgo", 0), 0u)
        << "Base64 of the PNG signature, no prefix: " << text.substr(0, 30);
    auto decoded = DecodeBase64Png(text);
    ASSERT_TRUE(decoded.has_value());
    ASSERT_EQ(decoded->width, 16u);
    ASSERT_EQ(decoded->height, 12u);
    EXPECT_TRUE(Near(decoded->At(2, 2), kRed));
    EXPECT_TRUE(Near(decoded->At(12, 3), {10, 200, 30, 128}));
    EXPECT_EQ(decoded->At(12, 9)[3], 0) << "transparency is kept";
}

TEST_F(GraphicsTest, ScalesASmallerOverlayToExactlyTheBaseSize) {
    auto base = Load("base.png", RgbaImage(40, 40, kRed));
    auto overlay = Load("overlay.png", QuadrantOverlay(8));
    Graphics key(*base);
    key.Compose(*overlay);
    EXPECT_EQ(key.Width(), 40u);
    EXPECT_EQ(key.Height(), 40u);
    RgbaImage result = Decode(key);
    ASSERT_EQ(result.width, 40u);
    // Probes away from the quadrant seams and the border, where the platforms'
    // interpolations differ.
    EXPECT_TRUE(Near(result.At(8, 8), kBlue));
    EXPECT_TRUE(Near(result.At(28, 28), kGreen));
    EXPECT_TRUE(Near(result.At(33, 33), kGreen));
    EXPECT_TRUE(Near(result.At(30, 8), kRed));
    EXPECT_TRUE(Near(result.At(8, 30), kRed));
}

TEST_F(GraphicsTest, ShrinksALargerOverlayToTheBaseSize) {
    auto base = Load("base.png", RgbaImage(40, 30, kRed));
    auto overlay = Load("overlay.png", QuadrantOverlay(120));
    Graphics key(*base);
    key.Compose(*overlay);
    RgbaImage result = Decode(key);
    ASSERT_EQ(result.width, 40u);
    ASSERT_EQ(result.height, 30u);
    EXPECT_TRUE(Near(result.At(8, 6), kBlue));
    EXPECT_TRUE(Near(result.At(32, 24), kGreen));
    EXPECT_TRUE(Near(result.At(32, 6), kRed));
}

TEST_F(GraphicsTest, BlendsATranslucentOverlayOverTheBase) {
    auto base = Load("base.png", RgbaImage(20, 20, kBlack));
    auto overlay = Load("overlay.png", RgbaImage(20, 20, {255, 255, 255, 128}));
    Graphics key(*base);
    key.Compose(*overlay);
    EXPECT_TRUE(Near(Decode(key).At(10, 10), {128, 128, 128, 255}, 6));
}

TEST_F(GraphicsTest, FillsAShareOfTheImageBlendedOverItAndOnlyThere) {
    for (Graphics::Keep keep : {Graphics::Keep::Pixels, Graphics::Keep::FileBytes}) {
        auto base = Load("base.png", RgbaImage(40, 20, kBlack), keep);
        Graphics key(*base);
        key.FillRect(0.5, 0.5, 0.5, 0.5, 0xFF00FF00);  // the bottom right quarter, opaque green
        key.FillRect(0, 0, 1, 0.5, 0x80FFFFFF);        // the top half, half-transparent white
        key.FillRect(-1, 0.9, 9, 9, 0xFF0000FF);       // cut to the image: the bottom row band, blue
        RgbaImage result = Decode(key);
        ASSERT_EQ(result.width, 40u);
        EXPECT_TRUE(Near(result.At(30, 14), kGreen));
        EXPECT_TRUE(Near(result.At(10, 14), kBlack));
        EXPECT_TRUE(Near(result.At(10, 4), {128, 128, 128, 255}, 6));
        EXPECT_TRUE(Near(result.At(5, 19), kBlue));
        EXPECT_TRUE(Near(result.At(35, 19), kBlue));
        // The kept image is not drawn on.
        EXPECT_TRUE(Near(Decode(*base).At(30, 14), kBlack));
    }
    auto missing = Missing();
    missing->FillRect(0, 0, 1, 1, 0xFFFFFFFF);  // nothing to draw on, and no fault
    EXPECT_FALSE(missing->HasImage());
}

TEST_F(GraphicsTest, LaterOverlaysLieOnTopOfEarlierOnes) {
    auto base = Load("base.png", RgbaImage(20, 20, kRed));
    auto blue = Load("blue.png", RgbaImage(20, 20, kBlue));
    RgbaImage leftGreen(20, 20, kClear);
    leftGreen.Fill(0, 0, 10, 20, kGreen);
    auto green = Load("green.png", leftGreen);

    Graphics blueThenGreen(*base);
    blueThenGreen.Compose(*blue);
    blueThenGreen.Compose(*green);
    RgbaImage first = Decode(blueThenGreen);
    EXPECT_TRUE(Near(first.At(4, 10), kGreen));
    EXPECT_TRUE(Near(first.At(15, 10), kBlue));

    Graphics greenThenBlue(*base);
    greenThenBlue.Compose(*green);
    greenThenBlue.Compose(*blue);
    RgbaImage second = Decode(greenThenBlue);
    EXPECT_TRUE(Near(second.At(4, 10), kBlue));
    EXPECT_TRUE(Near(second.At(15, 10), kBlue));
}

TEST_F(GraphicsTest, ComposingOnACopyLeavesTheOriginalUntouched) {
    auto base = Load("base.png", RgbaImage(20, 20, kRed));
    auto overlay = Load("overlay.png", RgbaImage(20, 20, kBlue));
    RgbaImage before = Decode(*base);
    Graphics copy(*base);
    copy.Compose(*overlay);
    EXPECT_TRUE(Near(Decode(copy).At(5, 5), kBlue));
    EXPECT_EQ(Decode(*base).pixels, before.pixels);
}

TEST_F(GraphicsTest, AnImageLessOverlayLeavesTheBaseUnchanged) {
    RgbaImage picture(24, 24, kRed);
    picture.Fill(0, 0, 12, 12, {0, 0, 255, 100});
    auto base = Load("base.png", picture);
    auto missing = Missing();
    ASSERT_FALSE(missing->HasImage());
    Graphics key(*base);
    key.Compose(*missing);
    EXPECT_EQ(Decode(key).pixels, Decode(*base).pixels);
}

TEST_F(GraphicsTest, AnImageLessGraphicsComposesCopiesAndEncodesToNothing) {
    auto missing = Missing();
    auto overlay = Load("overlay.png", RgbaImage(8, 8, kBlue));
    EXPECT_FALSE(missing->HasImage());
    EXPECT_EQ(missing->Width(), 0u);
    EXPECT_EQ(missing->Height(), 0u);
    missing->Compose(*overlay);
    EXPECT_FALSE(missing->HasImage());

    Graphics copy(*missing);
    EXPECT_FALSE(copy.HasImage());
    std::string output = "left alone";
    EXPECT_FALSE(missing->ToBase64Png(output));
    EXPECT_FALSE(copy.ToBase64Png(output));
    EXPECT_EQ(output, "left alone");
}

TEST_F(GraphicsTest, AFailedLoadLogsOneCriticalLineWithThePath) {
    // A name outside ASCII, so the line proves the path is written as UTF-8.
    std::string missingPath = (m_directory.Path() / "missing").u8string() + "-\xC3\xBC.png";
    std::string garbagePath = (m_directory.Path() / "garbage.png").u8string();
    { std::ofstream(std::filesystem::u8path(garbagePath), std::ios::binary) << "not a PNG at all"; }
    LogCapture log;
    Graphics missing(std::filesystem::u8path(missingPath));
    Graphics garbage(std::filesystem::u8path(garbagePath));
    EXPECT_FALSE(missing.HasImage());
    EXPECT_FALSE(garbage.HasImage());
    auto lines = log.CriticalLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("Failed loading image from file '" + missingPath + "'"), std::string::npos)
        << lines[0];
    EXPECT_NE(lines[1].find("Failed loading image from file '" + garbagePath + "'"), std::string::npos)
        << lines[1];
}

TEST_F(GraphicsTest, ACombinedPathTooLongForThePlatformFailsTheLoadWithTheLogLine) {
    LogCapture log;
    Graphics graphics(ResolveModulePath(std::string(5000, 'k') + ".png"));
    EXPECT_FALSE(graphics.HasImage());
    auto lines = log.CriticalLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("Failed loading image from file '"), std::string::npos) << lines[0];
}

// A picture with opaque, translucent and clear parts, so that any difference
// in decoding or premultiplying shows.
RgbaImage MixedPicture(unsigned size) {
    RgbaImage picture(size, size, kClear);
    picture.Fill(0, 0, size / 2, size, kRed);
    picture.Fill(size / 2, 0, size, size / 2, {10, 200, 30, 128});
    return picture;
}

std::string EncodeText(const Graphics& graphics) {
    std::string text;
    EXPECT_TRUE(graphics.ToBase64Png(text));
    return text;
}

std::string Redraw(const Graphics& base, const Graphics& status, const Graphics& transient) {
    Graphics key(base);
    key.Compose(status);
    key.Compose(transient);
    return EncodeText(key);
}

TEST_F(GraphicsTest, KeepingOnlyTheFileGivesTheSameImagesAsKeepingThePixels) {
    using Keep = Graphics::Keep;
    // Files of their own: GDI+ holds a loaded file open.
    auto pixels = Load("base-pixels.png", MixedPicture(24), Keep::Pixels);
    auto file = Load("base-file.png", MixedPicture(24), Keep::FileBytes);
    auto overlayPixels = Load("overlay-pixels.png", QuadrantOverlay(8), Keep::Pixels);
    auto overlayFile = Load("overlay-file.png", QuadrantOverlay(8), Keep::FileBytes);
    ASSERT_TRUE(file->HasImage());
    EXPECT_EQ(file->Width(), 24u);
    EXPECT_EQ(file->Height(), 24u);
    EXPECT_EQ(EncodeText(*file), EncodeText(*pixels));
    EXPECT_EQ(EncodeText(Graphics(*file)), EncodeText(*pixels));

    // Every pairing of the two ways, as base and as overlay, draws the same key.
    const std::string expected = Redraw(*pixels, *overlayPixels, *overlayPixels);
    EXPECT_EQ(Redraw(*file, *overlayPixels, *overlayPixels), expected);
    EXPECT_EQ(Redraw(*pixels, *overlayFile, *overlayFile), expected);
    EXPECT_EQ(Redraw(*file, *overlayFile, *overlayPixels), expected);

    // Drawing on the kept image itself draws on pixels from then on.
    file->Compose(*overlayFile);
    file->Compose(*overlayFile);
    EXPECT_EQ(EncodeText(*file), expected);
    EXPECT_EQ(EncodeText(*pixels), EncodeText(Graphics(*pixels))) << "the other image is untouched";
}

TEST_F(GraphicsTest, CopiesOfOneKeptFileAreComposedApart) {
    // Two keys share one kept image; each composes its own overlay on a copy.
    auto shared = Load("base.png", RgbaImage(20, 20, kRed), Graphics::Keep::FileBytes);
    auto blue = Load("blue.png", RgbaImage(20, 20, kBlue));
    auto green = Load("green.png", RgbaImage(20, 20, kGreen), Graphics::Keep::FileBytes);
    const std::string before = EncodeText(*shared);
    Graphics first(*shared);
    Graphics second(*shared);
    first.Compose(*blue);
    second.Compose(*green);
    EXPECT_TRUE(Near(Decode(first).At(5, 5), kBlue));
    EXPECT_TRUE(Near(Decode(second).At(5, 5), kGreen));
    EXPECT_EQ(EncodeText(*shared), before);
    EXPECT_TRUE(Near(Decode(Graphics(*shared)).At(5, 5), kRed));
}

// Writes |bytes| as a file of the test folder and returns its path.
std::string WriteBytes(const std::filesystem::path& folder, const std::string& name,
                       const std::string& bytes) {
    std::string path = (folder / name).u8string();
    std::ofstream(std::filesystem::u8path(path), std::ios::binary) << bytes;
    return path;
}

// A file that is not a whole PNG fails as it is loaded, also when it is kept
// as bytes and so not decoded then: cut short, a byte of its pixel data
// altered (its chunk's CRC no longer matches), or a directory.
TEST_F(GraphicsTest, AFileThatIsNotAWholePngFailsWhenLoaded) {
    std::string fullPath = (m_directory.Path() / "full.png").u8string();
    ASSERT_TRUE(WritePngFile(fullPath, MixedPicture(32)));
    std::ifstream full(std::filesystem::u8path(fullPath), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(full)), std::istreambuf_iterator<char>());
    const std::string cutPath = WriteBytes(m_directory.Path(), "cut.png", bytes.substr(0, bytes.size() / 2));
    std::string altered = bytes;
    altered[bytes.find("IDAT") + 8] ^= 0x20;
    const std::string alteredPath = WriteBytes(m_directory.Path(), "altered.png", altered);

    LogCapture log;
    for (Graphics::Keep keep : {Graphics::Keep::Pixels, Graphics::Keep::FileBytes}) {
        Graphics cut(std::filesystem::u8path(cutPath), keep);
        Graphics directory(m_directory.Path(), keep);
        EXPECT_FALSE(cut.HasImage());
        EXPECT_FALSE(directory.HasImage());
        EXPECT_EQ(cut.Width(), 0u);
        // GDI+ has a decoder of its own, which may or may not look at CRCs.
        if (!KESTREL_WIN32) {
            EXPECT_FALSE(Graphics(std::filesystem::u8path(alteredPath), keep).HasImage());
        }
    }
    auto lines = log.CriticalLines();
    ASSERT_EQ(lines.size(), KESTREL_WIN32 ? 4u : 6u);
    EXPECT_NE(lines[0].find("Failed loading image from file '" + cutPath + "'"), std::string::npos)
        << lines[0];
}

// Kept as bytes, a whole PNG whose pixel data does not decode is found out at
// its first use: nothing is encoded from it and drawing with it does nothing.
TEST_F(GraphicsTest, AKeptFileWhosePixelsDoNotDecodeIsRefusedAtItsFirstUse) {
    if (KESTREL_WIN32) GTEST_SKIP() << "GDI+ decodes every file as it loads it";
    std::string fullPath = (m_directory.Path() / "full.png").u8string();
    ASSERT_TRUE(WritePngFile(fullPath, MixedPicture(32)));
    std::ifstream full(std::filesystem::u8path(fullPath), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(full)), std::istreambuf_iterator<char>());
    // The zlib stream's header made invalid, and the chunk's CRC made to match again.
    const size_t type = bytes.find("IDAT");
    const uint32_t length = (uint32_t(uint8_t(bytes[type - 4])) << 24) |
                            (uint32_t(uint8_t(bytes[type - 3])) << 16) |
                            (uint32_t(uint8_t(bytes[type - 2])) << 8) | uint8_t(bytes[type - 1]);
    bytes[type + 4] = 0x7f;
    const uLong crc =
        crc32(0L, reinterpret_cast<const Bytef*>(bytes.data() + type), static_cast<uInt>(4 + length));
    for (int i = 0; i < 4; ++i) bytes[type + 4 + length + i] = static_cast<char>(crc >> (24 - 8 * i));
    const std::string path = WriteBytes(m_directory.Path(), "broken-pixels.png", bytes);

    Graphics kept(std::filesystem::u8path(path), Graphics::Keep::FileBytes);
    ASSERT_TRUE(kept.HasImage());
    EXPECT_EQ(kept.Width(), 32u);
    std::string text;
    EXPECT_FALSE(kept.ToBase64Png(text));
    EXPECT_FALSE(Graphics(kept).ToBase64Png(text));
    auto red = Load("red.png", RgbaImage(32, 32, kRed));
    Graphics copy(kept);
    copy.Compose(*red);  // nothing to draw on
    red->Compose(kept);  // nothing to draw
    EXPECT_TRUE(Near(Decode(*red).At(5, 5), kRed));
}

TEST_F(GraphicsTest, KeptImagesServeRedrawsOnSeveralThreadsAtOnce) {
    if (KESTREL_WIN32) GTEST_SKIP() << "a GDI+ image serves one thread at a time; the elements take turns";
    // Kept images are only read (copied, drawn as overlays); each thread
    // draws on its own copies.
    auto base = Load("base.png", MixedPicture(48), Graphics::Keep::FileBytes);
    auto status = Load("status.png", QuadrantOverlay(16), Graphics::Keep::FileBytes);
    auto transient = Load("transient.png", QuadrantOverlay(24));
    const std::string expected = Redraw(*base, *status, *transient);
    ASSERT_FALSE(expected.empty());

    constexpr int kThreads = 4;
    constexpr int kRedraws = 25;
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRedraws; ++i) {
                if (Redraw(*base, *status, *transient) != expected) ++mismatches[t];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

// Every alpha value with colours from dark to bright: whatever a back-end
// keeps instead of the file must decode to exactly the file's pixels.
RgbaImage EveryAlpha() {
    RgbaImage picture(256, 8, kClear);
    for (unsigned x = 0; x < 256; ++x) {
        for (unsigned y = 0; y < 8; ++y) {
            picture.Set(x, y,
                        {uint8_t(y * 36), uint8_t(255 - x), uint8_t((x * 7 + y * 31) % 256), uint8_t(x)});
        }
    }
    return picture;
}

TEST_F(GraphicsTest, AKeptFileEncodesAndDrawsTheSameAtEveryUseAndOnSeveralThreads) {
    using Keep = Graphics::Keep;
    auto pixels = Load("every-alpha-pixels.png", EveryAlpha(), Keep::Pixels);
    auto overlay = Load("overlay.png", QuadrantOverlay(16), Keep::Pixels);
    const std::string plain = EncodeText(*pixels);
    const std::string drawn = Redraw(*pixels, *overlay, *overlay);

    // Threads encode and draw one kept file at once, from its very first use.
    auto file = Load("every-alpha-file.png", EveryAlpha(), Keep::FileBytes);
    constexpr int kThreads = KESTREL_WIN32 ? 1 : 4;
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 5; ++i) {
                if (EncodeText(*file) != plain) ++mismatches[t];
                if (EncodeText(Graphics(*file)) != plain) ++mismatches[t];
                if (Redraw(*file, *overlay, *overlay) != drawn) ++mismatches[t];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;

    // A plain copy drawn on later draws on the file's pixels, and leaves the kept image plain.
    Graphics copy(*file);
    EXPECT_EQ(EncodeText(copy), plain);
    copy.Compose(*overlay);
    copy.Compose(*overlay);
    EXPECT_EQ(EncodeText(copy), drawn);
    EXPECT_EQ(EncodeText(*file), plain);
}

TEST_F(GraphicsTest, ACompositeHeldAsItsEncodingEncodesAndDrawsAsBefore) {
    // The elements keep composites under a status overlay this way and draw a
    // held key's fill on copies of them.
    auto base = Load("base.png", EveryAlpha(), Graphics::Keep::FileBytes);
    auto overlay = Load("overlay.png", QuadrantOverlay(16));
    Graphics composite(*base);
    composite.Compose(*overlay);
    const std::string plain = EncodeText(composite);
    const std::string drawn = Redraw(composite, *overlay, *overlay);

    EXPECT_EQ(composite.HoldEncoded(), !KESTREL_WIN32) << "GDI+ always holds pixels";
    EXPECT_EQ(composite.Width(), 256u);
    EXPECT_EQ(EncodeText(composite), plain);
    EXPECT_EQ(EncodeText(composite), plain);
    EXPECT_EQ(Redraw(composite, *overlay, *overlay), drawn);
    EXPECT_EQ(EncodeText(composite), plain) << "drawing on a copy leaves it as it was";
    EXPECT_FALSE(Missing()->HoldEncoded());
}

TEST_F(GraphicsTest, AnOverlayHeldDecodedDrawsAsItsFileAndFollowsWhatIsDrawnOnIt) {
    // A round of redraws holds the shared overlays decoded: every key drawn
    // with them, on several threads at once, looks as without the hold.
    auto base = Load("base.png", MixedPicture(24), Graphics::Keep::FileBytes);
    auto overlay = Load("overlay.png", QuadrantOverlay(8), Graphics::Keep::FileBytes);
    auto reference = Load("reference.png", QuadrantOverlay(8));
    const std::string expected = Redraw(*base, *overlay, *overlay);
    overlay->HoldDecodedPixels();
    overlay->HoldDecodedPixels();
    constexpr int kThreads = KESTREL_WIN32 ? 1 : 4;
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 5; ++i)
                if (Redraw(*base, *overlay, *overlay) != expected) ++mismatches[t];
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
    overlay->ReleaseDecodedPixels();
    EXPECT_EQ(Redraw(*base, *overlay, *overlay), expected);

    // Drawn on while held, the overlay shows what was drawn, not its file.
    auto red = Load("red.png", RgbaImage(8, 8, {255, 0, 0, 128}));
    overlay->Compose(*red);
    reference->Compose(*red);
    EXPECT_EQ(Redraw(*base, *overlay, *overlay), Redraw(*base, *reference, *reference));
    overlay->ReleaseDecodedPixels();
    overlay->ReleaseDecodedPixels();  // one release too many changes nothing
    EXPECT_EQ(Redraw(*base, *overlay, *overlay), Redraw(*base, *reference, *reference));
    EXPECT_EQ(EncodeText(*base), EncodeText(Graphics(*base))) << "the base stays as it was";
}

TEST(Base64Test, EncodesTheRfc4648VectorsAndEveryByteValue) {
    auto encode = [](const std::string& bytes) {
        return EncodeBase64(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    };
    EXPECT_EQ(encode(""), "");
    EXPECT_EQ(encode("f"), "Zg==");
    EXPECT_EQ(encode("fo"), "Zm8=");
    EXPECT_EQ(encode("foo"), "Zm9v");
    EXPECT_EQ(encode("foob"), "Zm9vYg==");
    EXPECT_EQ(encode("fooba"), "Zm9vYmE=");
    EXPECT_EQ(encode("foobar"), "Zm9vYmFy");
    std::vector<uint8_t> every;
    for (int round = 0; round < 3; ++round)
        for (int value = 255; value >= 0; --value) every.push_back(static_cast<uint8_t>(value));
    for (size_t cut = every.size() - 3; cut <= every.size(); ++cut) {
        const std::vector<uint8_t> bytes(every.begin(), every.begin() + cut);
        EXPECT_EQ(DecodeBase64(EncodeBase64(bytes.data(), bytes.size())), bytes) << cut << " bytes";
    }
}

}  // namespace
