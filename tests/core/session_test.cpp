// The guiding session over pictures and errors: what reaches the mount on
// every output for an error of (2, -1) pixels, a short series of pictures with the
// star moving and lost, and the listeners' view of tracking.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/corerig.h"

namespace {

using Strings = std::vector<std::string>;

// 100 cm and 10 um pixels (2.0626"/px), 7.5"/s on both axes: 17.33 counts a pixel.
void referenceOptics(SharedState& state)
{
    state.params->focalLength = 100;
    state.params->pixelSize = 10;
    state.params->raSpeed = 7.5;
    state.params->decSpeed = 7.5;
}

// A 3 x 3 star of level 63 centred on (x, y) on a black picture.
void putStar(Picture& picture, int x, int y)
{
    picture.fill(0);
    for (int j = -1; j <= 1; ++j)
        for (int i = -1; i <= 1; ++i)
            picture.at(x + i, y + j) = rgbWord(255, 255, 255);
}

}  // namespace

// Every output but the relay box, values only a crafted settings file holds
// included, takes the timed path with the strings of that output.
TEST(GuidingSession, WorkedExampleOnEveryOutput)
{
    const Strings plain{"#:Qe#", "#:Qw#", "#:Me#", "#:Qn#", "#:Qs#", "#:Ms#"};
    const struct {
        int interfaceType;
        Strings sent;
    } cases[] = {
        {Lx200, {"#:Qe#", "#:Qw#", "#:RG#", "#:Me#", "#:Qn#", "#:Qs#", "#:RG#", "#:Ms#"}},
        {MeadeEtx, {"#:Q#", "#:Me#", "#:Q#", "#:Me#", "#:Ms#"}},  // AD's move again after the stop of both
        {VirtualLeds, plain},
        {7, plain},
        {-1, plain},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "interface " << c.interfaceType);
        CoreRig rig(c.interfaceType);
        referenceOptics(rig.state);
        const correction::Result& r = rig.core.session.correct(2, -1);
        EXPECT_EQ(r.ra.count, 34);
        EXPECT_EQ(rig.texts(), c.sent);
        EXPECT_EQ(rig.core.pulses.deadlineUs(GuideAxis::Ra), 510000);
        EXPECT_EQ(rig.core.pulses.deadlineUs(GuideAxis::Dec), 5000 + 255000);
        EXPECT_EQ(rig.core.pulses.lamp(GuideAxis::Ra), PulseMachine::Lamp::Left);
        EXPECT_EQ(rig.core.pulses.lamp(GuideAxis::Dec), PulseMachine::Lamp::Right);
    }

    CoreRig relay(RelayBox);
    referenceOptics(relay.state);
    relay.core.session.correct(2, -1);
    EXPECT_EQ(relay.relayBytes(), std::string("\x89\x00\x46\x03", 4));
    for (size_t i = 0; i < relay.seen.size(); ++i)
        EXPECT_EQ(relay.seen[i].timeUs, 5000 * int64_t(i));  // 5 ms in each pair and between the axes
    EXPECT_FALSE(relay.core.pulses.anyPulsing());

    // A zero error on the timed path only stops both axes.
    CoreRig zero(Lx200);
    referenceOptics(zero.state);
    zero.core.session.correct(0, 0);
    EXPECT_EQ(zero.texts(), (Strings{"#:Qe#", "#:Qw#", "#:Qn#", "#:Qs#"}));
    EXPECT_EQ(zero.core.pulses.lamp(GuideAxis::Ra), PulseMachine::Lamp::Off);
}

TEST(GuidingSession, SeriesOfPicturesLocksCorrectsAndDropsALostStar)
{
    CoreRig rig(RelayBox);
    referenceOptics(rig.state);
    GuidingSession& session = rig.core.session;
    std::vector<SessionEvent::Kind> events;
    session.addListener([&events](const SessionEvent& e) { events.push_back(e.kind); });

    // Not tracking: measured, nothing sent.
    putStar(rig.state.picture, 150, 130);
    const CycleResult& first = session.measureCycle(rig.state.picture.view());
    EXPECT_FALSE(first.tracking);
    EXPECT_EQ(first.measurement.population, 9);
    EXPECT_EQ(rig.state.regionX + rig.state.centroidX, 150);
    EXPECT_TRUE(rig.seen.empty());

    // Lock, then the star moves 2 px right and 1 px up: error (-2, +1).
    session.startTracking();
    EXPECT_EQ(rig.state.referenceX, 150);
    EXPECT_EQ(rig.state.referenceY, 130);
    putStar(rig.state.picture, 152, 129);
    const CycleResult& moved = session.measureCycle(rig.state.picture.view());
    EXPECT_TRUE(moved.tracking);
    EXPECT_EQ(moved.dx, -2);
    EXPECT_EQ(moved.dy, 1);
    EXPECT_TRUE(moved.sent);
    // AD below zero: code 0 (count 34); DEC zero or above: code 3 (count 17).
    EXPECT_EQ(rig.relayBytes(), std::string("\x88\x01\x47\x02", 4));

    // The star lost: the gate keeps the lock, the error is zero and the
    // count-0 pairs still go out.
    rig.seen.clear();
    rig.state.picture.fill(0);
    const CycleResult& lost = session.measureCycle(rig.state.picture.view());
    EXPECT_TRUE(lost.measurement.gated);
    EXPECT_EQ(lost.dx, 0);
    EXPECT_EQ(lost.dy, 0);
    EXPECT_EQ(rig.relayBytes(), std::string("\x01\x00\x03\x02", 4));

    // Suspended: measured, nothing sent; resumed with the same lock.
    session.suspend();
    rig.seen.clear();
    putStar(rig.state.picture, 152, 129);
    EXPECT_FALSE(session.measureCycle(rig.state.picture.view()).tracking);
    EXPECT_TRUE(rig.seen.empty());
    session.resume();
    EXPECT_EQ(session.measureCycle(rig.state.picture.view()).dx, -2);

    // A run that only measures the drift computes but sends nothing.
    rig.seen.clear();
    session.sendsCorrections = false;
    const CycleResult& unguided = session.measureCycle(rig.state.picture.view());
    EXPECT_EQ(unguided.correction.ra.count, 34);
    EXPECT_FALSE(unguided.sent);
    EXPECT_TRUE(rig.seen.empty());

    session.stopTracking();
    using K = SessionEvent::Kind;
    EXPECT_EQ(events, (std::vector<K>{K::Cycle, K::Started, K::Cycle, K::Cycle, K::Suspended, K::Cycle,
                                      K::Resumed, K::Cycle, K::Cycle, K::Stopped}));
}
