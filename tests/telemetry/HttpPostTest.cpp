// The HTTP POST client against a real server on 127.0.0.1: what is sent,
// what comes back whatever the status, how the response is chunked, the
// calls that must not reach the network at all, and the limits that keep a
// slow, silent, verbose or redirecting server from holding the caller.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/Platform.h"
#include "support/TestHttpServer.h"
#include "telemetry/HttpPost.h"

#ifndef _WIN32
#include <sys/wait.h>

#include "telemetry/PostFrames.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
constexpr auto kWait = std::chrono::seconds(10);
// Every answer the tests trickle would take minutes in full.
const std::string kLongBody(200, 'x');
const std::string kHeader = "Content-Type: application/json";

struct Chunks {
    std::vector<size_t> sizes;
    std::string bytes;
    std::string headers;
};

bool PostRaw(const std::string& url, const std::string& body, Chunks& chunks, size_t stopAfter = 1000,
             const HttpPostLimits& limits = {}) {
    auto sink = [&chunks, stopAfter](const std::string& headers, const char* data, size_t length) {
        chunks.headers = headers;
        chunks.sizes.push_back(length);
        chunks.bytes.append(data, length);
        return chunks.sizes.size() < stopAfter;
    };
    return HttpPostRaw(url, nullptr, kHeader, body.data(), body.size(), sink, limits);
}

// A post that ends before its answer does (sink, limit, deadline) leaves no
// posting helper running or unreaped.
void ExpectNoHelperLeft() {
#ifndef _WIN32
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "the posting helper outlived its post";
#endif
}

TEST(HttpPostTest, PostsTheBodyWithItsContentTypeAndReturnsTheResponseWhateverTheStatus) {
    TestHttpServer server;
    server.SetResponse(500, "collector is down");
    std::string body = "[{\"name\":\"caf\xC3\xA9\"}]";

    EXPECT_EQ(HttpPost(server.Url("/science/insert/kestrel?x=1"), "application/json", body),
              "collector is down");

    ASSERT_TRUE(server.WaitForRequests(1, kWait));
    RecordedHttpRequest request = server.Requests().at(0);
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/science/insert/kestrel?x=1");
    EXPECT_EQ(request.Header("Content-Type"), "application/json");
    EXPECT_EQ(request.Header("User-Agent"), "NSIS HTTP Client");
    EXPECT_EQ(request.body, body);
}

TEST(HttpPostTest, DeliversTheResponseInFullChunksEndedByAShorterOne) {
    TestHttpServer server;
    std::string exact(32768, 'a');
    exact[0] = 'A';
    exact[32767] = 'Z';
    server.SetResponse(200, exact);
    Chunks chunks;
    ASSERT_TRUE(PostRaw(server.Url("/"), "{}", chunks));
    EXPECT_EQ(chunks.sizes, (std::vector<size_t>{32768, 0}));
    EXPECT_EQ(chunks.bytes, exact);
    EXPECT_NE(chunks.headers.find("HTTP/1.1 200"), std::string::npos);
    EXPECT_EQ(HttpPost(server.Url("/"), "application/json", "{}"), exact);

    std::string longer(50000, 'b');  // below the 64 KiB the client reads at most
    server.SetResponse(200, longer);
    Chunks more;
    ASSERT_TRUE(PostRaw(server.Url("/"), "{}", more));
    EXPECT_EQ(more.sizes, (std::vector<size_t>{32768, 17232}));
    EXPECT_TRUE(more.bytes == longer);

    server.SetResponse(204, "");
    Chunks none;
    ASSERT_TRUE(PostRaw(server.Url("/"), "{}", none));
    EXPECT_EQ(none.sizes, (std::vector<size_t>{0}));
}

TEST(HttpPostTest, StopsReadingWhenTheSinkSaysSo) {
    TestHttpServer server;
    server.SetResponse(200, std::string(100000, 'c'));
    Chunks chunks;
    EXPECT_TRUE(PostRaw(server.Url("/"), "{}", chunks, 1));
    EXPECT_EQ(chunks.sizes, (std::vector<size_t>{32768}));
    ExpectNoHelperLeft();
}

TEST(HttpPostTest, MissingPartsOrAnUnusableUrlMakeNoRequest) {
    TestHttpServer server;
    std::string url = server.Url("/science/insert/kestrel");
    EXPECT_EQ(HttpPost("", "application/json", "{}"), "");
    EXPECT_EQ(HttpPost(url, "", "{}"), "");
    EXPECT_EQ(HttpPost(url, "application/json", ""), "");
    EXPECT_EQ(
        HttpPost("http://127.0.0.1:" + std::to_string(server.Port()) + "\xFF/x", "application/json", "{}"),
        "");

    Chunks chunks;
    EXPECT_FALSE(PostRaw("not a url", "{}", chunks));
    EXPECT_FALSE(PostRaw("http//127.0.0.1:" + std::to_string(server.Port()) + "/", "{}", chunks));
    EXPECT_TRUE(chunks.sizes.empty());
    EXPECT_TRUE(server.ConnectionBytes().empty());
}

