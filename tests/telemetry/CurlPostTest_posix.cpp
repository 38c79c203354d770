// kestrel-post's transfer with the system's libcurl against a real server on
// 127.0.0.1: a libcurl that cannot limit the transfer to http and https
// makes no request at all and says why, and one that only knows the older
// limit still keeps every other protocol out.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdarg>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "support/TemporaryDirectory.h"
#include "support/TestHttpServer.h"
#include "telemetry/CurlLibrary.h"
#include "telemetry/CurlPost_posix.h"
#include "telemetry/PostFrames.h"

namespace {

using namespace std::chrono_literals;

const CurlLibrary* g_real = nullptr;
bool g_refuseNames = false;  // CURLOPT_PROTOCOLS_STR, as before libcurl 7.85
bool g_refuseMask = false;   // CURLOPT_PROTOCOLS, the older bit mask
// CURLOPT_PROTOCOLS by its number: its name is marked deprecated.
constexpr int kProtocolMask = CURLOPTTYPE_LONG + 181;

// libcurl's setopt with some protocol limits refused; every other option is
// handed on with the argument type its number says.
CURLcode LimitedSetopt(CURL* curl, CURLoption option, ...) {
    if ((option == CURLOPT_PROTOCOLS_STR && g_refuseNames) || (option == kProtocolMask && g_refuseMask))
        return CURLE_UNKNOWN_OPTION;
    va_list args;
    va_start(args, option);
    CURLcode result = CURLE_OK;
    if (option < CURLOPTTYPE_OBJECTPOINT) {
        result = g_real->easySetopt(curl, option, va_arg(args, long));
    } else if (option >= CURLOPTTYPE_OFF_T && option < CURLOPTTYPE_BLOB) {
        result = g_real->easySetopt(curl, option, va_arg(args, curl_off_t));
    } else {
        result = g_real->easySetopt(curl, option, va_arg(args, void*));
    }
    va_end(args);
    return result;
}

// Runs one transfer and returns its result and the frames it wrote.
bool Transfer(const CurlLibrary& lib, const std::string& url, std::vector<PostFrame>& frames) {
    int ends[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
    PostRequest request{url, "agent", "Content-Type: application/json", 3000, "{}"};
    bool result = CurlPost(lib, request, ends[1]);
    close(ends[1]);
    PostFrameReader reader;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = read(ends[0], buffer, sizeof buffer)) > 0) reader.Feed(buffer, static_cast<size_t>(got));
    close(ends[0]);
    while (auto frame = reader.Next()) frames.push_back(*frame);
    return result;
}

class CurlPostTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_real = CurlLibrary::Get();
        if (!g_real) GTEST_SKIP() << "no libcurl on this machine";
        m_limited.emplace(*g_real);
        m_limited->easySetopt = &LimitedSetopt;
    }
    void TearDown() override { g_refuseNames = g_refuseMask = false; }

    std::optional<CurlLibrary> m_limited;
};

TEST_F(CurlPostTest, ALibcurlThatRefusesEveryProtocolLimitMakesNoRequestAndSaysWhy) {
    TestHttpServer server;
    g_refuseNames = g_refuseMask = true;
    std::vector<PostFrame> frames;
    EXPECT_FALSE(Transfer(*m_limited, server.Url("/science"), frames));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].type, post_frame::kUnavailable);
    EXPECT_NE(frames[0].payload.find("http and https"), std::string::npos) << frames[0].payload;
    EXPECT_FALSE(server.WaitForConnectionBytes(1, 500ms)) << "a request went out without the limit";
}

TEST_F(CurlPostTest, TheOlderLimitStillPostsOverHttpAndKeepsAFileOut) {
    g_refuseNames = true;
    TestHttpServer server;
    std::vector<PostFrame> frames;
    EXPECT_TRUE(Transfer(*m_limited, server.Url("/science"), frames));
    ASSERT_TRUE(server.WaitForRequests(1, 5s));
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].type, post_frame::kHeaderLine);

    TemporaryDirectory directory("kestrel-curl-post-test");
    std::string secret = (directory.Path() / "secret.txt").string();
    std::ofstream(secret) << "not for the collector";
    for (bool older : {true, false}) {
        g_refuseNames = older;
        std::vector<PostFrame> answer;
        Transfer(*m_limited, "file://" + secret, answer);
        for (const PostFrame& frame : answer) {
            EXPECT_EQ(frame.payload.find("not for the collector"), std::string::npos)
                << (older ? "older limit" : "named limit");
        }
    }
}

}  // namespace
