// Small pieces the subcommands share.
#pragma once

#include <cstdio>
#include <string>

#include "core/guide/pulsemachine.h"

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
