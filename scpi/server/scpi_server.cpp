#include "scpi/scpi_server.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QTcpSocket>

#include "scpi/message_executor.h"

namespace tarnel::scpi {

namespace {

std::string AddressText(const QHostAddress& address, quint16 port) {
    const std::string host = address.toString().toStdString();
    const bool v6 = address.protocol() == QAbstractSocket::IPv6Protocol;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace

ScpiServer::ScpiServer(CommandTable table, ServerSettings settings)
    : settings_(std::move(settings)), table_(std::move(table)) {
    connect(&listener_, &QTcpServer::newConnection, this, [this] { Accept(); });
}

ScpiServer::~ScpiServer() { Stop(); }

std::optional<std::string> ScpiServer::Listen() {
    const QHostAddress address(QString::fromStdString(settings_.address.host));
    if (listener_.listen(address, settings_.address.port)) return std::nullopt;
    return "cannot listen on " + AddressText(address, settings_.address.port) + ": " +
           listener_.errorString().toStdString();
}

std::string ScpiServer::ListeningOn() const { return AddressText(listener_.serverAddress(), listener_.serverPort()); }

void ScpiServer::Stop() {
    listener_.close();
    worker_.Stop();
    // The reply of the message that was running waits in the event queue.
    QCoreApplication::sendPostedEvents(this);
    connections_.clear();
}

void ScpiServer::Accept() {
    while (QTcpSocket* socket = listener_.nextPendingConnection()) {
        if (OpenClients() >= settings_.maxClients) {
            Log("refused the client at " + AddressText(socket->peerAddress(), socket->peerPort()) + ": " +
                std::to_string(settings_.maxClients) + " clients are connected, the most --max-clients allows");
            socket->close();
            socket->deleteLater();
            continue;
        }
        const std::uint64_t id = ++lastId_;
        connections_.emplace(id, std::make_unique<ClientConnection>(socket));
        connect(socket, &QTcpSocket::readyRead, this, [this, id] { Pump(id); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, id] { Pump(id); });
        connect(socket, &QTcpSocket::disconnected, this, [this, id] {
            const auto found = connections_.find(id);
            if (found == connections_.end()) return;
            found->second->PeerClosed();
            Pump(id);
        });
        Pump(id);
    }
}

void ScpiServer::Pump(std::uint64_t id) {
    const auto found = connections_.find(id);
    if (found == connections_.end()) return;
    ClientConnection& connection = *found->second;
    while (std::optional<InputLines::Line> line = connection.TakeLine()) Run(id, connection.State(), std::move(*line));
    if (connection.Finished()) connections_.erase(found);
}

void ScpiServer::Run(std::uint64_t id, std::shared_ptr<ConnectionState> state, InputLines::Line line) {
    worker_.Submit([this, id, state = std::move(state), line = std::move(line)] {
        std::optional<std::string> reply;
        if (line.overrun) {
            state->Report(ErrorCode::InputBufferOverrun,
                          "a line longer than " + std::to_string(InputLines::kLongestLine) + " bytes was dropped");
        } else {
            reply = ExecuteMessage(line.text, table_, *state);
        }
        // Posted events reach the server in the order they were posted, so
        // each connection's replies keep the order of its lines.
        QMetaObject::invokeMethod(this, [this, id, reply = std::move(reply)] { Deliver(id, reply); }, Qt::QueuedConnection);
    });
}

void ScpiServer::Deliver(std::uint64_t id, const std::optional<std::string>& reply) {
    const auto found = connections_.find(id);
    if (found == connections_.end()) return;
    found->second->Answer(reply);
    Pump(id);
}

void ScpiServer::Log(const std::string& line) const {
    if (settings_.log) settings_.log(line);
}

std::size_t ScpiServer::OpenClients() const {
    std::size_t open = 0;
    for (const auto& [id, connection] : connections_) open += connection->Open() ? 1 : 0;
    return open;
}

}  // namespace tarnel::scpi
