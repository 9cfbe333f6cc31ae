// The parameters dialog "Paramètres": optics, guiding speeds, axis
// inversions, dark-spot mode, serial port and guiding output. It reads the
// settings record when it is built and writes it only on OK.
#pragma once

#include <QDialog>

#include <memory>

#include "core/state.h"

namespace Ui {
class tparawin;
}

class tparawin : public QDialog {
    Q_OBJECT
public:
    tparawin(SharedState& state, QWidget* parent);
    ~tparawin() override;

    // The control with this numeric id (181 for the focal length...), or
    // nullptr when the dialog has none.
    QWidget* control(int id) const;

private:
    // Shows the image scale, in arcseconds per pixel, of the focal length and
    // pixel size typed so far.
    void updateImageScale();
    // Stores every control into the settings record and closes with OK.
    void storeAndAccept();

    SharedState& state_;
    std::unique_ptr<Ui::tparawin> ui_;
};
