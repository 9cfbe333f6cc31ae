// JSON-RPC 2.0 as PHD2's event server speaks it, without any socket: one
// request line in, one response line out. A request is an object with a
// string "method", optional "params" (array or object) and "id"; an array
// of them is a batch, answered by an array. A request without "id" is a
// notification and gets no answer, except when its method does not exist
// (imaging suites that wait for every answer must never wait for nothing).
// Every answer carries "jsonrpc":"2.0".
#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <functional>
#include <initializer_list>
#include <optional>

// A method's answer: a result, or an error code and message.
struct RpcReply {
    QJsonValue result;
    int errorCode = 0;  // 0: result holds the answer
    QString message;

    static RpcReply ok(QJsonValue v) { return {std::move(v), 0, {}}; }
    static RpcReply error(int code, QString why) { return {QJsonValue(), code, std::move(why)}; }
    // Code 1: the guider could not do what was asked.
    static RpcReply failed(QString why) { return error(1, std::move(why)); }
    static RpcReply invalidParams(QString why);
};

namespace rpc {
inline constexpr int kParseError = -32700;
inline constexpr int kInvalidRequest = -32600;
inline constexpr int kMethodNotFound = -32601;
inline constexpr int kInvalidParams = -32602;
}  // namespace rpc

// A method's parameters by name, given either by position ("params":[a, b])
// or by name ("params":{"x":a, "y":b}), as PHD2 takes them.
class RpcParams {
public:
    RpcParams(const QJsonValue& params, std::initializer_list<const char*> names);
    // Undefined when not given.
    QJsonValue operator[](const char* name) const
    {
        return values_.value(QString::fromLatin1(name), QJsonValue(QJsonValue::Undefined));
    }
    bool has(const char* name) const { return values_.contains(QString::fromLatin1(name)); }

private:
    QHash<QString, QJsonValue> values_;
};

class JsonRpcDispatcher {
public:
    // params is Undefined when the request had none.
    using Method = std::function<RpcReply(const QJsonValue& params)>;

    void add(const QString& name, Method method);
    bool has(const QString& name) const { return methods_.contains(name); }

    // One request line (UTF-8, without its line end): the answer, without
    // its line end, or an empty array when nothing is to be sent back.
    QByteArray handleLine(const QByteArray& line);

    // The answer to a line refused for its length.
    static QByteArray lineTooLong(std::size_t limit);
    // An error answer with a null id.
    static QByteArray errorLine(int code, const QString& message);

private:
    std::optional<QJsonObject> handleRequest(const QJsonValue& request);

    QHash<QString, Method> methods_;
};
