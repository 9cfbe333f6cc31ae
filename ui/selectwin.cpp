// The "Video Source" dialog.
#include "ui/selectwin.h"

#include <QListWidget>
#include <QPushButton>

#include "core/state.h"
#include "ui_selectwin.h"

tselectwin::tselectwin(SharedState& state, const std::vector<std::string>& driverNames, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowContextHelpButtonHint),
      state_(state),
      ui_(std::make_unique<Ui::tselectwin>())
{
    ui_->setupUi(this);
    setFixedSize(size());
    // The dialog opens at (228, 68) pixels from its owner's client area.
    if (parent)
        move(parent->mapToGlobal(QPoint(228, 68)));
    for (const std::string& name : driverNames)
        ui_->driverList->addItem(QString::fromStdString(name));
    if (state_.driverIndex >= 0 && state_.driverIndex < ui_->driverList->count())
        ui_->driverList->setCurrentRow(state_.driverIndex);
    connect(ui_->okButton, &QPushButton::clicked, this, &tselectwin::okPressed);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    // A double click on an entry is its choice and OK at once.
    connect(ui_->driverList, &QListWidget::itemDoubleClicked, this, &tselectwin::okPressed);
}

tselectwin::~tselectwin() = default;

QListWidget* tselectwin::driverList() const
{
    return ui_->driverList;
}

void tselectwin::okPressed()
{
    const QList<QListWidgetItem*> chosen = ui_->driverList->selectedItems();
    state_.driverIndex = chosen.isEmpty() ? -1 : ui_->driverList->row(chosen.first());
    accept();
}
