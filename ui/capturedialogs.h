// The capture driver's own dialogs, behind "Format" and "Adjust": the frame
// sizes and pixel formats a camera offers, and its settings (exposure, gain,
// brightness, ... or the simulated sky's parameters), applied as they change.
// The formats and controls the program names itself (an INDI camera's) are
// shown under their French names; a device's own names as it gives them.
#pragma once

#include <QDialog>

#include <cstdint>
#include <string>

class CaptureDriver;
struct CaptureControl;
struct CaptureFormat;
struct CaptureStatus;
class QDialogButtonBox;
class QLabel;
class QListWidget;
class QVBoxLayout;

// What the windows call a format and a control.
QString formatText(const CaptureFormat& format);
QString controlText(const CaptureControl& control);

// What both dialogs share: the driver's name on top, then the dialog's own
// part, then a line that shows the driver's refusal and the buttons.
class CaptureDriverDialog : public QDialog {
    Q_OBJECT
protected:
    CaptureDriverDialog(CaptureDriver& driver, const QString& title, QWidget* parent);
    // Adds the refusal line and the buttons below what was added to layout_.
    void addStatusAndButtons(QDialogButtonBox* buttons);
    // Shows the refusal ("Refusé : ..."), or clears it; true when s is ok.
    bool report(const CaptureStatus& s);

    CaptureDriver& driver_;
    QVBoxLayout* layout_ = nullptr;

private:
    QLabel* status_ = nullptr;
};

class FormatDialog : public CaptureDriverDialog {
    Q_OBJECT
public:
    FormatDialog(CaptureDriver& driver, QWidget* parent);
    QListWidget* list() const { return list_; }

private:
    void apply();

    QListWidget* list_ = nullptr;
};

class AdjustDialog : public CaptureDriverDialog {
    Q_OBJECT
public:
    AdjustDialog(CaptureDriver& driver, QWidget* parent);

    // The editor of a control, by its id (for tests).
    QWidget* editor(const QString& id) const;

private:
    void set(const std::string& id, int64_t value);
};
