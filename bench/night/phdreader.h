// An imaging suite's side of the event server for the night: a TCP client
// on loopback that sends PHD2's requests and reads every line the server
// sends, keeping counts only (a night of events kept would weigh on the
// memory the night measures). It runs on the night's own thread: read()
// takes what the socket has after the event loop has run.
#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QTcpSocket>

#include <map>
#include <optional>

class PhdReader {
public:
    explicit PhdReader(quint16 port);

    bool connected() const { return socket_.state() == QAbstractSocket::ConnectedState; }
    // Sends a request; its id.
    int request(const QString& method, const QJsonValue& params = QJsonValue::Undefined);
    // Reads every whole line that has come.
    void read();
    // The answer to a request once it came: true when it was no error.
    std::optional<bool> answered(int id) const;

    // What came.
    int lines() const { return lines_; }
    int badLines() const { return bad_; }        // not a JSON object, or not ended with CR LF
    int errors() const { return errors_; }       // answers that were errors
    int count(const QString& event) const;
    // The pulses the GuideStep events reported, an axis with a direction each.
    int pulses() const { return pulses_; }
    int settleFailures() const { return settleFailures_; }
    // GuideStep and StarLost events whose frame does not follow the last
    // one's, or whose time goes back.
    int outOfOrder() const { return outOfOrder_; }
    const QString& lastError() const { return lastError_; }
    const QString& lastSettleFailure() const { return lastSettleFailure_; }

private:
    QTcpSocket socket_;
    int lastId_ = 0;
    std::map<int, bool> answers_;  // id -> no error; the night sends a few dozen requests
    std::map<QString, int> events_;
    int lines_ = 0, bad_ = 0, errors_ = 0, pulses_ = 0, settleFailures_ = 0, outOfOrder_ = 0;
    int lastFrame_ = 0;
    double lastTime_ = 0;
    QString lastError_, lastSettleFailure_;
};
