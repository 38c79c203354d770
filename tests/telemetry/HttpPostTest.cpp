// The HTTP POST client against a real server on 127.0.0.1: what is sent,
// what comes back whatever the status, how the response is chunked, and the
// calls that must not reach the network at all.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/TestHttpServer.h"
#include "telemetry/HttpPost.h"

namespace {

constexpr auto kWait = std::chrono::seconds(10);
const std::wstring kHeader = L"Content-Type: application/json";

struct Chunks {
    std::vector<size_t> sizes;
    std::string bytes;
    std::wstring headers;
};

bool PostRaw(const std::string& url, const std::string& body, Chunks& chunks, size_t stopAfter = 1000) {
    std::wstring wideUrl(url.begin(), url.end());
    auto sink = [&chunks, stopAfter](const std::wstring& headers, const char* data, size_t length) {
        chunks.headers = headers;
        chunks.sizes.push_back(length);
        chunks.bytes.append(data, length);
        return chunks.sizes.size() < stopAfter;
    };
    return HttpPostRaw(wideUrl, nullptr, kHeader.c_str(), kHeader.size(), body.data(), body.size(), sink);
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
    EXPECT_NE(chunks.headers.find(L"HTTP/1.1 200"), std::wstring::npos);
    EXPECT_EQ(HttpPost(server.Url("/"), "application/json", "{}"), exact);

    std::string longer(70000, 'b');
    server.SetResponse(200, longer);
    Chunks more;
    ASSERT_TRUE(PostRaw(server.Url("/"), "{}", more));
    EXPECT_EQ(more.sizes, (std::vector<size_t>{32768, 32768, 4464}));
    EXPECT_EQ(more.bytes, longer);

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

}  // namespace
