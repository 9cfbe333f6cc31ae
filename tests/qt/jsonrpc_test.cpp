// JSON-RPC 2.0 without a socket: each request line's answer, ids echoed as
// sent, notifications unanswered (unknown methods excepted), batches, every
// error code, parameters by position or by name.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include "qt/jsonrpc.h"

TEST(JsonRpc, EachLineAnsweredAsJsonRpcSays)
{
    JsonRpcDispatcher d;
    d.add("echo", [](const QJsonValue& params) {
        const RpcParams p(params, {"a", "b"});
        return RpcReply::ok(QJsonArray{p["a"], p.has("b") ? p["b"] : QJsonValue("none")});
    });
    d.add("fails", [](const QJsonValue&) { return RpcReply::failed("could not do it"); });
    const auto err = [](const char* id, int code, const char* message) {
        return QString(R"({"jsonrpc":"2.0","id":%1,"error":{"code":%2,"message":"%3"}})").arg(id).arg(code).arg(message);
    };
    const struct {
        QByteArray line;
        QString expected;  // empty: no answer
    } cases[] = {
        {R"({"method":"echo","params":[1,2],"id":7})", R"({"jsonrpc":"2.0","id":7,"result":[1,2]})"},
        {R"({"method":"echo","params":{"b":"x","a":true},"id":"n1"})", R"({"jsonrpc":"2.0","id":"n1","result":[true,"x"]})"},
        {R"({"method":"echo","id":8})", R"({"jsonrpc":"2.0","id":8,"result":[null,"none"]})"},
        {R"({"method":"echo","params":[1]})", ""},
        {R"({"method":"fails","id":1})", err("1", 1, "could not do it")},
        {R"({"method":"shutdown","id":2})", err("2", -32601, "method not found: shutdown")},
        {R"({"method":"nope"})", err("null", -32601, "method not found: nope")},
        {R"({"id":3})", err("3", -32600, "invalid request: no method")},
        {R"({"method":5,"id":4})", err("4", -32600, "invalid request: no method")},
        {R"({"method":"echo","id":{}})", err("null", -32600, "invalid request: bad id")},
        {R"({"method":"echo","params":3,"id":5})", err("5", -32602, "params must be an array or an object")},
        {"42", err("null", -32600, "invalid request: not a JSON object")},
        {"[]", err("null", -32600, "invalid request: empty batch")},
        {R"([{"method":"echo","params":[1],"id":1},{"method":"echo"},7,{"method":"fails","id":2}])",
         "[" + QString(R"({"jsonrpc":"2.0","id":1,"result":[1,"none"]})") + "," +
             err("null", -32600, "invalid request: not a JSON object") + "," + err("2", 1, "could not do it") + "]"},
        {R"([{"method":"echo"},{"method":"echo"}])", ""},
    };
    for (const auto& c : cases) {
        const QByteArray got = d.handleLine(c.line);
        const QJsonDocument expected = QJsonDocument::fromJson(c.expected.toUtf8());
        EXPECT_EQ(got.isEmpty(), c.expected.isEmpty()) << c.line.toStdString();
        EXPECT_EQ(QJsonDocument::fromJson(got), expected) << c.line.toStdString() << " -> " << got.toStdString();
    }
    // Unreadable lines, invalid UTF-8 among them: parse errors, id null.
    for (const QByteArray& line : {QByteArray("{\"method\":\"echo\",\"id\":1"), QByteArray("{} trailing"),
                                   QByteArray("{\"method\":\"\xff\xfe\",\"id\":1}"), QByteArray(5000, '[')}) {
        const QJsonObject o = QJsonDocument::fromJson(d.handleLine(line)).object();
        EXPECT_TRUE(o.value("id").isNull()) << line.left(30).toStdString();
        EXPECT_EQ(o.value("error").toObject().value("code").toInt(), -32700) << line.left(30).toStdString();
    }
}
