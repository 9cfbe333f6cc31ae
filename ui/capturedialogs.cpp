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

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/capture/capturedriver.h"

namespace {

// The French names of the formats and controls the program names itself
// (capturedriver.h), by their ids.
struct OwnName {
    const char* id;
    const char* text;
};
constexpr OwnName kFormatNames[] = {
    {"window", "320 x 240 fenêtre, pleine résolution"},
    {"window_binned", "320 x 240 fenêtre, binning 2 x 2"},
};
constexpr OwnName kControlNames[] = {
    {"exposure", "Pose (s)"},  {"gain", "Gain"},     {"binning", "Binning"},
    {"window_x", "Fenêtre x"}, {"window_y", "Fenêtre y"}, {"auto_levels", "Niveaux auto"},
    {"black", "Noir"},         {"white", "Blanc"},
};

template <size_t N>
const char* ownName(const OwnName (&names)[N], const std::string& id)
{
    for (const OwnName& n : names)
        if (id == n.id)
            return n.text;
    return nullptr;
}

}  // namespace

QString formatText(const CaptureFormat& f)
{
    if (f.id == "whole")
        return f.width > 0 ? QStringLiteral("%1 x %2 entier, réduit").arg(f.width).arg(f.height)
                           : QStringLiteral("Image entière, réduite");
    if (const char* text = ownName(kFormatNames, f.id))
        return QString::fromUtf8(text);
    return QString::fromStdString(f.label);
}

QString controlText(const CaptureControl& c)
{
    if (const char* text = ownName(kControlNames, c.id))
        return QString::fromUtf8(text);
    return QString::fromStdString(c.name);
}

CaptureDriverDialog::CaptureDriverDialog(CaptureDriver& driver, const QString& title, QWidget* parent)
    : QDialog(parent), driver_(driver)
{
    setWindowTitle(title);
    layout_ = new QVBoxLayout(this);
    layout_->addWidget(new QLabel(QString::fromStdString(driver_.name()), this));
}

void CaptureDriverDialog::addStatusAndButtons(QDialogButtonBox* buttons)
{
    status_ = new QLabel(this);
    layout_->addWidget(status_);
    layout_->addWidget(buttons);
}

bool CaptureDriverDialog::report(const CaptureStatus& s)
{
    status_->setText(s.ok ? QString() : QStringLiteral("Refusé : %1").arg(QString::fromStdString(s.error)));
    return s.ok;
}

FormatDialog::FormatDialog(CaptureDriver& driver, QWidget* parent)
    : CaptureDriverDialog(driver, QStringLiteral("Format vidéo"), parent)
{
    list_ = new QListWidget(this);
    for (const CaptureFormat& f : driver_.formats())
        list_->addItem(formatText(f));
    if (list_->count() == 0)
        list_->addItem(QStringLiteral("320 x 240 (format unique)"));
    list_->setCurrentRow(std::max(0, driver_.currentFormat()));
    layout_->addWidget(list_);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Annuler"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &FormatDialog::apply);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    addStatusAndButtons(buttons);
}

void FormatDialog::apply()
{
    const int row = list_->currentRow();
    if (driver_.formats().empty() || row == driver_.currentFormat() || report(driver_.setFormat(row)))
        accept();
}

AdjustDialog::AdjustDialog(CaptureDriver& driver, QWidget* parent)
    : CaptureDriverDialog(driver, QStringLiteral("Réglages de la source"), parent)
{
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
        form->addRow(controlText(c), editor);
    }
    if (controls.empty())
        form->addRow(new QLabel(QStringLiteral("Aucun réglage pour cette source."), page));
    area->setWidget(page);
    area->setWidgetResizable(true);
    layout_->addWidget(area);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("Fermer"), QDialogButtonBox::AcceptRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    addStatusAndButtons(buttons);
    resize(420, std::min(560, 120 + 34 * int(controls.size())));
}

QWidget* AdjustDialog::editor(const QString& id) const
{
    return findChild<QWidget*>(id);
}

void AdjustDialog::set(const std::string& id, int64_t value)
{
    report(driver_.setControl(id, value));
}
