// The parameters of PHD2's methods.
#include "qt/phdparams.h"

#include <QJsonObject>

#include <algorithm>
#include <cmath>

#include "core/picture.h"

namespace phd {

double round3(double v) { return std::isfinite(v) ? std::round(v * 1000.0) / 1000.0 : 0.0; }

QJsonArray point(int x, int y) { return QJsonArray{x, y}; }

std::optional<bool> boolValue(const QJsonValue& v)
{
    if (v.isBool())
        return v.toBool();
    if (v.isDouble() && (v.toDouble() == 0 || v.toDouble() == 1))
        return v.toDouble() != 0;
    return std::nullopt;
}

std::optional<double> number(const QJsonValue& v)
{
    if (!v.isDouble() || !std::isfinite(v.toDouble()))
        return std::nullopt;
    return v.toDouble();
}

std::optional<SettleParams> settleParams(const QJsonValue& v, QString& why)
{
    why = QStringLiteral("expected settle object param with pixels, time and timeout");
    if (!v.isObject())
        return std::nullopt;
    const QJsonObject o = v.toObject();
    const auto pixels = number(o.value(QStringLiteral("pixels")));
    const auto time = number(o.value(QStringLiteral("time")));
    const auto timeout = number(o.value(QStringLiteral("timeout")));
    if (!pixels || !time || !timeout)
        return std::nullopt;
    if (*pixels <= 0 || *time < 0 || *timeout < 0 || *time > 1e9 || *timeout > 1e9) {
        why = QStringLiteral("settle pixels must be above zero, time and timeout not below zero");
        return std::nullopt;
    }
    SettleParams settle{*pixels, std::floor(*time), std::floor(*timeout)};
    const QJsonValue frames = o.value(QStringLiteral("frames"));
    if (!frames.isUndefined()) {
        const auto n = number(frames);
        if (!n || *n < 1) {
            why = QStringLiteral("settle frames must be a number of frames from 1");
            return std::nullopt;
        }
        settle.frames = int(std::min(*n, double(SettleParams::kNoFrameLimit)));
    }
    return settle;
}

std::optional<Roi> roi(const QJsonValue& v)
{
    const QJsonArray a = v.toArray();
    if (!v.isArray() || a.size() != 4)
        return std::nullopt;
    double n[4];
    for (int i = 0; i < 4; ++i) {
        const auto d = number(a.at(i));
        if (!d || std::fabs(*d) > 1e6)
            return std::nullopt;
        n[i] = std::floor(*d);
    }
    const int x0 = int(std::max(n[0], 0.0)), y0 = int(std::max(n[1], 0.0));
    const int x1 = int(std::min(n[0] + n[2], double(Picture::width)));
    const int y1 = int(std::min(n[1] + n[3], double(Picture::height)));
    if (n[2] <= 0 || n[3] <= 0 || x1 <= x0 || y1 <= y0)
        return std::nullopt;
    return Roi{x0, y0, x1 - x0, y1 - y0};
}

}  // namespace phd
