// PHD2's events, one builder each, as its own server writes them: every
// event carries its name, the time (seconds since the epoch, UTC), the host
// and the instance; the fields of each are PHD2's.
#pragma once

#include <QJsonObject>
#include <QString>

#include "core/server/appstate.h"
#include "core/server/settling.h"

struct GuideStepFigures;

class PhdEvents {
public:
    explicit PhdEvents(QString host) : host_(std::move(host)) {}

    QJsonObject event(const char* name) const;

    QJsonObject version(const char* version) const;
    QJsonObject appState(AppState s) const;
    // Positions in pixels; fractions in the precise mode (whole numbers print as integers).
    QJsonObject lockPositionSet(double x, double y) const;
    QJsonObject starSelected(double x, double y) const;
    // The precise mode's calibration.
    QJsonObject startCalibration(const QString& mount) const;
    QJsonObject calibrating(const QString& mount, const char* direction, int step, double dx, double dy, double x,
                            double y, double distance) const;
    QJsonObject calibrationComplete(const QString& mount) const;
    QJsonObject calibrationFailed(const QString& reason) const;
    QJsonObject loopingExposures(int frame) const;
    // A guide frame: the figures of its cycle, its number from 1, seconds
    // since guiding began, the mount's name and PHD2's smoothed distance.
    QJsonObject guideStep(const GuideStepFigures& f, int frame, double t, const QString& mount, double avgDist) const;
    QJsonObject starLost(int frame, double t, double avgDist) const;
    QJsonObject settling(const SettleProgress& p) const;
    QJsonObject settleDone(const SettleOutcome& o) const;
    QJsonObject guidingDithered(double dx, double dy) const;
    QJsonObject alert(const QString& message) const;  // an error

private:
    // An event with two numbers (a position, an offset).
    QJsonObject pair(const char* name, const char* xKey, double x, const char* yKey, double y) const;

    QString host_;
};
