// The timed-photography dialog.
#include "ui/photowin.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "core/state.h"
#include "ui/messagebox_qt.h"
#include "ui_photowin.h"

namespace {

std::optional<QString> saveFileChooser(QWidget* parent, const QString& proposed)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(QStringLiteral("Image (*.bmp)"));
    dialog.setDefaultSuffix(QStringLiteral("bmp"));
    dialog.selectFile(proposed);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

}  // namespace

tphotowin::tphotowin(SharedState& state, PhotoSeries& series, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint),
      state_(state),
      series_(series),
      ui_(std::make_unique<Ui::tphotowin>())
{
    ui_->setupUi(this);
    setFixedSize(size());
    // The dialog opens at (200, 6) pixels in its parent.
    if (parent)
        move(parent->mapToGlobal(QPoint(200, 6)));
    chooseFile = [this](const QString& proposed) { return saveFileChooser(this, proposed); };
    connect(ui_->startStopButton, &QPushButton::clicked, this, &tphotowin::StartStop);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui_->browseButton, &QPushButton::clicked, this, &tphotowin::Browse);
    setUp();
}

tphotowin::~tphotowin() = default;

QWidget* tphotowin::control(int id) const
{
    for (QWidget* w : findChildren<QWidget*>())
        if (w->property("id").toInt() == id && id != -1)
            return w;
    return nullptr;
}

QString tphotowin::fileTitle(const std::string& path) const
{
    const size_t slash = path.rfind('/');
    return QString::fromStdString(slash == std::string::npos ? path : path.substr(slash + 1));
}

void tphotowin::setUp()
{
    ui_->fileEdit->setText(fileTitle(series_.photoPath()));
    ui_->intervalEdit->setText(QString::number(state_.params->photoInterval));
    ui_->intervalEdit->setMaxLength(5);
    if (series_.photoRunning()) {
        ui_->intervalEdit->setReadOnly(true);
        ui_->unitStatic->show();
        ui_->countStatic->show();
        ui_->unitCombo->hide();
        ui_->fileEdit->setReadOnly(true);
        ui_->browseButton->hide();
        ui_->startStopButton->setText(QStringLiteral("Stop"));
        UpdatePhotoTexts(series_.photoCount());
    } else {
        for (const char* unit : kPhotoUnitNames)
            ui_->unitCombo->addItem(QString::fromUtf8(unit));
        // A unit only a crafted settings file holds is taken as seconds.
        ui_->unitCombo->setCurrentIndex(state_.params->photoUnit == 1 ? 1 : 0);
        ui_->startStopButton->setText(QStringLiteral("Commencer"));
        ui_->unitStatic->hide();
        ui_->countStatic->hide();
    }
    ui_->startStopButton->setFocus();
}

void tphotowin::UpdatePhotoTexts(int64_t shot, bool failed, const std::string& why)
{
    ui_->unitStatic->setText(QString::fromUtf8(photoUnitName(state_.params->photoUnit)));
    ui_->countStatic->setText(QString::fromStdString(PhotoSeries::countText(shot)));
    // A shot that could not be written shows its number in red, the cause
    // under the pointer.
    ui_->countStatic->setStyleSheet(failed ? QStringLiteral("color: rgb(255, 0, 0);") : QString());
    ui_->countStatic->setToolTip(QString::fromStdString(why));
}

void tphotowin::StartStop()
{
    if (series_.photoRunning()) {
        series_.stop();
        accept();
        return;
    }
    const IntervalField interval = readIntervalField(ui_->intervalEdit->text().left(5).toStdString());
    const int32_t unit = ui_->unitCombo->currentIndex() == 1 ? 1 : 0;
    const BaseCheck check = series_.start(interval.value, unit, chosenPath_);
    if (!check.ok()) {
        // The series does not start; the dialog stays for another name.
        showMessageBox(QStringLiteral("Prise de vue"),
                       QString::fromStdString(baseCheckMessage(check, Language::French)));
        return;
    }
    state_.params->photoInterval = interval.value;
    state_.params->photoUnit = unit;
    accept();
}

void tphotowin::Browse()
{
    const std::string title = ui_->fileEdit->text().left(79).toStdString();
    const QString proposed = QString::fromStdString(PhotoSeries::workingDirectory() + "/" + title);
    // Cancelled: the name chosen before stays.
    if (const std::optional<QString> chosen = chooseFile(proposed))
        chosenPath_ = chosen->toStdString();
    ui_->fileEdit->setText(fileTitle(chosenPath_ ? *chosenPath_ : series_.photoPath()));
}
