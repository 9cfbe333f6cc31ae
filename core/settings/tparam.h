// The settings record: every value set once for an installation and found
// again at the next start. One record exists for the run; windows read and
// write its fields at the moment they need them (through SharedState::params).
#pragma once

#include <array>
#include <cstdint>
#include <string>

// Field order here is the order of the settings file.
struct tparam {
    double focalLength = 50.0;   // cm, "Focale": a small refractor
    double pixelSize = 5.6;      // micrometres, "Dim pixel": a webcam sensor
    double raSpeed = 12.0;       // arcseconds per second, "V Asc Dr"
    double decSpeed = 14.0;      // arcseconds per second, "V Declin"
    int32_t comPort = 0;         // 0..3 for COM1..COM4 (a crafted file may hold anything)
    int32_t spareLevel1 = 0;     // carried from run to run through a 16-bit working copy
    int32_t spareLevel2 = 0;
    int32_t spareLevel3 = 0;
    int32_t interfaceType = 3;   // 0 relay box, 1 LX 200, 2 Meade ETX, 3 virtual LEDs, 4 INDI mount
    int32_t photoUnit = 0;       // 0 seconds, 1 minutes
    int32_t photoInterval = 10;
    uint8_t invertDec = 0;       // flags hold 0 or 1
    uint8_t invertRa = 0;
    int32_t optoX = 600;         // virtual LED window, screen pixels
    int32_t optoY = 40;
    int32_t optoWidth = 200;
    int32_t optoHeight = 120;
    uint8_t darkSpotGuiding = 0;

    static constexpr int classVersion = 1;
    static constexpr const char* className = "tparam";
};

// Interface choices, as stored in tparam::interfaceType.
enum InterfaceType : int32_t {
    RelayBox = 0,        // "Rereridu standard"
    Lx200 = 1,           // "LX 200"
    MeadeEtx = 2,        // "Meade ETX"
    VirtualLeds = 3,     // "Diodes virtuelles"
    IndiMount = 4,       // "INDI (monture)": a mount on an INDI server (core/indi/indimount.h)
};

// The outputs as the parameters dialog lists them, by interfaceType.
inline constexpr std::array<const char*, 5> kInterfaceNames = {
    "Rereridu standard", "LX 200", "Meade ETX", "Diodes virtuelles", "INDI (monture)"};

inline const char* const kSettingsFileName = "qv185.dat";
