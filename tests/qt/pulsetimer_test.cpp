// The QtCore timer that ends the timed pulses, on a real event loop and the
// steady clock: a pulse never ends before its length, a replaced or ended
// pulse never ends twice, and both axes end from one wait.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/state.h"
#include "qt/guiderhost.h"

namespace {

struct Stop {
    int64_t timeUs;
    std::string text;
};

void runUntilIdle(PulseMachine& pulses)
{
    QElapsedTimer waited;
    waited.start();
    while (pulses.anyPulsing() && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

}  // namespace

TEST(QtPulseTimer, EndsEachPulseAtItsLengthNeverBefore)
{
    SteadyClock clock;
    SharedState state(clock);
    state.params->interfaceType = Lx200;
    GuiderHost host(state);
    std::vector<Stop> seen;
    host.core.channel.addObserver([&seen](const MountEvent& e) {
        if (e.kind == MountEvent::Kind::Text)
            seen.push_back({e.timeUs, std::string(e.text)});
    });

    host.core.pulses.pulse(GuideAxis::Ra, 40);
    const int64_t raMove = seen.back().timeUs;
    host.core.pulses.pulse(GuideAxis::Dec, -25);
    const int64_t decMove = seen.back().timeUs;
    // A zero-length pulse ends at the next turn of the loop, once more.
    runUntilIdle(host.core.pulses);
    ASSERT_FALSE(host.core.pulses.anyPulsing());

    std::vector<std::string> texts;
    for (const Stop& s : seen)
        texts.push_back(s.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"#:Qe#", "#:Qw#", "#:RG#", "#:Mw#", "#:Qn#", "#:Qs#", "#:RG#",
                                               "#:Mn#", "#:Qn#", "#:Qs#", "#:Qe#", "#:Qw#"}));
    EXPECT_GE(seen[8].timeUs - decMove, 25000);
    EXPECT_GE(seen[10].timeUs - raMove, 40000);

    // Ended by hand before its time: the timer adds nothing later.
    seen.clear();
    host.core.pulses.pulse(GuideAxis::Ra, 20);
    host.core.pulses.endPulse(GuideAxis::Ra);
    const size_t afterEnd = seen.size();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 60)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(seen.size(), afterEnd);
}
