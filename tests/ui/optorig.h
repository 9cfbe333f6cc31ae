// Test rig for the windows over the guiding core: the core rig (fake clock,
// hand-driven pulse timer, every command to the mount recorded) and the
// drawing objects the windows take.
#pragma once

#include "core/corerig.h"
#include "ui/drawing.h"

using Strings = std::vector<std::string>;

struct OptoRig : CoreRig {
    DrawingObjects drawing;
    explicit OptoRig(int interfaceType = Lx200) : CoreRig(interfaceType) {}
};
