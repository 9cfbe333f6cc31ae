// PHD2's event server on a TCP port: imaging suites connect, send one
// JSON-RPC request a line and receive the answers and the guider's events,
// one JSON object a line ending with CR LF. The guiding never waits for a
// client: answers and events are queued on the socket, and a client whose
// queue passes kMaxQueuedBytes (it does not read) is dropped; a client that
// sends garbage gets errors, a line longer than kMaxLineBytes is refused and
// skipped, and at most kMaxClients are served at once (the next one gets an
// error line and is closed).
#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

#include "core/server/linereader.h"
#include "qt/jsonrpc.h"

class QTcpServer;
class QTcpSocket;
class RemoteGuider;

class EventServer : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxClients = 16;
    static constexpr qint64 kMaxQueuedBytes = 1 << 20;
    static constexpr std::size_t kMaxLineBytes = LineReader::kDefaultMaxLine;
    static constexpr quint16 kDefaultPort = 4400;

    // Serves this guider: registers its methods, publishes its events.
    explicit EventServer(RemoteGuider& guider, QObject* parent = nullptr);
    ~EventServer() override;

    // Listens on address ("127.0.0.1", "0.0.0.0", "::1", "localhost", an
    // interface's address) and port (0: any free port). False with a
    // readable cause when the address is not one or the port is taken.
    bool listen(const QString& address, quint16 port, QString& error);
    quint16 port() const;
    QString address() const;

    int clientCount() const;
    // Clients dropped for not reading.
    int dropped() const { return dropped_; }

    // Sends an event to every client.
    void broadcast(const QJsonObject& event);

private:
    struct Client {
        QTcpSocket* socket = nullptr;
        LineReader reader{kMaxLineBytes};
        bool closing = false;
    };

    void accept();
    void refuse(QTcpSocket* socket);
    void read(Client* c);
    void send(Client* c, const QByteArray& line);
    void drop(Client* c);
    void sweep();

    RemoteGuider& guider_;
    JsonRpcDispatcher rpc_;
    QTcpServer* server_ = nullptr;
    std::vector<std::unique_ptr<Client>> clients_;
    bool sweepQueued_ = false;
    int dropped_ = 0;
};
