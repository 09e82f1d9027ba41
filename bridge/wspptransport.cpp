// The live bridge's transport on Qt 5, whose WebSockets module cannot
// negotiate a subprotocol: websocketpp on standalone asio, running on a
// thread of its own. Its handlers hand what arrives to the transport's
// thread through queued calls; what the transport sends is posted to the
// asio thread. Only the asio thread touches websocketpp.
#include <websocketpp/config/asio_no_tls.hpp>
#include <websocketpp/server.hpp>

#include "bridgeprotocol.h"
#include "bridgetransport.h"

#include <QHostAddress>
#include <QMetaObject>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

namespace {

using Server = websocketpp::server<websocketpp::config::asio>;
using Handle = websocketpp::connection_hdl;

// How often the asio thread looks whether a slow client's buffer emptied,
// while one has bytes buffered.
constexpr auto drainPoll = std::chrono::milliseconds(20);
// How long stopping waits for the clients to answer the close.
constexpr auto closeGrace = std::chrono::milliseconds(200);

class WsppTransport : public BridgeTransport
{
public:
    explicit WsppTransport(QObject *parent) : BridgeTransport(parent), drainTimer(io)
    {
        server.clear_access_channels(websocketpp::log::alevel::all);
        server.clear_error_channels(websocketpp::log::elevel::all);
        std::error_code ec;
        server.init_asio(&io, ec);
        server.set_reuse_addr(true);
        server.set_validate_handler([this](Handle h) { return validate(h); });
        server.set_open_handler([this](Handle h) { opened(h); });
        server.set_close_handler([this](Handle h) { closed(h); });
        server.set_fail_handler([this](Handle h) { closed(h); });
        server.set_message_handler(
            [this](Handle h, Server::message_ptr message) { received(h, message); });
    }
    ~WsppTransport() override { close(); }

    bool listen(const QHostAddress &address, quint16 port, QString *error) override
    {
        if (running)
            return false;
        std::error_code ec;
        const auto ip = asio::ip::make_address(address.toString().toStdString(), ec);
        if (!ec)
            server.listen(asio::ip::tcp::endpoint(ip, port), ec);
        if (!ec)
            server.start_accept(ec);
        if (ec) {
            *error = QString::fromStdString(ec.message());
            if (server.is_listening()) {
                std::error_code ignored;
                server.stop_listening(ignored);
            }
            return false;
        }
        asio::error_code endpointError;
        boundPort = server.get_local_endpoint(endpointError).port();
        server.set_max_message_size(static_cast<size_t>(incomingLimit));
        running = true;
        worker = std::thread([this] {
            // A handler that throws costs its connection, not the server.
            for (;;) {
                try {
                    server.run();
                    return;
                } catch (const std::exception &) {
                }
            }
        });
        return true;
    }
    quint16 serverPort() const override { return boundPort; }

    void close() override
    {
        if (!running)
            return;
        running = false;
        asio::post(io, [this] {
            stopping = true;
            std::error_code ec;
            server.stop_listening(ec);
            for (const auto &[id, handle] : handles)
                server.close(handle, websocketpp::close::status::going_away, "", ec);
            if (handles.empty())
                server.stop();
        });
        asio::steady_timer grace(io, closeGrace);
        grace.async_wait([this](const std::error_code &) { server.stop(); });
        worker.join();
        std::lock_guard<std::mutex> lock(peersMutex);
        peers.clear();
    }

    void sendText(quint64 client, const QByteArray &text) override
    {
        send(client, text, websocketpp::frame::opcode::text);
    }
    void sendBinary(quint64 client, const QByteArray &data) override
    {
        send(client, data, websocketpp::frame::opcode::binary);
    }
    void closeClient(quint64 client, int code, const QString &reason) override
    {
        if (!running)
            return;
        const std::string text = reason.toStdString();
        asio::post(io, [this, client, code, text] {
            const auto it = handles.find(client);
            std::error_code ec;
            if (it != handles.end())
                server.close(it->second, static_cast<websocketpp::close::status::value>(code), text,
                             ec);
        });
    }
    qint64 pendingBytes(quint64 client) const override
    {
        std::lock_guard<std::mutex> lock(peersMutex);
        const auto it = peers.find(client);
        return it == peers.end() ? 0 : it->second->posted + it->second->buffered;
    }

private:
    // What both threads know of a connection.
    struct Peer
    {
        std::atomic<qint64> posted{0};   // handed to the asio thread, not yet queued there
        std::atomic<qint64> buffered{0}; // queued in websocketpp, not yet on the socket
    };

    std::shared_ptr<Peer> peer(quint64 client) const
    {
        std::lock_guard<std::mutex> lock(peersMutex);
        const auto it = peers.find(client);
        return it == peers.end() ? nullptr : it->second;
    }

