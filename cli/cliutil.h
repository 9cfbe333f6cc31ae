// Small pieces the subcommands share.
#pragma once

#include <QCoreApplication>
#include <QGuiApplication>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "core/guide/correction.h"
#include "core/guide/pulsemachine.h"
#include "core/serial/serialline.h"
#include "core/session.h"
#include "core/state.h"

// The pulse timer of a command that never sends a pulse (it only measures or
// grabs): nothing is ever armed.
class NoPulseTimer : public PulseTimerPort {
public:
    void arm(GuideAxis, int64_t) override {}
    void disarm(GuideAxis) override {}
};

// A JSON string of UTF-8 text (control characters escaped).
inline std::string jsonString(const std::string& s)
{
    std::string out = "\"";
    for (const char c : s) {
        const unsigned char ch = static_cast<unsigned char>(c);
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += c;
        } else if (ch < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", ch);
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

inline void printLine(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// A whole number from lo to hi, and nothing else.
inline std::optional<int> parseInt(const std::string& s, int lo, int hi)
{
    int v = 0;
    const char* end = s.data() + s.size();
    const auto [p, ec] = std::from_chars(s.data(), end, v);
    if (s.empty() || ec != std::errc() || p != end || v < lo || v > hi)
        return std::nullopt;
    return v;
}

// "cannot open COM1 (/dev/ttyUSB0): Device or resource busy"
inline std::string openFailureText(const LineOpenResult& r)
{
    if (r.device.empty())
        return "cannot open " + r.portName + " (only COM1 to COM4 exist)";
    return "cannot open " + r.portName + " (" + r.device + "): " + std::strerror(r.error);
}


// The settings' optics and speeds, in words, for a message saying they give
// no usable correction.
inline std::string opticsText(const SharedState& state)
{
    char text[200];
    std::snprintf(text, sizeof text, "focal length %g cm, pixel size %g um, speeds %g and %g arcsec/s",
                  state.params->focalLength, state.params->pixelSize, state.params->raSpeed,
                  state.params->decSpeed);
    return text;
}

// The QtCore event loop of a command (its timers and sockets; never a
// display): a QCoreApplication with the program's name as its one argument.
// A command that draws pictures asks for `drawing`: a QGuiApplication (text
// needs its fonts) on the offscreen platform, so still no display.
class CommandLoop {
public:
    explicit CommandLoop(bool drawing = false) : owned_(make(drawing, argc_, argv_)), app(*owned_) {}
    CommandLoop(const CommandLoop&) = delete;
    CommandLoop& operator=(const CommandLoop&) = delete;

private:
    static std::unique_ptr<QCoreApplication> make(bool drawing, int& argc, char** argv)
    {
        if (!drawing)
            return std::make_unique<QCoreApplication>(argc, argv);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        return std::make_unique<QGuiApplication>(argc, argv);
    }

    int argc_ = 1;
    char name_[8] = "quorvel";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QCoreApplication> owned_;

public:
    QCoreApplication& app;
};
