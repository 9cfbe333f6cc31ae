// The graph of a guiding section, drawn with Qt's painter: the RA and DEC
// distances from the lock over time (arcseconds when the image scale is
// known, pixels otherwise), the pulses as bars from the zero line on their
// own scale in milliseconds, dropped frames as ticks under the curves, lock
// moves and dithers as vertical lines, settling shaded, and the RMS and peak
// of each axis in the title. Needs a QGuiApplication (fonts), not a display.
#pragma once

#include <QString>

#include <string>

#include "core/log/logreader.h"

class QPainter;

struct GuidePlotText {
    QString heading;  // first title line: which section, when, how many frames
    QString figures;  // second: RMS and peak of each axis
};

// The title of section `number` (from 1) of `count`.
GuidePlotText guidePlotText(const GuideLogSection& section, int number, int count);

// Draws the graph filling a width x height area of the painter.
void drawGuidePlot(QPainter& painter, int width, int height, const GuideLogSection& section, const GuidePlotText& text);

// Writes the graph to path, a PNG or an SVG by its extension (.png, .svg),
// at 1200 x 600. Returns "" or the reason it could not.
std::string writeGuidePlot(const std::string& path, const GuideLogSection& section, const GuidePlotText& text);

// The file a section's graph goes to when a log has several: "guide.png"
// becomes "guide-2.png" for the second.
std::string numberedPlotPath(const std::string& path, int number);

// Whether path names a picture writeGuidePlot can write.
bool isPlotPath(const std::string& path);
