// JSON-RPC 2.0 requests and answers.
#include "qt/jsonrpc.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace {

QJsonObject response(const QJsonValue& id)
{
    QJsonObject r;
    r.insert(QStringLiteral("jsonrpc"), QStringLiteral("2.0"));
    r.insert(QStringLiteral("id"), id.isUndefined() ? QJsonValue(QJsonValue::Null) : id);
    return r;
}

QJsonObject errorResponse(const QJsonValue& id, int code, const QString& message)
{
    QJsonObject r = response(id);
    QJsonObject e;
    e.insert(QStringLiteral("code"), code);
    e.insert(QStringLiteral("message"), message);
    r.insert(QStringLiteral("error"), e);
    return r;
}

QByteArray compact(const QJsonObject& o) { return QJsonDocument(o).toJson(QJsonDocument::Compact); }

// An id is a string, a number or null; anything else makes the request invalid.
bool validId(const QJsonValue& id)
{
    return id.isUndefined() || id.isString() || id.isDouble() || id.isNull();
}

}  // namespace

RpcReply RpcReply::invalidParams(QString why) { return error(rpc::kInvalidParams, std::move(why)); }

RpcParams::RpcParams(const QJsonValue& params, std::initializer_list<const char*> names)
{
    if (params.isArray()) {
        const QJsonArray a = params.toArray();
        int i = 0;
        for (const char* n : names) {
            if (i >= a.size())
                break;
            values_.insert(QString::fromLatin1(n), a.at(i++));
        }
    } else if (params.isObject()) {
        const QJsonObject o = params.toObject();
        for (auto it = o.begin(); it != o.end(); ++it)
            values_.insert(it.key(), it.value());
    }
}

void JsonRpcDispatcher::add(const QString& name, Method method) { methods_.insert(name, std::move(method)); }

QByteArray JsonRpcDispatcher::errorLine(int code, const QString& message)
{
    return compact(errorResponse(QJsonValue::Null, code, message));
}

QByteArray JsonRpcDispatcher::lineTooLong(std::size_t limit)
{
    return errorLine(rpc::kInvalidRequest,
                     QStringLiteral("request line longer than %1 bytes, ignored").arg(qulonglong(limit)));
}

QByteArray JsonRpcDispatcher::handleLine(const QByteArray& line)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError) {
        // Valid JSON that is neither an object nor an array (42, "x", null)
        // is a request of the wrong shape, not unreadable text.
        QJsonParseError again{};
        const QJsonDocument wrapped = QJsonDocument::fromJson("[" + line + "]", &again);
        if (again.error == QJsonParseError::NoError && wrapped.array().size() == 1)
            return errorLine(rpc::kInvalidRequest, QStringLiteral("invalid request: not a JSON object"));
        return errorLine(rpc::kParseError, QStringLiteral("parse error: %1 at offset %2")
                                               .arg(error.errorString())
                                               .arg(error.offset));
    }
    if (doc.isObject()) {
        const std::optional<QJsonObject> r = handleRequest(doc.object());
        return r ? compact(*r) : QByteArray();
    }
    const QJsonArray batch = doc.array();
    if (batch.isEmpty())
        return errorLine(rpc::kInvalidRequest, QStringLiteral("invalid request: empty batch"));
    QJsonArray answers;
    for (const QJsonValue& request : batch) {
        if (const std::optional<QJsonObject> r = handleRequest(request))
            answers.append(*r);
    }
    if (answers.isEmpty())
        return {};
    return QJsonDocument(answers).toJson(QJsonDocument::Compact);
}

std::optional<QJsonObject> JsonRpcDispatcher::handleRequest(const QJsonValue& request)
{
    if (!request.isObject())
        return errorResponse(QJsonValue::Null, rpc::kInvalidRequest, QStringLiteral("invalid request: not a JSON object"));
    const QJsonObject o = request.toObject();
    const QJsonValue id = o.value(QStringLiteral("id"));
    const QJsonValue method = o.value(QStringLiteral("method"));
    const QJsonValue params = o.value(QStringLiteral("params"));
    if (!validId(id))
        return errorResponse(QJsonValue::Null, rpc::kInvalidRequest, QStringLiteral("invalid request: bad id"));
    if (!method.isString())
        return errorResponse(id, rpc::kInvalidRequest, QStringLiteral("invalid request: no method"));
    const auto it = methods_.constFind(method.toString());
    if (it == methods_.constEnd())
        return errorResponse(id, rpc::kMethodNotFound,
                             QStringLiteral("method not found: %1").arg(method.toString().left(100)));
    if (!params.isUndefined() && !params.isArray() && !params.isObject()) {
        if (id.isUndefined())
            return std::nullopt;
        return errorResponse(id, rpc::kInvalidParams, QStringLiteral("params must be an array or an object"));
    }
    const RpcReply reply = it.value()(params);
    if (id.isUndefined())
        return std::nullopt;
    if (reply.errorCode != 0)
        return errorResponse(id, reply.errorCode, reply.message);
    QJsonObject r = response(id);
    r.insert(QStringLiteral("result"), reply.result.isUndefined() ? QJsonValue(QJsonValue::Null) : reply.result);
    return r;
}
