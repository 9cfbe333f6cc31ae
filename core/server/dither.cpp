// Dithering the lock.
#include "core/server/dither.h"

#include <algorithm>
#include <cmath>

namespace {

// A whole offset from -limit to +limit, each equally likely.
int offset(int limit, const std::function<double()>& uniform01)
{
    if (limit <= 0)
        return 0;
    const double u = std::clamp(uniform01(), 0.0, 1.0);
    const int k = std::min(int(std::floor(u * (2 * limit + 1))), 2 * limit);
    return k - limit;
}

}  // namespace

DitherTarget ditherLock(int lockX, int lockY, int regionX, int regionY, double amount, bool raOnly,
                        const std::function<double()>& uniform01)
{
    const double size = std::isfinite(amount) ? std::min(std::fabs(amount), 100.0) : 0.0;
    const int limit = int(std::floor(size));
    const int ox = offset(limit, uniform01);
    const int oy = raOnly ? 0 : offset(limit, uniform01);
    DitherTarget t;
    t.lockX = std::clamp(lockX + ox, regionX + 10, regionX + 90);
    t.lockY = std::clamp(lockY + oy, regionY + 10, regionY + 90);
    t.dx = t.lockX - lockX;
    t.dy = t.lockY - lockY;
    return t;
}
