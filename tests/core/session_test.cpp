// The guiding session over pictures and errors: what reaches the mount on
// every output, with the inversions and the inhibits, and the record the
// output returns of it; a short series of pictures with the star moving and
// lost; and the listeners' view of tracking.
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

// A pulse as an output reported it: "E 510 ms 0..510000", "-" for none.
std::string described(const std::optional<SentPulse>& p)
{
    if (!p)
        return "-";
    return std::string(1, directionLetter(p->direction)) + " " + std::to_string(p->length)
           + (p->unit == SentPulse::Unit::Milliseconds ? " ms " : " counts ") + std::to_string(p->startUs) + ".."
           + std::to_string(p->endUs);
}

}  // namespace

// A correction on every output, with the inversions and the inhibits: what
// reaches the mount, and the record the output returns of it, which the
// cycle keeps and which tells the session when the pulses are over.
TEST(GuidingSession, CorrectionOnEveryOutputReturnsWhatItSent)
{
    // The worked example, 2 px on AD and -1 px on DEC: 34 and 17 counts, 510 and 255 ms.
    struct Case {
        const char* what;
        int output;
        bool invertRa, invertDec, inhibitDecPlus, inhibitDecMinus;
        int dx, dy;
        Strings texts;
        std::string relayBytes;
        std::string ra, dec;
    } cases[] = {
        // The box times 1/63 s a count from its command byte; it ignores the inhibits.
        {"relay box", RelayBox, false, false, true, false, 2, -1, {}, {"\x89\x00\x46\x03", 4},
         "E 34 counts 0..539682", "S 17 counts 10000..279841"},
        {"relay box inverted", RelayBox, true, true, false, true, 2, -1, {}, {"\x88\x01\x47\x02", 4},
         "W 34 counts 0..539682", "N 17 counts 10000..279841"},
        // Timed: AD, the 5 ms gap, DEC; each pulse runs from its move string on.
        {"LX 200", Lx200, false, false, false, false, 2, -1,
         {"#:Qe#", "#:Qw#", "#:RG#", "#:Me#", "#:Qn#", "#:Qs#", "#:RG#", "#:Ms#"}, "",
         "E 510 ms 0..510000", "S 255 ms 5000..260000"},
        {"LX 200, DEC+ inhibited", Lx200, false, false, true, false, 2, -1, {"#:Qe#", "#:Qw#", "#:RG#", "#:Me#"}, "",
         "E 510 ms 0..510000", "-"},
        {"Meade ETX, AD inverted", MeadeEtx, true, false, false, false, 2, -1,
         {"#:Q#", "#:Mw#", "#:Q#", "#:Mw#", "#:Ms#"}, "", "W 510 ms 0..510000", "S 255 ms 5000..260000"},
        {"LED window, DEC inverted, DEC- inhibited", VirtualLeds, false, true, false, true, 2, -1,
         {"#:Qe#", "#:Qw#", "#:Me#"}, "", "E 510 ms 0..510000", "-"},
        // Values only a crafted settings file holds: the LED window's path.
        {"output 7", 7, false, false, false, false, -2, 1,
         {"#:Qe#", "#:Qw#", "#:Mw#", "#:Qn#", "#:Qs#", "#:Mn#"}, "", "W 510 ms 0..510000", "N 255 ms 5000..260000"},
        {"output -1", -1, false, false, false, false, 2, -1,
         {"#:Qe#", "#:Qw#", "#:Me#", "#:Qn#", "#:Qs#", "#:Ms#"}, "", "E 510 ms 0..510000", "S 255 ms 5000..260000"},
        // No error: pulses of no length, reported as such; only the stops go out.
        {"LX 200, star on its lock", Lx200, false, false, false, false, 0, 0, {"#:Qe#", "#:Qw#", "#:Qn#", "#:Qs#"}, "",
         "W 0 ms 0..0", "S 0 ms 5000..5000"},
        {"relay box, star on its lock", RelayBox, false, false, false, false, 0, 0, {}, {"\x01\x00\x03\x02", 4},
         "W 0 counts 0..0", "S 0 counts 10000..10000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CoreRig rig(c.output);
        referenceOptics(rig.state);
        rig.state.params->invertRa = c.invertRa;
        rig.state.params->invertDec = c.invertDec;
        rig.state.inhibitDecPlus = c.inhibitDecPlus;
        rig.state.inhibitDecMinus = c.inhibitDecMinus;
        rig.core.session.correct(c.dx, c.dy);
        EXPECT_EQ(rig.texts(), c.texts);
        EXPECT_EQ(rig.relayBytes(), c.relayBytes);
        const SentCorrection& sent = rig.core.session.lastCycle().pulses;
        EXPECT_EQ(described(sent.ra), c.ra);
        EXPECT_EQ(described(sent.dec), c.dec);
        EXPECT_EQ(rig.core.session.correctionEndsUs(), sent.endUs());
        // What the timed outputs report is what their squares show and when they stop.
        for (GuideAxis axis : {GuideAxis::Ra, GuideAxis::Dec})
            if (sent.of(axis) && sent.of(axis)->unit == SentPulse::Unit::Milliseconds) {
                EXPECT_EQ(rig.core.pulses.running(axis), sent.of(axis));
            }
    }

    // Unusable optics: nothing at all, no wait, nothing reported.
    CoreRig rig(Lx200);
    rig.state.params->focalLength = 0;
    rig.core.session.correct(2, -1);
    EXPECT_TRUE(rig.seen.empty());
    EXPECT_EQ(rig.clock.nowUs(), 0);
    EXPECT_EQ(described(rig.core.session.lastCycle().pulses.ra), "-");
    EXPECT_EQ(described(rig.core.session.lastCycle().pulses.dec), "-");
    EXPECT_EQ(rig.core.session.correctionEndsUs(), 0);
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
