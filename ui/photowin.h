// The timed-photography dialog "Prise de vue": the interval and its unit, the
// base file name, "Commencer" / "Stop", "Annuler" and "Parcourir". The series
// itself is the core's PhotoSeries, which runs on whether the dialog is open
// or not; the dialog shows its state (idle or running, the unit and the
// number of the shot) and forwards what the user does.
#pragma once

#include <QDialog>

#include <memory>
#include <optional>
#include <string>

#include "core/photo/photoseries.h"

struct SharedState;

namespace Ui {
class tphotowin;
}

class tphotowin : public QDialog {
    Q_OBJECT
public:
    tphotowin(SharedState& state, PhotoSeries& series, QWidget* parent);
    ~tphotowin() override;

    // Shows the running series' unit and shot number ("N°: 12"), the number
    // in red when that shot could not be written.
    void UpdatePhotoTexts(int64_t shot, bool failed = false, const std::string& why = {});
    // The control with this numeric id, or nullptr.
    QWidget* control(int id) const;

    // "Parcourir" asks for the file through this (the save-file chooser by
    // default; tests answer it): the proposed name in, the chosen one out,
    // nothing when the user cancels.
    std::function<std::optional<QString>(const QString& proposed)> chooseFile;

private:
    void setUp();
    void StartStop();
    void Browse();
    QString fileTitle(const std::string& path) const;

    SharedState& state_;
    PhotoSeries& series_;
    std::unique_ptr<Ui::tphotowin> ui_;
    std::optional<std::string> chosenPath_;  // "Parcourir" made, taken by "Commencer"
};
