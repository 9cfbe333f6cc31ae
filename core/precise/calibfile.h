// Where the precise mode keeps its calibration, and how the guide log writes
// one. The calibration lives in a small text file beside the settings file
// (qv185-precise.txt beside qv185.dat), key=value lines, replaced in one
// step; it names the output, the camera and the image scale it was made
// with, and is reused until one of them changes. The settings file itself
// is never touched.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/precise/calibration.h"

inline const char* const kPreciseCalibrationFileName = "qv185-precise.txt";

// The calibration file beside the settings file at settingsPath.
std::string preciseCalibrationPath(const std::string& settingsPath);

struct StoredCalibration {
    Calibration calibration;
    int output = 0;            // the settings' interfaceType it was made on
    std::string camera;        // the "Video Source" entry's name
    double imageScale = 0;     // arcseconds per pixel
    int stepMs = 0;            // the calibration's step
    std::string date;          // "YYYY-MM-DD HH:MM:SS", local time
};

// The file's text, and the calibration read back from it: nothing, with the
// line at fault named, when a key is missing, unknown or not a number.
std::string calibrationFileText(const StoredCalibration& stored);
std::optional<StoredCalibration> parseCalibrationFile(std::string_view text, std::string& error);

// Writes the file in one step (core/files/replacefile.h): 0, or the errno of
// the step that failed with the old file left as it was.
int saveCalibration(const std::string& path, const StoredCalibration& stored);
// Reads it: nothing when it is absent (error empty) or damaged (error says why).
std::optional<StoredCalibration> loadCalibration(const std::string& path, std::string& error);

// Whether a stored calibration still holds: same output and camera, and an
// image scale within 1 %.
bool calibrationFits(const StoredCalibration& stored, int output, const std::string& camera, double imageScale);

// The calibration section of PHD2's guide log, line by line (no line ends),
// for the steps a Calibrator went through, done, failed or still running:
// the header, one row per step, each axis's result after its steps, the
// guide speeds the rates mean, and how it ended.
struct CalibrationLogHeader {
    std::tm begins{};          // local time the calibration began
    double imageScale = 0;     // arcseconds per pixel
    int focalLengthMm = 0;
    std::string mount;         // the output's name
    std::string camera;
};
std::vector<std::string> calibrationLogLines(const CalibrationLogHeader& header, const Calibrator& calibrator);
