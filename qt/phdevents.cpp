// PHD2's events.
#include "qt/phdevents.h"

#include <QDateTime>
#include <QJsonArray>

#include <cmath>

#include "core/guide/signs.h"
#include "core/log/guidestep.h"
#include "qt/phdparams.h"

using phd::round3;

QJsonObject PhdEvents::event(const char* name) const
{
    QJsonObject e;
    e.insert(QStringLiteral("Event"), QString::fromLatin1(name));
    e.insert(QStringLiteral("Timestamp"), double(QDateTime::currentMSecsSinceEpoch()) / 1000.0);
    e.insert(QStringLiteral("Host"), host_);
    e.insert(QStringLiteral("Inst"), 1);
    return e;
}

QJsonObject PhdEvents::version(const char* version) const
{
    QJsonObject v = event("Version");
    v.insert(QStringLiteral("PHDVersion"), QString::fromLatin1(version));
    v.insert(QStringLiteral("PHDSubver"), QString());
    v.insert(QStringLiteral("OverlapSupport"), true);
    v.insert(QStringLiteral("MsgVersion"), 1);
    return v;
}

QJsonObject PhdEvents::appState(AppState s) const
{
    QJsonObject e = event("AppState");
    e.insert(QStringLiteral("State"), QString::fromLatin1(appStateName(s)));
    return e;
}

QJsonObject PhdEvents::pair(const char* name, const char* xKey, double x, const char* yKey, double y) const
{
    QJsonObject e = event(name);
    e.insert(QString::fromLatin1(xKey), x);
    e.insert(QString::fromLatin1(yKey), y);
    return e;
}

QJsonObject PhdEvents::lockPositionSet(double x, double y) const { return pair("LockPositionSet", "X", x, "Y", y); }

QJsonObject PhdEvents::starSelected(double x, double y) const { return pair("StarSelected", "X", x, "Y", y); }

QJsonObject PhdEvents::loopingExposures(int frame) const
{
    QJsonObject e = event("LoopingExposures");
    e.insert(QStringLiteral("Frame"), frame);
    return e;
}

QJsonObject PhdEvents::guideStep(const GuideStepFigures& f, int frame, double t, const QString& mount,
                                 double avgDist) const
{
    QJsonObject e = event("GuideStep");
    e.insert(QStringLiteral("Frame"), frame);
    e.insert(QStringLiteral("Time"), round3(t));
    e.insert(QStringLiteral("Mount"), mount);
    e.insert(QStringLiteral("dx"), f.dx);
    e.insert(QStringLiteral("dy"), f.dy);
    e.insert(QStringLiteral("RADistanceRaw"), f.raDistance);
    e.insert(QStringLiteral("DECDistanceRaw"), f.decDistance);
    e.insert(QStringLiteral("RADistanceGuide"), f.raGuideDistance);
    e.insert(QStringLiteral("DECDistanceGuide"), f.decGuideDistance);
    if (f.raDirection) {
        e.insert(QStringLiteral("RADuration"), f.raMs);
        e.insert(QStringLiteral("RADirection"), QString::fromLatin1(directionName(*f.raDirection)));
    }
    if (f.decDirection) {
        e.insert(QStringLiteral("DECDuration"), f.decMs);
        e.insert(QStringLiteral("DECDirection"), QString::fromLatin1(directionName(*f.decDirection)));
    }
    e.insert(QStringLiteral("StarMass"), std::round(f.starMass));
    e.insert(QStringLiteral("SNR"), std::round(f.snr * 100) / 100);
    e.insert(QStringLiteral("AvgDist"), round3(avgDist));
    return e;
}

QJsonObject PhdEvents::starLost(int frame, double t, double avgDist) const
{
    QJsonObject e = event("StarLost");
    e.insert(QStringLiteral("Frame"), frame);
    e.insert(QStringLiteral("Time"), round3(t));
    e.insert(QStringLiteral("StarMass"), 0);
    e.insert(QStringLiteral("SNR"), 0);
    e.insert(QStringLiteral("AvgDist"), round3(avgDist));
    e.insert(QStringLiteral("ErrorCode"), 2);
    e.insert(QStringLiteral("Status"), QStringLiteral("Star lost"));
    return e;
}

QJsonObject PhdEvents::settling(const SettleProgress& p) const
{
    QJsonObject s = event("Settling");
    s.insert(QStringLiteral("Distance"), std::round(p.distance * 100) / 100);
    s.insert(QStringLiteral("Time"), std::round(p.timeInRangeSec * 10) / 10);
    s.insert(QStringLiteral("SettleTime"), p.settleTimeSec);
    s.insert(QStringLiteral("StarLocked"), p.starLocked);
    return s;
}

QJsonObject PhdEvents::settleDone(const SettleOutcome& o) const
{
    QJsonObject e = event("SettleDone");
    e.insert(QStringLiteral("Status"), o.settled ? 0 : 1);
    if (!o.settled)
        e.insert(QStringLiteral("Error"), QString::fromStdString(o.error));
    e.insert(QStringLiteral("TotalFrames"), o.totalFrames);
    e.insert(QStringLiteral("DroppedFrames"), o.droppedFrames);
    return e;
}

QJsonObject PhdEvents::guidingDithered(double dx, double dy) const { return pair("GuidingDithered", "dx", dx, "dy", dy); }

QJsonObject PhdEvents::alert(const QString& message) const
{
    QJsonObject a = event("Alert");
    a.insert(QStringLiteral("Msg"), message);
    a.insert(QStringLiteral("Type"), QStringLiteral("error"));
    return a;
}

QJsonObject PhdEvents::startCalibration(const QString& mount) const
{
    QJsonObject e = event("StartCalibration");
    e.insert(QStringLiteral("Mount"), mount);
    return e;
}

QJsonObject PhdEvents::calibrating(const QString& mount, const char* direction, int step, double dx, double dy,
                                   double x, double y, double distance) const
{
    QJsonObject e = event("Calibrating");
    e.insert(QStringLiteral("Mount"), mount);
    e.insert(QStringLiteral("dir"), QString::fromLatin1(direction));
    e.insert(QStringLiteral("dist"), round3(distance));
    e.insert(QStringLiteral("dx"), round3(dx));
    e.insert(QStringLiteral("dy"), round3(dy));
    e.insert(QStringLiteral("pos"), QJsonArray{round3(x), round3(y)});
    e.insert(QStringLiteral("step"), step);
    e.insert(QStringLiteral("State"), QStringLiteral("%1 %2").arg(QString::fromLatin1(direction)).arg(step));
    return e;
}

QJsonObject PhdEvents::calibrationComplete(const QString& mount) const
{
    QJsonObject e = event("CalibrationComplete");
    e.insert(QStringLiteral("Mount"), mount);
    return e;
}

QJsonObject PhdEvents::calibrationFailed(const QString& reason) const
{
    QJsonObject e = event("CalibrationFailed");
    e.insert(QStringLiteral("Reason"), reason);
    return e;
}
