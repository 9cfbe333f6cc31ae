// The "Video Source" dialog: the nine entries of the capture drivers, entry i
// being driver i. OK takes the selected entry as driverIndex (-1 when none is
// selected); Cancel keeps driverIndex as it was.
#pragma once

#include <QDialog>

#include <memory>
#include <string>
#include <vector>

struct SharedState;
class QListWidget;

namespace Ui {
class tselectwin;
}

class tselectwin : public QDialog {
    Q_OBJECT
public:
    tselectwin(SharedState& state, const std::vector<std::string>& driverNames, QWidget* parent);
    ~tselectwin() override;

    QListWidget* driverList() const;

private:
    void okPressed();

    SharedState& state_;
    std::unique_ptr<Ui::tselectwin> ui_;
};
