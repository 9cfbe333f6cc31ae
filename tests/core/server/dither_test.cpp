// A dither's move: whole pixels, each of the 2n+1 values as likely, never
// past the amount, kept 10 to 90 pixels inside the region.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/server/dither.h"

TEST(DitherLock, AWholeMoveWithinTheAmountKeptInsideTheRegion)
{
    const struct {
        int lockX, lockY;
        double amount;
        bool raOnly;
        std::vector<double> draws;
        int dx, dy;
    } cases[] = {
        // Region corner (110, 70): the lock stays within x 120..200, y 80..160.
        {160, 120, 3, false, {0.0, 0.99999}, -3, 3},
        {160, 120, 3, false, {1.0 / 7 - 1e-9, 1.0 / 7}, -3, -2},
        {160, 120, 3, true, {0.0}, -3, 0},          // AD only: one draw
        {160, 120, 2.9, false, {0.99999, 0.5}, 2, 0},  // never a pixel past the amount
        {160, 120, -2, false, {0.0, 0.99999}, -2, 2},
        {160, 120, NAN, false, {}, 0, 0},
        {122, 158, 5, false, {0.0, 0.99999}, -2, 2},  // cut at the region's inner edge
    };
    for (const auto& c : cases) {
        size_t next = 0;
        const DitherTarget t =
            ditherLock(c.lockX, c.lockY, 110, 70, c.amount, c.raOnly, [&] { return c.draws.at(next++); });
        EXPECT_EQ(t.dx, c.dx) << c.amount;
        EXPECT_EQ(t.dy, c.dy) << c.amount;
        EXPECT_EQ(t.lockX - c.lockX, t.dx);
        EXPECT_EQ(t.lockY - c.lockY, t.dy);
    }
}
