// The graph `quorvel plot` draws (plot/guideplot.cpp) of any guide log: the
// reader's sections, their heading and figures, and the drawing itself
// (scales, ticks, rows, events), on a small picture for speed; the first
// three sections only.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "core/log/logreader.h"
#include "plot/guideplot.h"
#include "qtapp.h"

namespace {
void draw(const uint8_t* data, size_t size);
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    makeFuzzApp<QGuiApplication>();
    // Fontconfig's caches are filled at the first text drawn, before any
    // input: they would be taken for leaks of the first one.
    const char log[] = "Guiding Begins at x\nFrame,Time,RARawDistance,DECRawDistance\n1,1,1,1\n2,2,2,2\n";
    draw(reinterpret_cast<const uint8_t*>(log), sizeof log - 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    draw(data, size);
    return 0;
}

namespace {
void draw(const uint8_t* data, size_t size)
{
    const GuideLogContents log = readGuideLog(std::string_view(reinterpret_cast<const char*>(data), size));
    const int count = int(log.sections.size());
    QImage image(240, 120, QImage::Format_RGB32);
    for (int i = 0; i < std::min(count, 3); ++i) {
        const GuideLogSection& s = log.sections[size_t(i)];
        const GuidePlotText text = guidePlotText(s, i + 1, count);
        QPainter painter(&image);
        drawGuidePlot(painter, image.width(), image.height(), s, text);
    }
}
}  // namespace
