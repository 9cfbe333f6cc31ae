// PHD2's event server on a TCP port.
#include "qt/eventserver.h"

#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>

#include "qt/remoteguider.h"

namespace {
constexpr qint64 kReadChunk = 64 * 1024;  // bytes handled per turn of the event loop and client
}

EventServer::EventServer(RemoteGuider& guider, QObject* parent)
    : QObject(parent), guider_(guider), server_(new QTcpServer(this))
{
    guider_.registerMethods(rpc_);
    guider_.setPublisher([this](const QJsonObject& e) { broadcast(e); });
    connect(server_, &QTcpServer::newConnection, this, &EventServer::accept);
}

EventServer::~EventServer()
{
    guider_.setPublisher({});
    server_->close();
    for (auto& c : clients_) {
        c->socket->disconnect(this);
        c->socket->abort();
        delete c->socket;
    }
}

bool EventServer::listen(const QString& address, quint16 port, QString& error)
{
    QHostAddress host;
    if (address == QLatin1String("localhost"))
        host = QHostAddress(QHostAddress::LocalHost);
    else if (!host.setAddress(address)) {
        error = QStringLiteral("'%1' is not an IP address").arg(address);
        return false;
    }
    if (!server_->listen(host, port)) {
        error = QStringLiteral("cannot listen on %1:%2: %3").arg(address).arg(port).arg(server_->errorString());
        return false;
    }
    return true;
}

quint16 EventServer::port() const { return server_->serverPort(); }

QString EventServer::address() const { return server_->serverAddress().toString(); }

int EventServer::clientCount() const
{
    return int(std::count_if(clients_.begin(), clients_.end(), [](const auto& c) { return !c->closing; }));
}

void EventServer::accept()
{
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        if (clientCount() >= kMaxClients) {
            refuse(socket);
            continue;
        }
        auto client = std::make_unique<Client>();
        Client* c = client.get();
        c->socket = socket;
        socket->setParent(nullptr);
        socket->setReadBufferSize(kReadChunk);
        clients_.push_back(std::move(client));
        connect(socket, &QTcpSocket::readyRead, this, [this, c] { read(c); });
        connect(socket, &QTcpSocket::disconnected, this, [this, c] {
            c->closing = true;
            sweep();
        });
        for (const QJsonObject& e : guider_.catchUpEvents())
            send(c, QJsonDocument(e).toJson(QJsonDocument::Compact));
        if (socket->bytesAvailable() > 0)
            read(c);
    }
}

void EventServer::refuse(QTcpSocket* socket)
{
    socket->write(JsonRpcDispatcher::errorLine(
                      1, QStringLiteral("too many clients: %1 are connected already").arg(kMaxClients)) +
                  "\r\n");
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->disconnectFromHost();
}

void EventServer::read(Client* c)
{
    // At most one chunk a call: a client sending without pause is served a
    // chunk at a time, the guiding's timers running in between.
    if (c->closing)
        return;
    const QByteArray chunk = c->socket->read(kReadChunk);
    c->reader.feed(std::string_view(chunk.constData(), size_t(chunk.size())), [this, c](std::string_view line, bool tooLong) {
        if (c->closing)
            return;
        if (tooLong) {
            send(c, JsonRpcDispatcher::lineTooLong(kMaxLineBytes));
            return;
        }
        const QByteArray answer = rpc_.handleLine(QByteArray(line.data(), qsizetype(line.size())));
        if (!answer.isEmpty())
            send(c, answer);
    });
    if (!c->closing && c->socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, [this, c] {
            if (std::any_of(clients_.begin(), clients_.end(), [c](const auto& p) { return p.get() == c; }))
                read(c);
        }, Qt::QueuedConnection);
}

void EventServer::send(Client* c, const QByteArray& line)
{
    if (c->closing)
        return;
    c->socket->write(line + "\r\n");
    if (c->socket->bytesToWrite() > kMaxQueuedBytes) {
        ++dropped_;
        drop(c);
    }
}

void EventServer::broadcast(const QJsonObject& event)
{
    const QByteArray line = QJsonDocument(event).toJson(QJsonDocument::Compact);
    // Sending may drop a client: go by index over the clients of now.
    for (size_t i = 0; i < clients_.size(); ++i)
        send(clients_[i].get(), line);
}

void EventServer::drop(Client* c)
{
    if (c->closing)
        return;
    c->closing = true;
    c->socket->abort();
    sweep();
}

void EventServer::sweep()
{
    // Later, from the event loop: a client is never deleted while one of its
    // own calls is still running.
    if (sweepQueued_)
        return;
    sweepQueued_ = true;
    QMetaObject::invokeMethod(this, [this] {
        sweepQueued_ = false;
        auto dead = std::stable_partition(clients_.begin(), clients_.end(), [](const auto& c) { return !c->closing; });
        for (auto it = dead; it != clients_.end(); ++it) {
            (*it)->socket->disconnect(this);
            (*it)->socket->deleteLater();
        }
        clients_.erase(dead, clients_.end());
    }, Qt::QueuedConnection);
}
