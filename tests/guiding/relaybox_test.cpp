// Relay-box command bytes and their sequences on the serial line: the byte
// of each count and code, the closing bytes, and the 5 ms wait between bytes.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/state.h"
#include "guiding/relaybox.h"
#include "mountlink/mountlink.h"
#include "mountlink/ptyline.h"

TEST(RelayBoxBytes, CorrectionPairs)
{
    const struct {
        int code;
        int count;
        RelayPair pair;
    } cases[] = {
        {RelayEast, 0, {0x01, 0x00}},    // AD error of zero still sends its pair
        {RelayWest, 0, {0x00, 0x01}},
        {RelayEast, 34, {0x89, 0x00}},
        {RelayNorth, 17, {0x46, 0x03}},
        {RelaySouth, 1, {0x07, 0x02}},
        {RelayNorth, 63, {0xFE, 0x03}},  // largest DEC correction below zero
        {RelayWest, 64, {0xFC, 0x01}},   // counts above 63 are sent as 63
        {RelaySouth, 100000, {0xFF, 0x02}},
        {RelayEast, -5, {0x01, 0x00}},   // and below 0 as 0
    };
    for (const auto& c : cases)
        EXPECT_EQ(relayCorrectionPair(c.code, c.count), c.pair) << "code " << c.code << " count " << c.count;
}

TEST(RelayBoxBytes, CorrectionCodeFollowsTheSignOfTheError)
{
    const struct {
        GuideAxis axis;
        int error;
        int code;
    } cases[] = {
        {GuideAxis::Ra, -3, 0}, {GuideAxis::Ra, 0, 1}, {GuideAxis::Ra, 2, 1},
        {GuideAxis::Dec, -1, 2}, {GuideAxis::Dec, 0, 3}, {GuideAxis::Dec, 40, 3},
    };
    for (const auto& c : cases)
        EXPECT_EQ(relayCorrectionCode(c.axis, c.error), c.code) << int(c.axis) << " " << c.error;
}

TEST(RelayBoxBytes, ArrowKeysAndSlewButtons)
{
    const struct {
        int code;
        RelayPair arrow;
        uint8_t slew;
    } cases[] = {
        {RelayWest, {0x8C, 0x01}, 0xFC},
        {RelayEast, {0x8D, 0x00}, 0xFD},
        {RelayNorth, {0x8E, 0x03}, 0xFE},
        {RelaySouth, {0x8F, 0x02}, 0xFF},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(relayArrowKeyPair(c.code), c.arrow) << c.code;
        EXPECT_EQ(relaySlewButtonByte(c.code), c.slew) << c.code;
    }
}

namespace {

struct Sent {
    int64_t timeUs;
    uint8_t byte;
    bool operator==(const Sent&) const = default;
};

} // namespace

// Each sequence on a real line: its bytes in order, one write each, timed on
// the program clock with the 5 ms wait after the first byte.
TEST(RelayBoxLine, SequencesWithTheirWaits)
{
    PtyLine pty;
    ASSERT_TRUE(pty.ok());
    ScopedEnv com("QUORVEL_COM2", pty.path());
    ScopedEnv noTrace("QUORVEL_SERIAL_LOG", std::nullopt);
    FakeClock clock;
    SharedState state(clock);
    state.params->interfaceType = RelayBox;
    MountLink link(state);
    std::vector<Sent> sent;
    link.setWriteObserver([&](int64_t t, const uint8_t* b, size_t n) {
        for (size_t i = 0; i < n; ++i)
            sent.push_back({t, b[i]});
    });
    link.openComPort(2);
    ASSERT_EQ(link.comBase, 0x2F8);

    const struct {
        const char* name;
        std::function<void()> send;
        std::vector<uint8_t> bytes;
        std::vector<int64_t> offsetsUs;  // of each byte from the start
        int64_t durationUs;
    } cases[] = {
        {"correction", [&] { sendRelayCorrection(link, RelayNorth, 63); }, {0xFE, 0x03}, {0, 5000}, 5000},
        {"correction, count 0", [&] { sendRelayCorrection(link, RelayEast, 0); }, {0x01, 0x00}, {0, 5000}, 5000},
        {"arrow key", [&] { sendRelayArrowKey(link, RelayWest); }, {0x8C, 0x01}, {0, 5000}, 5000},
        {"slew button", [&] { sendRelaySlewButton(link, RelaySouth); }, {0xFF}, {0}, 5000},
    };
    for (const auto& c : cases) {
        clock.advanceUs(12345);
        const int64_t start = clock.nowUs();
        sent.clear();
        c.send();
        std::vector<Sent> expected;
        for (size_t i = 0; i < c.bytes.size(); ++i)
            expected.push_back({start + c.offsetsUs[i], c.bytes[i]});
        EXPECT_EQ(sent, expected) << c.name;
        EXPECT_EQ(clock.nowUs() - start, c.durationUs) << c.name;
        EXPECT_EQ(pty.read(c.bytes.size()), c.bytes) << c.name;
    }

    // Only the address of the open line has the relay box behind it.
    sent.clear();
    link.WritePortByte(0x3F8, 0x8C);
    EXPECT_TRUE(sent.empty());
    EXPECT_TRUE(pty.drain().empty());
}
