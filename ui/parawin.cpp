// The parameters dialog. Its controls come from ui/parawin.ui, at fixed
// pixel positions.
#include "ui/parawin.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOption>

#include <array>
#include <cmath>
#include <limits>

#include "core/settings/numbertext.h"
#include "ui_parawin.h"

namespace {

// What an edit holds for the program: its first five characters.
std::string editChars(const QLineEdit* edit)
{
    return edit->text().left(numbertext::kEditChars).toStdString();
}

QString editTextOf(double value)
{
    return QString::fromStdString(numbertext::editText(value));
}

// A double narrowed to single precision, going to infinity past the float
// range instead of leaving the conversion undefined.
float toSingle(double value)
{
    if (value > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
    if (value < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(value);
}

// Check boxes with their text on the left, starting at the left edge of the
// control, and the box at its right edge.
class LeftTextCheckStyle : public QProxyStyle {
public:
    QRect subElementRect(SubElement element, const QStyleOption* option,
                         const QWidget* widget) const override
    {
        switch (element) {
        case SE_CheckBoxIndicator:
        case SE_CheckBoxContents:
            return visualRect(Qt::RightToLeft, option->rect,
                              QProxyStyle::subElementRect(element, option, widget));
        case SE_CheckBoxFocusRect:
            return subElementRect(SE_CheckBoxContents, option, widget);
        case SE_CheckBoxClickRect:
            return subElementRect(SE_CheckBoxIndicator, option, widget) |
                   subElementRect(SE_CheckBoxContents, option, widget);
        default:
            return QProxyStyle::subElementRect(element, option, widget);
        }
    }

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override
    {
        const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
        if (element != CE_CheckBox || !button) {
            QProxyStyle::drawControl(element, option, painter, widget);
            return;
        }
        QStyleOptionButton part = *button;
        part.rect = subElementRect(SE_CheckBoxIndicator, button, widget);
        drawPrimitive(PE_IndicatorCheckBox, &part, painter, widget);
        part.rect = subElementRect(SE_CheckBoxContents, button, widget);
        drawControl(CE_CheckBoxLabel, &part, painter, widget);
        if (button->state & State_HasFocus) {
            QStyleOptionFocusRect focus;
            focus.QStyleOption::operator=(*button);
            focus.rect = subElementRect(SE_CheckBoxFocusRect, button, widget);
            drawPrimitive(PE_FrameFocusRect, &focus, painter, widget);
        }
    }
};

}  // namespace

tparawin::tparawin(SharedState& state, QWidget* parent)
    : QDialog(parent), state_(state), ui_(std::make_unique<Ui::tparawin>())
{
    ui_->setupUi(this);
    // The layout's rows are 16 pixels high and its labels sized for
    // characters 8 pixels wide on average: a 12-pixel sans-serif face fits both.
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(12);
    setFont(font);
    setFixedSize(size());
    // The black frames surround other controls: keep them beneath, so that
    // clicks reach the edits and check boxes inside.
    ui_->frameSpeeds->lower();
    ui_->frameOptics->lower();
    auto* checkStyle = new LeftTextCheckStyle;
    checkStyle->setParent(this);
    for (QCheckBox* box : {ui_->check157, ui_->check158, ui_->check159}) box->setStyle(checkStyle);

    move(state_.mainX + 330, state_.mainY + 30);

    const tparam& p = *state_.params;
    ui_->check157->setChecked(p.invertDec != 0);
    ui_->check158->setChecked(p.invertRa != 0);
    ui_->check159->setChecked(p.darkSpotGuiding != 0);
    ui_->edit181->setText(editTextOf(p.focalLength));
    ui_->edit182->setText(editTextOf(p.pixelSize));
    ui_->edit183->setText(editTextOf(p.raSpeed));
    ui_->edit184->setText(editTextOf(p.decSpeed));

    // A damaged settings file may hold a port or an output outside 0..3:
    // then no radio button is checked and no entry selected, and OK keeps
    // the stored value unless the user picks one.
    const std::array<QRadioButton*, 4> radios = {ui_->radio152, ui_->radio153, ui_->radio154,
                                                 ui_->radio155};
    const bool knownPort = p.comPort >= 0 && p.comPort < static_cast<int>(radios.size());
    if (knownPort) radios[static_cast<size_t>(p.comPort)]->setChecked(true);
    // Tab enters the group of ports on its checked button (on Com1 when none
    // is); the arrow keys move within the group.
    const size_t tabRadio = knownPort ? static_cast<size_t>(p.comPort) : 0;
    for (size_t i = 0; i < radios.size(); ++i) {
        const int policy = radios[i]->focusPolicy();
        radios[i]->setFocusPolicy(static_cast<Qt::FocusPolicy>(
            i == tabRadio ? policy | Qt::TabFocus : policy & ~Qt::TabFocus));
    }
    for (const char* name : kInterfaceNames) ui_->list156->addItem(QString::fromUtf8(name));
    const bool knownInterface =
        p.interfaceType >= 0 && p.interfaceType < static_cast<int>(kInterfaceNames.size());
    ui_->list156->setCurrentIndex(knownInterface ? p.interfaceType : -1);

    connect(ui_->edit181, &QLineEdit::textChanged, this, &tparawin::updateImageScale);
    connect(ui_->edit182, &QLineEdit::textChanged, this, &tparawin::updateImageScale);
    connect(ui_->button189, &QPushButton::clicked, this, &tparawin::storeAndAccept);
    connect(ui_->button190, &QPushButton::clicked, this, &QDialog::reject);
    updateImageScale();
}

tparawin::~tparawin() = default;

QWidget* tparawin::control(int id) const
{
    if (id < 0) return nullptr;
    for (QWidget* w : findChildren<QWidget*>()) {
        QVariant v = w->property("id");
        if (v.isValid() && v.toInt() == id) return w;
    }
    return nullptr;
}

void tparawin::updateImageScale()
{
    const float focal = toSingle(numbertext::readNumber(editChars(ui_->edit181)));  // cm
    const float pixel = toSingle(numbertext::readNumber(editChars(ui_->edit182)));  // µm
    if (focal == 0.0f) return;
    // Half a pixel in centimetres over the focal length is the tangent of
    // half the angle one pixel subtends; the label shows the whole angle.
    const double halfPixelTangent = pixel * 0.5 * 0.0001 / focal;
    const float arcsecPerPixel =
        toSingle(std::atan(halfPixelTangent) * 0.3183098861837907 * 180.0 * 3600.0 * 2.0);
    ui_->label150->setText(QString::fromStdString(numbertext::formatSignificant(arcsecPerPixel, 2)));
}

void tparawin::storeAndAccept()
{
    const std::string focalText = editChars(ui_->edit181);
    const std::string pixelText = editChars(ui_->edit182);
    const std::string raText = editChars(ui_->edit183);
    const std::string decText = editChars(ui_->edit184);

    tparam& p = *state_.params;
    const std::array<QRadioButton*, 4> radios = {ui_->radio152, ui_->radio153, ui_->radio154,
                                                 ui_->radio155};
    for (size_t i = 0; i < radios.size(); ++i)
        if (radios[i]->isChecked()) p.comPort = static_cast<int32_t>(i);
    p.invertDec = ui_->check157->isChecked() ? 1 : 0;
    p.invertRa = ui_->check158->isChecked() ? 1 : 0;
    p.darkSpotGuiding = ui_->check159->isChecked() ? 1 : 0;
    if (ui_->list156->currentIndex() >= 0) p.interfaceType = ui_->list156->currentIndex();

    p.raSpeed = numbertext::readNumber(raText);
    p.decSpeed = numbertext::readNumber(decText);
    p.focalLength = numbertext::readNumber(focalText);
    p.pixelSize = numbertext::readNumber(pixelText);
    accept();
}
