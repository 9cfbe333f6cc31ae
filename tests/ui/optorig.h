// Test rig for the guiding outputs: a shared state on a chosen clock, COM1 on
// a pseudo-terminal, every write on the line recorded with its time, and the
// drawing objects the windows take.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ui/drawing.h"
#include "core/state.h"
#include "core/serial/serialline.h"
#include "ptyline.h"

struct LineWrite {
    int64_t timeUs;
    std::string text;
};

using Strings = std::vector<std::string>;

template <class ClockType>
struct OptoRig {
    ClockType clock;
    SharedState state{clock};
    PtyLine pty;
    ScopedEnv com1{"QUORVEL_COM1", pty.path()};
    ScopedEnv trace{"QUORVEL_SERIAL_LOG", std::nullopt};
    MountLink link{state};
    DrawingObjects drawing;
    std::vector<LineWrite> writes;
    std::vector<std::string> notices;  // captions of the messages shown

    explicit OptoRig(int interfaceType = Lx200, bool openCom1 = true)
    {
        state.params->interfaceType = interfaceType;
        state.notify = [this](const std::string& c, const std::string&) { notices.push_back(c); };
        link.setWriteObserver([this](int64_t t, const uint8_t* b, size_t n) {
            writes.push_back({t, std::string(reinterpret_cast<const char*>(b), n)});
        });
        if (openCom1)
            link.openComPort(1);
    }

    Strings texts() const
    {
        Strings out;
        for (const LineWrite& w : writes)
            out.push_back(w.text);
        return out;
    }
    Strings takeTexts()
    {
        Strings out = texts();
        writes.clear();
        return out;
    }
};
