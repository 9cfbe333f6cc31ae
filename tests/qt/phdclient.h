// A client of the event server as imaging suites write them from PHD2's
// documentation: a JSON request a line; every line received (answers and
// events, each ending with CR LF) kept in order. It runs on the test's event
// loop; while it waits, a step (a tick of the guider) may run each round.
#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>
#include <vector>

class PhdClient {
public:
    using Step = std::function<void()>;

    explicit PhdClient(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        EXPECT_TRUE(socket.waitForConnected(10000));
    }

    // The result of a request, which must not fail.
    QJsonValue call(const QString& method, const QJsonValue& params = QJsonValue::Undefined)
    {
        const QJsonObject a = answer(method, params);
        EXPECT_FALSE(a.contains("error")) << method.toStdString() << ": " << QJsonDocument(a).toJson().toStdString();
        return a.value("result");
    }
    QJsonObject answer(const QString& method, const QJsonValue& params = QJsonValue::Undefined)
    {
        QJsonObject r{{"method", method}, {"id", ++lastId_}};
        if (!params.isUndefined())
            r.insert("params", params);
        socket.write(QJsonDocument(r).toJson(QJsonDocument::Compact) + "\n");
        QJsonObject found;
        waitFor({}, [&] {
            for (const QJsonObject& m : received)
                if (m.contains("jsonrpc") && m.value("id").toInt() == lastId_)
                    return found = m, true;
            return false;
        });
        return found;
    }
    // The next event of that name after those already taken (empty if none
    // came within maxSteps steps).
    QJsonObject next(const QString& name, const Step& step = {}, int maxSteps = 300)
    {
        QJsonObject found;
        waitFor(step, [&] {
            for (; cursor < received.size(); ++cursor)
                if (received[cursor].value("Event").toString() == name)
                    return found = received[cursor++], true;
            return false;
        }, maxSteps);
        return found;
    }
    std::vector<QJsonObject> events(const QString& name, size_t from = 0) const
    {
        std::vector<QJsonObject> out;
        for (size_t i = from; i < received.size(); ++i)
            if (received[i].value("Event").toString() == name)
                out.push_back(received[i]);
        return out;
    }

    QTcpSocket socket;
    std::vector<QJsonObject> received;  // answers and events, in order
    size_t cursor = 0;                  // events before it are taken
    bool crLf = true;                   // every line ended with CR LF
    int waitMs = 20000;                 // the longest wait without steps

private:
    void poll()
    {
        while (socket.canReadLine()) {
            const QByteArray line = socket.readLine();
            crLf = crLf && line.endsWith("\r\n");
            const QJsonDocument doc = QJsonDocument::fromJson(line);
            EXPECT_TRUE(doc.isObject()) << line.toStdString();
            received.push_back(doc.object());
        }
    }
    void waitFor(const Step& step, const std::function<bool()>& done, int maxSteps = 0)
    {
        for (int i = 0;; ++i) {
            if (QTest::qWaitFor([&] { return poll(), done(); }, step ? 5 : waitMs))
                return;
            if (!step || i == maxSteps)
                break;
            step();
        }
        ADD_FAILURE() << "waited in vain";
    }

    int lastId_ = 0;
};
