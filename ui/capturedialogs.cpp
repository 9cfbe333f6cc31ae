// The capture driver's dialogs.
#include "ui/capturedialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cmath>
#include <limits>

#include "core/capture/capturedriver.h"

namespace {

QString refusal(const CaptureStatus& s)
{
    return QStringLiteral("Refusé : %1").arg(QString::fromStdString(s.error));
}

}  // namespace

FormatDialog::FormatDialog(CaptureDriver& driver, QWidget* parent) : QDialog(parent), driver_(driver)
{
    setWindowTitle(QStringLiteral("Format vidéo"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QString::fromStdString(driver_.name()), this));
    list_ = new QListWidget(this);
    for (const CaptureFormat& f : driver_.formats())
        list_->addItem(QString::fromStdString(f.label));
    if (list_->count() == 0)
        list_->addItem(QStringLiteral("320 x 240 (format unique)"));
    list_->setCurrentRow(std::max(0, driver_.currentFormat()));
    layout->addWidget(list_);
    status_ = new QLabel(this);
    layout->addWidget(status_);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Annuler"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &FormatDialog::apply);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

void FormatDialog::apply()
{
    const int row = list_->currentRow();
    if (driver_.formats().empty() || row == driver_.currentFormat()) {
        accept();
        return;
    }
    const CaptureStatus s = driver_.setFormat(row);
    if (!s.ok) {
        status_->setText(refusal(s));
        return;
    }
    accept();
}

AdjustDialog::AdjustDialog(CaptureDriver& driver, QWidget* parent) : QDialog(parent), driver_(driver)
{
    setWindowTitle(QStringLiteral("Réglages de la source"));
    auto* outer = new QVBoxLayout(this);
    outer->addWidget(new QLabel(QString::fromStdString(driver_.name()), this));
    auto* area = new QScrollArea(this);
    auto* page = new QWidget(area);
    auto* form = new QFormLayout(page);
    const std::vector<CaptureControl> controls = driver_.controls();
    for (const CaptureControl& c : controls) {
        const std::string id = c.id;
        QWidget* editor = nullptr;
        switch (c.kind) {
        case CaptureControl::Kind::Boolean: {
            auto* box = new QCheckBox(page);
            box->setChecked(c.value != 0);
            connect(box, &QCheckBox::toggled, this, [this, id](bool on) { set(id, on ? 1 : 0); });
            editor = box;
            break;
        }
        case CaptureControl::Kind::Menu: {
            auto* combo = new QComboBox(page);
            for (const auto& [value, label] : c.menu) {
                combo->addItem(QString::fromStdString(label), QVariant::fromValue<qlonglong>(value));
                if (value == c.value)
                    combo->setCurrentIndex(combo->count() - 1);
            }
            connect(combo, &QComboBox::activated, this,
                    [this, id, combo](int index) { set(id, combo->itemData(index).toLongLong()); });
            editor = combo;
            break;
        }
        case CaptureControl::Kind::Button: {
            auto* button = new QPushButton(QStringLiteral("Appliquer"), page);
            connect(button, &QPushButton::clicked, this, [this, id] { set(id, 1); });
            editor = button;
            break;
        }
        case CaptureControl::Kind::Integer: {
            // A slider and a box that follow each other; the box shows the
            // value in its own unit when the control has a scale.
            auto* row = new QWidget(page);
            auto* h = new QHBoxLayout(row);
            h->setContentsMargins(0, 0, 0, 0);
            const bool fits = c.minimum >= std::numeric_limits<int>::min() && c.maximum <= std::numeric_limits<int>::max();
            auto* slider = new QSlider(Qt::Horizontal, row);
            slider->setEnabled(fits);
            if (fits) {
                slider->setRange(int(c.minimum), int(c.maximum));
                slider->setSingleStep(int(std::max<int64_t>(1, c.step)));
                slider->setValue(int(c.value));
            }
            auto* box = new QDoubleSpinBox(row);
            const int decimals = c.scale < 1.0 ? int(std::ceil(-std::log10(c.scale))) : 0;
            box->setDecimals(decimals);
            box->setRange(double(c.minimum) * c.scale, double(c.maximum) * c.scale);
            box->setSingleStep(double(std::max<int64_t>(1, c.step)) * c.scale);
            box->setValue(double(c.value) * c.scale);
            box->setKeyboardTracking(false);
            const double scale = c.scale;
            connect(slider, &QSlider::valueChanged, this, [this, id, box, scale](int v) {
                const QSignalBlocker quiet(box);
                box->setValue(v * scale);
                set(id, v);
            });
            connect(box, &QDoubleSpinBox::valueChanged, this, [this, id, slider, scale](double v) {
                const int64_t raw = std::llround(v / scale);
                const QSignalBlocker quiet(slider);
                slider->setValue(int(raw));
                set(id, raw);
            });
            h->addWidget(slider, 1);
            h->addWidget(box);
            editor = row;
            break;
        }
        }
        editor->setObjectName(QString::fromStdString(c.id));
        form->addRow(QString::fromStdString(c.name), editor);
    }
    if (controls.empty())
        form->addRow(new QLabel(QStringLiteral("Aucun réglage pour cette source."), page));
    area->setWidget(page);
    area->setWidgetResizable(true);
    outer->addWidget(area);
    status_ = new QLabel(this);
    outer->addWidget(status_);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("Fermer"), QDialogButtonBox::AcceptRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    outer->addWidget(buttons);
    resize(420, std::min(560, 120 + 34 * int(controls.size())));
}

QWidget* AdjustDialog::editor(const QString& id) const
{
    return findChild<QWidget*>(id);
}

void AdjustDialog::set(const std::string& id, int64_t value)
{
    const CaptureStatus s = driver_.setControl(id, value);
    status_->setText(s.ok ? QString() : refusal(s));
}