TEST(HttpPostTest, AnHttpsUrlSpeaksTlsAndAnHttpUrlDoesNot) {
    TestHttpServer server;
    std::string port = std::to_string(server.Port());
    // The plain server drops the TLS handshake, so the secure post fails.
    EXPECT_EQ(HttpPost("https://127.0.0.1:" + port + "/science", "application/json", "{}"), "");
    EXPECT_EQ(HttpPost("http://127.0.0.1:" + port + "/science", "application/json", "{}"), "ok");

    std::vector<std::string> connections = server.ConnectionBytes();
    ASSERT_GE(connections.size(), 2u);
    ASSERT_FALSE(connections.front().empty());
    EXPECT_EQ(connections.front()[0], '\x16');  // TLS handshake record
    EXPECT_EQ(connections.back().compare(0, 5, "POST "), 0);
    EXPECT_EQ(server.Requests().size(), 1u);
}

TEST(HttpPostTest, ARefusedConnectionYieldsNothing) {
    int port = 0;
    {
        TestHttpServer closed;
        port = closed.Port();
    }
    EXPECT_EQ(HttpPost("http://127.0.0.1:" + std::to_string(port) + "/", "application/json", "{}"), "");
}

TEST(HttpPostTest, ATricklingOrSilentServerHoldsAPostNoLongerThanItsOverallLimit) {
    for (bool silent : {false, true}) {
        TestHttpServer server;
        server.SetResponse(200, kLongBody);
        server.SetTrickle(1s);  // every byte within the 5 s stall limit
        server.SetNeverAnswer(silent);
        HttpPostLimits limits;
        limits.overall = 3s;
        Clock::time_point started = Clock::now();
        std::string answer = HttpPost(server.Url("/science"), "application/json", "{}", limits);
        Clock::duration took = Clock::now() - started;
        EXPECT_GE(took, 2900ms) << (silent ? "silent" : "trickling") << ": ended before its limit";
        EXPECT_LT(took, 3s + 5s) << (silent ? "silent" : "trickling");
        EXPECT_LT(answer.size(), kLongBody.size());
        EXPECT_EQ(server.Requests().size(), 1u);
    }
}

TEST(HttpPostTest, ASharedDeadlineBroughtForwardEndsAPostUnderWayAndPreventsTheNext) {
    TestHttpServer server;
    server.SetResponse(200, kLongBody);
    server.SetTrickle(1s);
    HttpPostDeadline deadline;
    HttpPostLimits limits;
    limits.overall = 120s;
    limits.stop = &deadline;
    Clock::time_point started = Clock::now();
    std::thread stopper([&deadline] {
        std::this_thread::sleep_for(1500ms);
        deadline.BringForward(Clock::now());
    });
    HttpPost(server.Url("/"), "application/json", "{}", limits);
    Clock::duration took = Clock::now() - started;
    stopper.join();
    EXPECT_GE(took, 1500ms);
    EXPECT_LT(took, 1500ms + 5s);
    ExpectNoHelperLeft();

    // Brought forward, it never moves back; a post after it makes no request.
    deadline.BringForward(Clock::now() + 60s);
    EXPECT_TRUE(deadline.Passed());
    Chunks chunks;
    EXPECT_FALSE(PostRaw(server.Url("/"), "{}", chunks, 1000, limits));
    EXPECT_EQ(server.ConnectionBytes().size(), 1u);
}

TEST(HttpPostTest, ReadsAtMostTheFirst64KiBOfALargeAnswer) {
    TestHttpServer server;
    std::string large(4 << 20, 'L');
    large[0] = 'F';
    server.SetResponse(200, large);
    Chunks chunks;
    ASSERT_TRUE(PostRaw(server.Url("/"), "{}", chunks));
    EXPECT_EQ(chunks.sizes, (std::vector<size_t>{32768, 32768}));
    EXPECT_TRUE(chunks.bytes == large.substr(0, kHttpResponseLimit));

    std::string answer = HttpPost(server.Url("/"), "application/json", "{}");
    EXPECT_EQ(answer.size(), kHttpResponseLimit);
    EXPECT_EQ(answer.front(), 'F');
    ExpectNoHelperLeft();
}

// A collector that answers with tens of thousands of short header lines (a
// quarter of a megabyte, all at once): the post still ends by its deadline,
// and the headers handed on stay within their limit.
TEST(HttpPostTest, ThousandsOfHeaderLinesEndThePostByItsDeadlineWithBoundedHeaders) {
    TestHttpServer server;
    std::string lines;
    for (int i = 0; i < 48000; ++i) lines += "a:1\r\n";
    server.SetResponse(200, "ok", lines);
    HttpPostLimits limits;
    limits.overall = 2s;
    Chunks chunks;
    Clock::time_point started = Clock::now();
    bool answered = PostRaw(server.Url("/science"), "{}", chunks, 1000, limits);
    Clock::duration took = Clock::now() - started;
    EXPECT_LT(took, 2s + 5s) << std::chrono::duration<double>(took).count() << " s";
    EXPECT_LE(chunks.headers.size(), kHttpHeaderLimit);
    // libcurl hands every line on; WinINet (under Wine) may refuse the answer outright.
    if (!KESTREL_WIN32) {
        EXPECT_TRUE(answered);
    }
    if (answered) {
        EXPECT_EQ(chunks.headers.compare(0, 5, "HTTP/"), 0);
    }
    ExpectNoHelperLeft();
}

