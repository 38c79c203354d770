// The press floor must carry what a press carries, whole and in order, and
// nothing else: a frame read in pieces, a long text (64-bit length) or a key
// release passed on as a command would make the floor's samples wrong.

#include "PressFloor.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>

#include "OpenDescriptors.h"
#include "controller-sim/PipeServer.h"
#include "support/HostStandIn.h"

namespace {

using nlohmann::json;
constexpr auto kWait = std::chrono::milliseconds(10000);

// A server frame (unmasked) with the shortest length field that fits.
std::string Frame(const std::string& payload, unsigned char opcode = 1) {
    std::string frame(1, static_cast<char>(0x80 | opcode));
    const uint64_t size = payload.size();
    if (size < 126) {
        frame += static_cast<char>(size);
    } else if (size <= 0xffff) {
        frame += static_cast<char>(126);
        for (int shift = 8; shift >= 0; shift -= 8) frame += static_cast<char>((size >> shift) & 0xff);
    } else {
        frame += static_cast<char>(127);
        for (int shift = 56; shift >= 0; shift -= 8) frame += static_cast<char>((size >> shift) & 0xff);
    }
    return frame + payload;
}

TEST(PressFloorTest, TakesWholeFramesOfEveryLengthFieldAndWaitsForTheRest) {
    for (size_t size : {5u, 300u, 70000u}) {
        const std::string payload(size, 'k');
        const std::string frame = Frame(payload);
        size_t taken = 1;
        std::string text;
        bool isText = false;
        // Every cut short of the whole frame waits for more.
        for (size_t cut : {size_t{0}, size_t{1}, size_t{3}, frame.size() - 1}) {
            EXPECT_FALSE(PressFloor::TakeFrame(frame.substr(0, cut), taken, text, isText))
                << size << " " << cut;
            EXPECT_EQ(taken, 0u);
        }
        ASSERT_TRUE(PressFloor::TakeFrame(frame + Frame("next"), taken, text, isText)) << size;
        EXPECT_EQ(taken, frame.size());
        EXPECT_EQ(text, payload);
        EXPECT_TRUE(isText);
    }
    size_t taken = 0;
    std::string text;
    bool isText = true;
    ASSERT_TRUE(PressFloor::TakeFrame(Frame("\x01\x02", 2), taken, text, isText));
    EXPECT_FALSE(isText) << "a binary frame is no text";
    std::string masked = Frame("abcd");
    masked[1] = static_cast<char>(masked[1] | 0x80);
    EXPECT_FALSE(PressFloor::TakeFrame(masked + "MASK", taken, text, isText)) << "a server never masks";
}

TEST(PressFloorTest, PassesEachKeyDownFromTheHostToThePipeInOrderAndNothingElse) {
    const std::string pipePath = "/tmp/kestrel-press-floor-" + std::to_string(getpid());
    const size_t before = OpenDescriptors();
    {
        HostStandIn host;
        const unsigned short port = host.Listen();
        ASSERT_NE(port, 0);
        PipeServer pipe(pipePath);
        ASSERT_TRUE(pipe.Listen());
        PressFloor floor;
        ASSERT_TRUE(floor.Start(port, pipePath));
        ASSERT_TRUE(pipe.WaitForClient(kWait));
        ASSERT_TRUE(host.WaitForConnection(kWait));

        const json release = {{"event", "keyUp"}, {"context", "CTX1"}};
        const json longPress = {{"event", "keyDown"}, {"context", std::string(70000, 'c')}};
        const json press = {{"event", "keyDown"}, {"context", "CTX2"}};
        ASSERT_TRUE(host.Send(release));
        ASSERT_TRUE(host.Send(longPress));
        ASSERT_TRUE(host.Send(release));
        ASSERT_TRUE(host.Send(press));
        EXPECT_EQ(pipe.Receive(kWait), longPress.dump());
        EXPECT_EQ(pipe.Receive(kWait), press.dump()) << "a key release went on to the pipe";
        floor.Stop();
        host.CloseConnection();
    }
    EXPECT_EQ(OpenDescriptors(), before) << "the floor or the test left a descriptor open";
}

TEST(PressFloorTest, RefusesToStartWithoutItsPeersAndLeavesNothingOpen) {
    const std::string nobody = "/tmp/kestrel-press-floor-nobody-listens";
    PressFloor floor;
    {
        HostStandIn gone;
        const unsigned short port = gone.Listen();
        ASSERT_NE(port, 0);
        gone.StopListening();
        const size_t before = OpenDescriptors();
        EXPECT_FALSE(floor.Start(port, nobody)) << "no host";
        EXPECT_EQ(OpenDescriptors(), before);
    }
    HostStandIn host;
    const unsigned short port = host.Listen();
    ASSERT_NE(port, 0);
    EXPECT_FALSE(floor.Start(port, nobody)) << "no pipe server";
}

}  // namespace
