// Relay-box command bytes and their sequences on the serial line: the byte
// of each count and code, the closing bytes, and the 5 ms wait between bytes.
// (Which code an error of each sign gives is checked with the correction.)
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/state.h"
#include "core/guide/guideoutput.h"
#include "core/guide/mountchannel.h"
#include "core/guide/relaybox.h"
#include "core/serial/serialline.h"
#include "ptyline.h"

TEST(RelayBoxBytes, CodesCountsAndClosingBytes)
{
    const struct {
        int code;
        int count;
        RelayPair pair;
    } corrections[] = {
        {RelayEast, 0, {0x01, 0x00}},    {RelayWest, 0, {0x00, 0x01}},  {RelayEast, 34, {0x89, 0x00}},
        {RelayNorth, 17, {0x46, 0x03}},  {RelaySouth, 1, {0x07, 0x02}}, {RelayNorth, 63, {0xFE, 0x03}},
        {RelayWest, 64, {0xFC, 0x01}},   // counts saturate at 63 ...
        {RelaySouth, 100000, {0xFF, 0x02}},
        {RelayEast, -5, {0x01, 0x00}},   // ... and at 0
    };
    for (const auto& c : corrections)
        EXPECT_EQ(relayCorrectionPair(c.code, c.count), c.pair) << "code " << c.code << " count " << c.count;

    const struct {
        int code;
        RelayPair arrow;
        uint8_t slew;
    } keys[] = {
        {RelayWest, {0x8C, 0x01}, 0xFC}, {RelayEast, {0x8D, 0x00}, 0xFD},
        {RelayNorth, {0x8E, 0x03}, 0xFE}, {RelaySouth, {0x8F, 0x02}, 0xFF},
    };
    for (const auto& c : keys) {
        EXPECT_EQ(relayArrowKeyPair(c.code), c.arrow) << c.code;
        EXPECT_EQ(relaySlewButtonByte(c.code), c.slew) << c.code;
    }
}

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
    SerialLine link(clock);
    MountChannel channel(state, link);
    RelayBoxOutput box(channel);
    std::vector<std::pair<int64_t, uint8_t>> sent;
    link.setWriteObserver([&](int64_t t, const uint8_t* b, size_t n) {
        for (size_t i = 0; i < n; ++i)
            sent.emplace_back(t, b[i]);
    });
    ASSERT_TRUE(link.openComPort(2).ok);

    const struct {
        const char* name;
        std::function<void()> send;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"correction", [&] { box.pulse({GuideAxis::Dec, 945, true, RelayNorth, 63}); }, {0xFE, 0x03}},
        {"arrow key", [&] { box.pulse({GuideAxis::Ra, -1000, true, RelayWest, kRelayArrowKeyCount}); }, {0x8C, 0x01}},
        {"slew button", [&] { box.slew({SlewButton::South, RelaySouth, true}); }, {0xFF}},
        {"slew release", [&] { box.slew({SlewButton::South, RelaySouth, false}); }, {}},
    };
    for (const auto& c : cases) {
        clock.advanceUs(12345);
        const int64_t start = clock.nowUs();
        sent.clear();
        c.send();
        std::vector<std::pair<int64_t, uint8_t>> expected;
        for (size_t i = 0; i < c.bytes.size(); ++i)
            expected.emplace_back(start + 5000 * int64_t(i), c.bytes[i]);
        EXPECT_EQ(sent, expected) << c.name;
        // Even the single byte of a slew button is followed by the wait.
        EXPECT_EQ(clock.nowUs() - start, c.bytes.empty() ? 0 : 5000) << c.name;
        EXPECT_EQ(pty.read(c.bytes.size()), c.bytes) << c.name;
    }

    // Only the address of the open line has the relay box behind it.
    sent.clear();
    link.WritePortByte(0x3F8, 0x8C);
    EXPECT_TRUE(sent.empty());
    EXPECT_TRUE(pty.drain().empty());
}
