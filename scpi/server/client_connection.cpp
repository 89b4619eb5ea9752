#include "scpi/client_connection.h"

#include <QTcpSocket>

namespace tarnel::scpi {

namespace {

constexpr qint64 kReadChunk = 16 * 1024;
// Qt reads no more than this from the system for a connection until it is
// taken, so TCP flow control holds a client that sends faster than it is served.
constexpr qint64 kSocketReadBuffer = 64 * 1024;
// Replies waiting to go out before the connection takes no more lines.
constexpr qint64 kMostUnsentReplyBytes = 1024 * 1024;

}  // namespace

ClientConnection::ClientConnection(QTcpSocket* socket) : socket_(socket) {
    socket_->setReadBufferSize(kSocketReadBuffer);
    // Replies are short and a client waits for each: send them at once.
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
}

ClientConnection::~ClientConnection() {
    socket_->disconnect();
    if (socket_->state() == QAbstractSocket::ConnectedState) {
        socket_->flush();
        socket_->disconnectFromHost();
    }
    socket_->deleteLater();
}

std::optional<InputLines::Line> ClientConnection::TakeLine() {
    if (running_ >= kMostRunning || socket_->bytesToWrite() > kMostUnsentReplyBytes) return std::nullopt;
    if (!next_) ReadUntilLine();
    if (!next_) return std::nullopt;
    ++running_;
    std::optional<InputLines::Line> line = std::move(next_);
    next_.reset();
    return line;
}

void ClientConnection::Answer(const std::optional<std::string>& reply) {
    --running_;
    if (reply && socket_->state() == QAbstractSocket::ConnectedState) {
        socket_->write(reply->data(), static_cast<qint64>(reply->size()));
        socket_->write("\n", 1);
        // Out now rather than on the next pass of the event loop.
        socket_->flush();
    }
}

void ClientConnection::PeerClosed() { open_ = false; }

bool ClientConnection::Finished() {
    if (open_ || running_ > 0) return false;
    if (!next_) ReadUntilLine();
    return !next_;
}

void ClientConnection::ReadUntilLine() {
    next_ = lines_.Next();
    while (!next_ && socket_->bytesAvailable() > 0) {
        const QByteArray chunk = socket_->read(kReadChunk);
        if (chunk.isEmpty()) break;
        lines_.Feed({chunk.constData(), static_cast<std::size_t>(chunk.size())});
        next_ = lines_.Next();
    }
}

}  // namespace tarnel::scpi
