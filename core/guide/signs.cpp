// The sign conventions of the guider.
#include "core/guide/signs.h"

int directedSign(int error, bool invert)
{
    // -1, 0, +1 first, so that negating the lowest int is harmless.
    const int sign = (error > 0) - (error < 0);
    return invert ? -sign : sign;
}

CorrectionSense correctionSense(GuideAxis axis, int error, bool invert, int count)
{
    CorrectionSense s;
    s.belowZero = directedSign(error, invert) < 0;
    const int first = axis == GuideAxis::Ra ? RelayWest : RelayNorth;
    s.relayCode = first + (s.belowZero ? 0 : 1);
    s.pulseMs = (s.belowZero ? 1 : -1) * kPulseMsPerCount * count;
    return s;
}

Direction pulseDirection(GuideAxis axis, int signedMs)
{
    if (axis == GuideAxis::Ra)
        return signedMs < 0 ? Direction::East : Direction::West;
    return signedMs < 0 ? Direction::North : Direction::South;
}

double mountDistance(int error, bool invert)
{
    // Below zero after the inversion sends West or South: a positive
    // distance. As integers first, so that a star on its lock reads 0, never -0.
    const int64_t e = invert ? int64_t(error) : -int64_t(error);
    return double(e);
}

double axisAngleDegrees(GuideAxis axis, bool invert)
{
    if (axis == GuideAxis::Ra)
        return invert ? 180.0 : 0.0;
    return invert ? -90.0 : 90.0;
}

GuideAxis axisOf(Direction d)
{
    return d == Direction::East || d == Direction::West ? GuideAxis::Ra : GuideAxis::Dec;
}

char directionLetter(Direction d)
{
    switch (d) {
    case Direction::North: return 'N';
    case Direction::South: return 'S';
    case Direction::East: return 'E';
    case Direction::West: return 'W';
    }
    return '?';
}

const char* directionName(Direction d)
{
    switch (d) {
    case Direction::North: return "North";
    case Direction::South: return "South";
    case Direction::East: return "East";
    case Direction::West: return "West";
    }
    return "";
}

ArrowKey effectiveArrowKey(ArrowKey key, bool invertRa, bool invertDec)
{
    switch (key) {
    case ArrowKey::Left: return invertDec ? ArrowKey::Right : ArrowKey::Left;
    case ArrowKey::Right: return invertDec ? ArrowKey::Left : ArrowKey::Right;
    case ArrowKey::Up: return invertRa ? ArrowKey::Down : ArrowKey::Up;
    case ArrowKey::Down: return invertRa ? ArrowKey::Up : ArrowKey::Down;
    }
    return key;
}

ArrowKeySense arrowKeySense(ArrowKey key, bool invertRa, bool invertDec)
{
    switch (effectiveArrowKey(key, invertRa, invertDec)) {
    case ArrowKey::Left: return {RelayWest, GuideAxis::Ra, -kArrowKeyPulseMs};
    case ArrowKey::Right: return {RelayEast, GuideAxis::Ra, kArrowKeyPulseMs};
    case ArrowKey::Up: return {RelayNorth, GuideAxis::Dec, kArrowKeyPulseMs};
    case ArrowKey::Down: return {RelaySouth, GuideAxis::Dec, -kArrowKeyPulseMs};
    }
    return {};
}

int slewButtonCode(SlewButton b)
{
    switch (b) {
    case SlewButton::West: return RelayWest;
    case SlewButton::East: return RelayEast;
    case SlewButton::North: return RelayNorth;
    case SlewButton::South: return RelaySouth;
    }
    return RelayWest;
}

int slewButtonRelayCode(SlewButton b, bool invertRa, bool invertDec)
{
    const int code = slewButtonCode(b);
    if (code < RelayNorth)
        return invertDec ? 1 - code : code;
    return invertRa ? 5 - code : code;
}

Direction slewButtonDirection(SlewButton b)
{
    switch (b) {
    case SlewButton::North: return Direction::North;
    case SlewButton::South: return Direction::South;
    case SlewButton::East: return Direction::East;
    case SlewButton::West: return Direction::West;
    }
    return Direction::North;
}