    void send(quint64 client, const QByteArray &bytes, websocketpp::frame::opcode::value opcode)
    {
        const std::shared_ptr<Peer> state = peer(client);
        if (!running || !state)
            return;
        const qint64 size = bytes.size();
        state->posted += size;
        asio::post(io, [this, client, bytes, opcode, state, size] {
            state->posted -= size;
            const auto it = handles.find(client);
            if (it == handles.end())
                return;
            std::error_code ec;
            server.send(it->second, bytes.constData(), static_cast<size_t>(bytes.size()), opcode,
                        ec);
            if (const Server::connection_ptr connection = server.get_con_from_hdl(it->second, ec))
                state->buffered = static_cast<qint64>(connection->get_buffered_amount());
            watchDrain();
        });
    }

    // Asio thread: while a client has bytes buffered, look again now and
    // then, and tell the transport's thread when they went down.
    void watchDrain()
    {
        if (polling)
            return;
        polling = true;
        drainTimer.expires_after(drainPoll);
        drainTimer.async_wait([this](const std::error_code &ec) {
            polling = false;
            if (ec)
                return;
            bool still = false;
            for (const auto &[id, handle] : handles) {
                const std::shared_ptr<Peer> state = peer(id);
                std::error_code error;
                const Server::connection_ptr connection = server.get_con_from_hdl(handle, error);
                if (!state || !connection)
                    continue;
                const auto now = static_cast<qint64>(connection->get_buffered_amount());
                if (now < state->buffered) {
                    const quint64 client = id;
                    QMetaObject::invokeMethod(
                        this, [this, client] { emit drained(client); }, Qt::QueuedConnection);
                }
                state->buffered = now;
                still = still || now > 0;
            }
            if (still)
                watchDrain();
        });
    }

    bool validate(Handle handle)
    {
        std::error_code ec;
        const Server::connection_ptr connection = server.get_con_from_hdl(handle, ec);
        if (!connection)
            return false;
        for (const std::string &offered : connection->get_requested_subprotocols())
            if (offered == Bridge::subprotocol) {
                connection->select_subprotocol(offered, ec);
                return !ec;
            }
        return false;
    }

    void opened(Handle handle)
    {
        const quint64 id = ++lastId;
        handles[id] = handle;
        ids[handle] = id;
        {
            std::lock_guard<std::mutex> lock(peersMutex);
            peers[id] = std::make_shared<Peer>();
        }
        QMetaObject::invokeMethod(
            this, [this, id] { emit clientConnected(id); }, Qt::QueuedConnection);
    }

    void closed(Handle handle)
    {
        const auto it = ids.find(handle);
        if (it == ids.end())
            return;
        const quint64 id = it->second;
        ids.erase(it);
        handles.erase(id);
        {
            std::lock_guard<std::mutex> lock(peersMutex);
            peers.erase(id);
        }
        QMetaObject::invokeMethod(
            this, [this, id] { emit clientDisconnected(id); }, Qt::QueuedConnection);
        if (stopping && handles.empty())
            server.stop();
    }

    void received(Handle handle, const Server::message_ptr &message)
    {
        const auto it = ids.find(handle);
        if (it == ids.end())
            return;
        const quint64 id = it->second;
        const std::string &payload = message->get_payload();
        // websocketpp's own limit lets some messages a little over it pass,
        // depending on how their bytes arrive.
        if (payload.size() > size_t(incomingLimit)) {
            std::error_code ec;
            server.close(handle, websocketpp::close::status::message_too_big, "message too big",
                         ec);
            return;
        }
        const QByteArray bytes(payload.data(), static_cast<int>(payload.size()));
        if (message->get_opcode() == websocketpp::frame::opcode::text)
            QMetaObject::invokeMethod(
                this, [this, id, bytes] { emit textReceived(id, bytes); }, Qt::QueuedConnection);
        else
            QMetaObject::invokeMethod(
                this, [this, id, bytes] { emit binaryReceived(id, bytes); }, Qt::QueuedConnection);
    }

    asio::io_context io;
    Server server;
    asio::steady_timer drainTimer;
    std::thread worker;
    bool running = false;
    quint16 boundPort = 0;

    // The asio thread's own.
    std::map<quint64, Handle> handles;
    std::map<Handle, quint64, std::owner_less<Handle>> ids;
    quint64 lastId = 0;
    bool polling = false;
    bool stopping = false;

    mutable std::mutex peersMutex;
    std::map<quint64, std::shared_ptr<Peer>> peers;
};

} // namespace

std::unique_ptr<BridgeTransport> BridgeTransport::make(QObject *parent)
{
    return std::make_unique<WsppTransport>(parent);
}
