// The energy graph window "Energie": beside the main window while guiding, it
// counts how often each guiding error occurred on each axis, draws the counts
// as two bar graphs with the guiding time below them, and offers "Suspend" /
// "Re-start" (pauses guiding and the graph together) and "Reset".
#pragma once

#include <QImage>
#include <QWidget>

#include <array>
#include <cstdint>

#include "ui/drawing.h"
#include "core/session.h"
#include "core/state.h"

class QPainter;
class QPushButton;

class specwin : public QWidget {
    Q_OBJECT
public:
    specwin(SharedState&, GuidingSession&, const DrawingObjects&, QWidget* parent);
    ~specwin() override;

    // Per-cycle update while tracking: counts the current guiding error,
    // redraws the graphs and the clock. Does nothing while suspended.
    void Plot();
    // Button 700 "Reset", and every start of tracking: one count at zero
    // error on each axis, clock from now, not suspended. Tracking untouched.
    void ResetGraph();
    // Button 701: "Suspend" stops guiding and freezes graph and clock;
    // "Re-start" resumes both, the clock from where it stopped. Guiding is
    // the session's: the button asks it, and follows what it reports.
    void ToggleSuspend();

    // Cycles per guiding error, index = error + 25 (errors -25..+24).
    std::array<uint32_t, 50> binsX{};
    std::array<uint32_t, 50> binsY{};
    // Running: the clock value (ms) at which the elapsed time is zero.
    // Suspended: the elapsed time (ms) at the moment of suspension.
    int64_t startTick = 0;

    static constexpr int kWidth = 100;
    static constexpr int kHeight = 486;
    static constexpr int kSuspendId = 701;
    static constexpr int kResetId = 700;
    // The window sits against the right side of the 541-pixel main window.
    static constexpr int kOffsetFromMain = 541;

    QPushButton* button(int id) const;

protected:
    void showEvent(QShowEvent*) override;
    void paintEvent(QPaintEvent*) override;

private:
    void clearCounters();
    void sessionChanged(const SessionEvent& e);
    void drawBars(QPainter&, const std::array<uint32_t, 50>& bins, int baseline);

    SharedState& state_;
    GuidingSession& session_;
    const DrawingObjects& drawing_;
    int listener_ = 0;
    QImage offscreen_;  // the whole window, composed by Plot
    QImage shown_;      // what the window shows; black after every showing
    QPushButton* suspendButton_;
    QPushButton* resetButton_;
};
