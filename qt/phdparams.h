// The parameters of PHD2's methods as imaging suites send them: numbers,
// booleans as true/false or 1/0, the settle object, a region of interest.
// Each reader says no (nullopt) rather than guess.
#pragma once

#include <QJsonArray>
#include <QJsonValue>
#include <QString>

#include <optional>

#include "core/server/settling.h"

namespace phd {

// Three decimals; 0 for what is not finite.
double round3(double v);
QJsonArray point(int x, int y);

std::optional<bool> boolValue(const QJsonValue& v);
std::optional<double> number(const QJsonValue& v);

// {"pixels":P,"time":T,"timeout":S[,"frames":F]}: the first three, none
// below zero; the times in whole seconds, as PHD2 takes them. why says what
// is wrong when nothing is returned.
std::optional<SettleParams> settleParams(const QJsonValue& v, QString& why);

// [x, y, width, height] in picture pixels, cut to the 320 x 240 picture;
// nothing when it is not four numbers or leaves nothing of the picture.
struct Roi {
    int x = 0, y = 0, width = 0, height = 0;
};
std::optional<Roi> roi(const QJsonValue& v);
inline const char* const kRoiExpected = "expected roi [x, y, width, height] inside the 320 x 240 frame";

}  // namespace phd
