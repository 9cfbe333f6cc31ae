// The capture driver's own dialogs, behind "Format" and "Adjust": the frame
// sizes and pixel formats a camera offers, and its settings (exposure, gain,
// brightness, ... or the simulated sky's parameters), applied as they change.
#pragma once

#include <QDialog>

class CaptureDriver;
class QLabel;
class QListWidget;

class FormatDialog : public QDialog {
    Q_OBJECT
public:
    FormatDialog(CaptureDriver& driver, QWidget* parent);
    QListWidget* list() const { return list_; }

private:
    void apply();

    CaptureDriver& driver_;
    QListWidget* list_ = nullptr;
    QLabel* status_ = nullptr;
};

class AdjustDialog : public QDialog {
    Q_OBJECT
public:
    AdjustDialog(CaptureDriver& driver, QWidget* parent);

    // The editor of a control, by its id (for tests).
    QWidget* editor(const QString& id) const;

private:
    void set(const std::string& id, int64_t value);

    CaptureDriver& driver_;
    QLabel* status_ = nullptr;
};