// Only http and https URLs are posted to, whatever else the HTTP library opens.
TEST(HttpPostTest, OnlyHttpAndHttpsUrlsArePostedTo) {
    EXPECT_TRUE(IsHttpUrl("http://127.0.0.1/x"));
    EXPECT_TRUE(IsHttpUrl("HTTPS://collector.example/x"));
    for (const char* url : {"file:///etc/passwd", "dict://127.0.0.1:1/x", "gopher://127.0.0.1/x",
                            "httpx://h/", "http:/h", " http://h/", "http://h/caf\xE9"}) {
        EXPECT_FALSE(IsHttpUrl(url)) << url;
        EXPECT_FALSE(HttpPostRaw(url, nullptr, kHeader, "{}", 2, nullptr));
    }
}

TEST(HttpPostTest, ARedirectIsReturnedLikeAnyAnswerAndNotFollowed) {
    TestHttpServer server;
    for (int status : {301, 302, 303, 307, 308}) {
        server.SetResponse(status, "moved", "Location: " + server.Url("/elsewhere") + "\r\n");
        Chunks chunks;
        EXPECT_TRUE(PostRaw(server.Url("/science"), "{}", chunks)) << status;
        EXPECT_EQ(chunks.bytes, "moved") << status;
        EXPECT_NE(chunks.headers.find(" " + std::to_string(status) + " "), std::string::npos) << status;
        EXPECT_EQ(HttpPost(server.Url("/science"), "application/json", "{}"), "moved") << status;
    }
    std::vector<RecordedHttpRequest> requests = server.Requests();
    EXPECT_EQ(requests.size(), 10u);
    for (const RecordedHttpRequest& request : requests) EXPECT_EQ(request.path, "/science");
}

// While the process starts, posts wait for it (the HTTP library is loaded
// by the first post): until the start is over, and at most kHttpStartHold
// when nobody says so. A hold already over holds nothing.
TEST(HttpPostTest, PostsHeldForTheStartWaitUntilItIsOverOrTheHoldHasPassed) {
    if (KESTREL_WIN32) GTEST_SKIP() << "WinINet is loaded with the program; its posts are not held";
    TestHttpServer server;
    Clock::time_point armed = Clock::now();
    HttpHoldPostsForStart();
    std::thread released([&server] { HttpPost(server.Url("/released"), "application/json", "{}"); });
    bool early = server.WaitForRequests(1, kHttpStartHold / 4);
    if (Clock::now() - armed < kHttpStartHold) {
        EXPECT_FALSE(early) << "a held post went out";
    }
    HttpStartIsOver();
    EXPECT_TRUE(server.WaitForRequests(1, kWait));
    released.join();

    HttpHoldPostsForStart();
    Clock::time_point held = Clock::now();
    EXPECT_EQ(HttpPost(server.Url("/never-released"), "application/json", "{}"), "ok");
    EXPECT_GE(Clock::now() - held, kHttpStartHold - 50ms);
    HttpStartIsOver();
    EXPECT_EQ(HttpPost(server.Url("/after"), "application/json", "{}"), "ok");
    EXPECT_EQ(server.Requests().size(), 3u);
}

#ifndef _WIN32
// The request reaches the posting helper whole however the socket splits it,
// and a length past the limit ends the reading instead of a wait for 4 GiB.
TEST(HttpPostTest, TheHelpersFramesSurviveAnySplitAndRefuseAnOversizedLength) {
    PostRequest request{"https://h/p", "agent", "A: 1\r\nB: 2", 4000, std::string("bo\0dy", 5)};
    std::string frames = EncodePostRequest(request);
    PostFrameReader reader;
    for (char byte : frames) reader.Feed(&byte, 1);
    std::optional<PostRequest> decoded = DecodePostRequest(reader);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->url, request.url);
    EXPECT_EQ(decoded->headers, request.headers);
    EXPECT_EQ(decoded->timeLimitMilliseconds, 4000);
    EXPECT_EQ(decoded->body, request.body);

    PostFrameReader cut;
    cut.Feed(frames.data(), frames.size() - 1);
    EXPECT_FALSE(DecodePostRequest(cut).has_value()) << "a request cut short is not posted";

    PostFrameReader oversized;
    const char huge[] = {post_frame::kBodyBytes, '\xff', '\xff', '\xff', '\x7f'};
    oversized.Feed(huge, sizeof huge);
    EXPECT_FALSE(oversized.Next().has_value());
    EXPECT_TRUE(oversized.Broken());
}
#endif

}  // namespace
