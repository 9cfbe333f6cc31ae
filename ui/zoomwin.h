// The analysis panel under the live picture: it shows the analysis region
// magnified twice with its marks, carries the dark-frame, tracking,
// parameters and photo controls, and creates the monitoring windows and the
// LED window when it is built. The measurement, the dark frame and the
// tracking are the guiding session's; the panel forwards what the user does
// and draws what a cycle found.
#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>

#include "core/guider.h"
#include "core/photo/photoseries.h"
#include "core/state.h"
#include "ui/drawing.h"
#include "ui/energywin.h"
#include "ui/histwin.h"
#include "ui/optowin.h"
#include "ui/ravozuzmainwin.h"
#include "ui/trackwin.h"

class QCheckBox;
class QPushButton;

class tzoomwin : public QWidget {
    Q_OBJECT
public:
    // Control ids of the panel, also the controls' object names.
    enum ControlId {
        ReticleBoxId = 449,   // "Mire"
        TrackButtonId = 450,  // "Track"
        DarkButtonId = 452,   // "Acq Noir"
        DarkBoxId = 453,      // "Util. noir"
        ParamButtonId = 454,  // "Param"
        PhotoButtonId = 455,  // "Photo"
    };

    // Loads the settings file of the current directory, creates the
    // monitoring and LED windows (children of the main window) and applies
    // the guiding output.
    tzoomwin(SharedState& state, GuiderCore& core, const DrawingObjects& drawing, RavozuzMainWindow* parent);
    ~tzoomwin() override;

    StarAnalysis& analysis;  // the session's: zoom frame, dark frame, "Util. noir"

    // Timed photography: the series, and the timer (number 1) whose tick
    // takes a shot when one is due. Its period bounds how late a shot is.
    static constexpr int kPhotoTickMs = 100;
    PhotoSeries photoSeries;
    QTimer photoTimer;
    class tphotowin* photoDialog = nullptr;  // while it is open
    THistwin* histWindow = nullptr;
    Trackwin* trackWindow = nullptr;
    specwin* graphWindow = nullptr;
    TOptowin* optoWindow = nullptr;

    // The window's content as last drawn: what paintEvent shows.
    const QImage& surface() const { return memoryBitmap; }

public slots:
    // Measure the region of the live picture now (the session's cycle, the
    // correction included), then show the result as ShowCycle does. The
    // acquisition loop runs its own cycles and hands them to ShowCycle.
    void MeasureCycle();
    // What a cycle found, on the monitoring windows and the zoom picture.
    void ShowCycle(const CycleResult& cycle);
    // Open the serial port or show the LED window, by the chosen output.
    void ApplyInterface();
    // "Acq Noir": arm a dark-frame capture, or make the armed one now. The
    // acquisition timer calls it on every tick while a capture is armed.
    void AcquireDark();
    // The button's text for the arming as it stands ("Acq Noir", "En cours").
    void ShowDarkState();
    // The measured region, magnified twice, with the cross and the lock marks.
    void DrawZoom();
    // The raw colour picture of the region, magnified twice, shown at once
    // while the region is dragged; the next cycle replaces it.
    void DrawLivePreview();
    // "Track": take the lock position from the last centroid and start
    // guiding, or stop guiding.
    void ToggleTracking();
    // "Param": the parameters dialog, modal; the output is applied again
    // however it closes.
    void EditParameters();
    // "Photo": the "Prise de vue" dialog, modal.
    void OpenPhotoDialog();
    // photoTimer, every 100 ms: a shot of the live picture when the series is due one.
    void PhotoTick();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void paintBackground();
    void drawMarks();
    void useDarkFrameClicked(bool checked);
    void reticleClicked(bool checked);
    void giveFocusBack();
    void sessionChanged(const SessionEvent& e);

    SharedState& state_;
    GuiderCore& core_;
    const DrawingObjects& drawing_;
    int listener_ = 0;

    // The zoom picture's 8-bit image: 100 x 100 levels, shown through the
    // grey palette (level i as grey 4i + 3), the top row first.
    QImage zoomHeader;
    // Off-screen image of the whole 320 x 460 window: what paintEvent shows.
    QImage memoryBitmap;
    // The parent main window: receives the keyboard focus after every command.
    RavozuzMainWindow* mainWindow;
    QCheckBox* darkCheckBox = nullptr;     // 453, "Util. noir"
    QCheckBox* reticleCheckBox = nullptr;  // 449, "Mire"
    QPushButton* darkButton_ = nullptr;
    QPushButton* trackButton_ = nullptr;
    QPushButton* paramButton_ = nullptr;
    QPushButton* photoButton_ = nullptr;
};
