// The guiding core on a QtCore event loop.
#include "qt/guiderhost.h"

#include "core/state.h"

GuiderHost::GuiderHost(SharedState& state) : timer(state.clock), core(state, timer)
{
    timer.setExpiry([this](GuideAxis axis) { core.pulses.expire(axis); });
}
