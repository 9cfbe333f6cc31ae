// The dark-frame arming rule.
#include "core/measure/darkarming.h"

DarkArmingStep advanceDarkArming(bool& darkPending)
{
    if (!darkPending) {
        darkPending = true;
        return {false, kDarkPendingText};
    }
    darkPending = false;
    return {true, kAcquireDarkText};
}
