// The program-wide state shared by the windows and the guiding core: one
// object, owned by the application and handed by reference to every window
// and command, so a test builds a fresh one and nothing hides in a global.
// Names are those the windows use for them everywhere; each field starts at
// its start value here, and no window sets it again when it opens. The
// measurement fields are written by the guiding session alone (session.h).
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "core/clock.h"
#include "core/picture.h"
#include "core/settings/tparam.h"

struct SharedState {
    explicit SharedState(Clock& c) : clock(c) {}
    SharedState(const SharedState&) = delete;
    SharedState& operator=(const SharedState&) = delete;

    Clock& clock;

    // Settings record and the 16-bit working copies of its three levels.
    std::unique_ptr<tparam> params = std::make_unique<tparam>();
    uint16_t spareLevel1Copy = 0;
    uint16_t spareLevel2Copy = 0;
    uint16_t spareLevel3Copy = 0;

    // Star measurement.
    int32_t regionX = 110;
    int32_t regionY = 70;
    int32_t centroidX = 0;
    int32_t centroidY = 0;
    int32_t referenceX = 0;
    int32_t referenceY = 0;
    bool trackingOn = false;
    std::array<int32_t, 64> greyHistogram{};
    std::array<uint8_t, 100> columnCounts{};
    std::array<uint8_t, 100> rowCounts{};
    int32_t population = 0;
    uint8_t peakLevel = 0;
    uint8_t detectionThreshold = 0;
    bool manualThresholdOn = false;
    int32_t manualThreshold = 32;

    // Main window.
    bool inhibitDecPlus = false;
    bool inhibitDecMinus = false;
    int mainX = 0;
    int mainY = 0;
    int frameWidth = 4;
    int captionHeight = 18;
    bool captureRunning = false;
    int driverIndex = 0;            // entry of "Video Source"; -1 after OK with none selected
    int64_t lastAnalysisTime = 0;   // program clock (ms) of the last measurement cycle
    bool darkPending = false;
    bool reticleOn = false;
    bool graphSuspended = false;

    // The screen picture the capture window shows and everything reads.
    Picture picture;

    // Guiding error of the last measurement, reference minus star, in pixels.
    int errorX() const { return referenceX - regionX - centroidX; }
    int errorY() const { return referenceY - regionY - centroidY; }
};
