// Applying the guiding output chosen in the settings: which serial port is
// opened and whether the LED window shows. Run once the settings are loaded
// and again whenever the parameters dialog closes.
#pragma once

struct SharedState;
class MountLink;
class TOptowin;

// interfaceType 0 (relay box): open COM(comPort+1), hide the LED window;
// 1 and 2 (LX 200, Meade ETX): open COM(comPort+1), leave the window alone;
// 3 (virtual LEDs): show the window, open nothing (an open port stays open);
// any other value: nothing.
void applyInterface(SharedState& state, MountLink& link, TOptowin& optoWindow);
