// The night's client of the event server.
#include "bench/night/phdreader.h"

#include <QJsonDocument>

PhdReader::PhdReader(quint16 port)
{
    socket_.connectToHost(QHostAddress::LocalHost, port);
    socket_.waitForConnected(10000);
}

int PhdReader::request(const QString& method, const QJsonValue& params)
{
    QJsonObject r{{"method", method}, {"id", ++lastId_}};
    if (!params.isUndefined())
        r.insert("params", params);
    socket_.write(QJsonDocument(r).toJson(QJsonDocument::Compact) + "\r\n");
    socket_.flush();
    return lastId_;
}

std::optional<bool> PhdReader::answered(int id) const
{
    const auto it = answers_.find(id);
    if (it == answers_.end())
        return std::nullopt;
    return it->second;
}

int PhdReader::count(const QString& event) const
{
    const auto it = events_.find(event);
    return it == events_.end() ? 0 : it->second;
}

void PhdReader::read()
{
    while (socket_.canReadLine()) {
        const QByteArray line = socket_.readLine();
        ++lines_;
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        if (!line.endsWith("\r\n") || !doc.isObject()) {
            ++bad_;
            continue;
        }
        const QJsonObject m = doc.object();
        if (m.contains("jsonrpc")) {
            const bool ok = !m.contains("error");
            answers_[m.value("id").toInt()] = ok;
            if (!ok) {
                ++errors_;
                lastError_ = QString::fromUtf8(line.trimmed());
            }
            continue;
        }
        const QString name = m.value("Event").toString();
        ++events_[name];
        if (name == "GuideStep" || name == "StarLost") {
            // Frames count from 1 at the start of guiding, one a cycle.
            const int frame = m.value("Frame").toInt();
            const double time = m.value("Time").toDouble();
            if (frame != lastFrame_ + 1 || time < lastTime_)
                ++outOfOrder_;
            lastFrame_ = frame;
            lastTime_ = time;
        }
        if (name == "GuideStep") {
            pulses_ += m.contains("RADirection") ? 1 : 0;
            pulses_ += m.contains("DECDirection") ? 1 : 0;
        } else if (name == "SettleDone" && m.value("Status").toInt(-1) != 0) {
            ++settleFailures_;
            lastSettleFailure_ = QString::fromUtf8(line.trimmed());
        }
    }
}
