// The six status overlays: loaded once per process and shared; a missing file
// costs only its own sign.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <thread>
#include <vector>

#include "diagnostics/ModuleDirectory.h"
#include "elements/StateImageFactory.h"
#include "graphics/ResolveModulePath.h"
#include "support/LogCapture.h"
#include "support/PngDecoder.h"
#include "support/TemporaryDirectory.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::shared_ptr<Graphics>> Images(const StateImageFactory& factory) {
    return {factory.m_errorImage,   factory.m_alertImage,     factory.m_successImage,
            factory.m_offlineImage, factory.m_loggedOutImage, factory.m_notSupportedImage};
}

TEST(StateImageFactoryTest, EveryAcquisitionSharesTheOneInstance) {
    auto first = AcquireStateImageFactory();
    auto second = AcquireStateImageFactory();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    EXPECT_NE(dynamic_cast<StateImageFactoryImpl*>(first.get()), nullptr);
    for (const auto& image : Images(*first)) {
        ASSERT_NE(image, nullptr);
        EXPECT_TRUE(image->HasImage());
        EXPECT_EQ(image->Width(), 144u);
    }
}

TEST(StateImageFactoryTest, ConcurrentAcquisitionsShareTheOneInstance) {
    std::vector<std::shared_ptr<StateImageFactory>> results(4);
    std::vector<std::thread> threads;
    for (auto& result : results) threads.emplace_back([&result] { result = AcquireStateImageFactory(); });
    for (auto& thread : threads) thread.join();
    for (const auto& result : results) EXPECT_EQ(result, AcquireStateImageFactory());
}

TEST(StateImageFactoryTest, AMissingOverlayLeavesTheKeyPlainAndLogsOneCriticalLine) {
    TemporaryDirectory folder("kestrel-overlays");
    const fs::path module(GetModuleDirectory());
    for (const char* name : {"state_error.png", "state_alert.png", "state_success.png",
                             "state_logged_out.png", "state_not_supported.png"})
        fs::copy_file(module / name, folder.Path() / name);
    const fs::path missing = folder.Path() / "state_offline.png";

    std::vector<std::string> lines;
    {
        LogCapture log;
        StateImageFactoryImpl factory([&folder](const std::string& name) { return folder.Path() / name; });
        EXPECT_FALSE(factory.m_offlineImage->HasImage());
        for (const auto& image : Images(factory))
            EXPECT_TRUE(image == factory.m_offlineImage || image->HasImage());

        // A key whose link is down is drawn with the missing overlay: it stays plain.
        Graphics plain(ResolveModulePath(std::string("emberfall.png")));
        Graphics key(plain);
        key.Compose(*factory.m_offlineImage);
        std::string plainText, keyText;
        ASSERT_TRUE(plain.ToBase64Png(plainText));
        ASSERT_TRUE(key.ToBase64Png(keyText));
        EXPECT_EQ(DecodeBase64Png(keyText)->pixels, DecodeBase64Png(plainText)->pixels);
        lines = log.CriticalLines();
    }
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("Failed loading image from file '" + missing.u8string() + "'"), std::string::npos)
        << lines[0];
}

}  // namespace
