// Arrow-key slewing from the main window, on the guiding output chosen in the
// settings: a relay-box pair of count 35 on "Rereridu standard", otherwise a
// 1000 ms pulse on the LED window (which also drives the serial strings).
#pragma once

#include "core/guide/signs.h"

struct SharedState;
class MountLink;
class TOptowin;

// Sends the slew of one arrow key (the inversion options applied).
void slewArrowKey(SharedState& state, MountLink& link, TOptowin& optoWindow, ArrowKey key);

// The same for a Qt key code; false (and nothing sent) for a key that is not
// an arrow.
bool slewForKey(SharedState& state, MountLink& link, TOptowin& optoWindow, int qtKey);
