// The web server of a share, on civetweb: its worker threads answer the
// requests and hold the WebSocket connections; a thread of ours for each
// viewer takes the latest state from the hub and writes it.
#include <sys/random.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

#include <civetweb.h>

#include "net/sutil.h"
#include "share/page.h"
#include "share/webshare.h"

namespace {

constexpr int tokenBytes = 16;
// Each answer forbids caching and framing, and the page may run only its
// own inline script and style and talk only to its own WebSocket.
constexpr char commonHeaders[] =
    "Cache-Control: no-store\r\n"
    "X-Frame-Options: DENY\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "Referrer-Policy: no-referrer\r\n"
    "Connection: close\r\n";
constexpr char pageCsp[] =
    "Content-Security-Policy: default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
    "connect-src ws: wss:; frame-ancestors 'none'; base-uri 'none'; form-action 'none'\r\n";
constexpr char otherCsp[] = "Content-Security-Policy: default-src 'none'; frame-ancestors 'none'\r\n";

// The OS's random bytes; false when it gives none.
bool randomBytes(unsigned char* out, size_t n) {
    size_t got = 0;
    while (got < n) {
        const ssize_t r = getrandom(out + got, n - got, 0);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

void sendStatus(mg_connection* conn, int code, const char* reason) {
    mg_printf(conn, "HTTP/1.1 %d %s\r\n%s%sContent-Type: text/plain\r\nContent-Length: %zu\r\n\r\n%s\n", code,
              reason, commonHeaders, otherCsp, std::strlen(reason) + 1, reason);
}

class civetShare final : public shareServer {
public:
    ~civetShare() override {
        if (ctx_) {
            hub_.finish();
            mg_stop(ctx_);
        }
        // Every connection has closed by now, and joined its writer.
        for (viewer& v : viewers_)
            if (v.writer.joinable()) v.writer.join();
        wipeMemory(token_, sizeof token_);
        wipeMemory(url_.data(), url_.size());
    }

    bool start(const std::string& host, int port, std::string& error) {
        unsigned char raw[tokenBytes];
        if (!randomBytes(raw, sizeof raw)) {
            error = "the system gives no random bytes";
            return false;
        }
        static const char hex[] = "0123456789abcdef";
        for (int i = 0; i < tokenBytes; ++i) {
            token_[2 * i] = hex[raw[i] >> 4];
            token_[2 * i + 1] = hex[raw[i] & 15];
        }
        token_[2 * tokenBytes] = 0;
        wipeMemory(raw, sizeof raw);

        static std::once_flag once;
        std::call_once(once, [] { mg_init_library(0); });
        const bool v6 = host.find(':') != std::string::npos;
        const std::string listen = (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
        // Workers: one for each viewer's connection, and a few for requests.
        const std::string threads = std::to_string(shareHub::maxViewers + 4);
        const char* options[] = {"listening_ports", listen.c_str(),
                                 "num_threads", threads.c_str(),
                                 "request_timeout_ms", "10000",
                                 "websocket_timeout_ms", "15000",
                                 "enable_websocket_ping_pong", "yes",
                                 "enable_keep_alive", "no",
                                 "max_request_size", "8192",
                                 "tcp_nodelay", "1",
                                 "enable_directory_listing", "no",
                                 "decode_url", "no",
                                 nullptr};
        mg_callbacks callbacks{};
        callbacks.log_message = [](const mg_connection*, const char*) { return 1; };   // not on the terminal
        mg_init_data init{&callbacks, this, options};
        mg_error_data failed{};
        char why[256] = "";
        failed.text = why;
        failed.text_buffer_size = sizeof why;
        ctx_ = mg_start2(&init, &failed);
        if (!ctx_) {
            error = "cannot listen on " + listen + (why[0] ? std::string(": ") + why : std::string());
            return false;
        }
        mg_server_port ports[1]{};
        if (mg_get_server_ports(ctx_, 1, ports) < 1 || ports[0].port <= 0) {
            error = "cannot tell the port of " + listen;
            return false;
        }
        mg_set_request_handler(ctx_, "**", &civetShare::onRequest, this);
        mg_set_websocket_handler(ctx_, "**", &civetShare::onConnect, &civetShare::onReady, &civetShare::onData,
                                 &civetShare::onClose, this);
        url_ = "http://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(ports[0].port) + "/" + token_ + "/";
        return true;
    }

    const std::string& url() const override { return url_; }
    shareHub& hub() override { return hub_; }

private:
    struct viewer {
        int slot = -1;
        std::thread writer;
    };

    mg_context* ctx_ = nullptr;
    char token_[2 * tokenBytes + 1] = {};
    std::string url_;
    shareHub hub_;
    std::mutex viewersMutex_;
    viewer viewers_[shareHub::maxViewers];

    // Whether the path is "/<token>" and then tail; the token compared in
    // constant time.
    bool tokenPath(const char* uri, const char* tail) const {
        if (!uri || uri[0] != '/') return false;
        const size_t n = 2 * tokenBytes;
        if (strnlen(uri + 1, n) < n) return false;
        unsigned char diff = 0;
        for (size_t i = 0; i < n; ++i) diff |= static_cast<unsigned char>(uri[1 + i] ^ token_[i]);
        const bool tailOk = std::strcmp(uri + 1 + n, tail) == 0;
        return (diff == 0) & tailOk;
    }

    static int onRequest(mg_connection* conn, void* data) {
        auto* self = static_cast<civetShare*>(data);
        const mg_request_info* req = mg_get_request_info(conn);
        if (!req || !req->request_method || std::strcmp(req->request_method, "GET") != 0 ||
            !self->tokenPath(req->local_uri_raw, "/")) {
            sendStatus(conn, 404, "Not Found");
            return 404;
        }
        const std::string& page = sharePage();
        mg_printf(conn,
                  "HTTP/1.1 200 OK\r\n%s%sContent-Type: text/html; charset=utf-8\r\nContent-Length: %zu\r\n\r\n",
                  commonHeaders, pageCsp, page.size());
        mg_write(conn, page.data(), page.size());
        return 200;
    }

    // Before the handshake: the right path, and room for one more viewer.
    static int onConnect(const mg_connection* c, void* data) {
        auto* self = static_cast<civetShare*>(data);
        // civetweb hands a const connection here; answering a refusal needs it writable.
        auto* conn = const_cast<mg_connection*>(c);
        const mg_request_info* req = mg_get_request_info(conn);
        if (!req || !self->tokenPath(req->local_uri_raw, "/ws")) {
            sendStatus(conn, 404, "Not Found");
            return 1;
        }
        if (self->hub_.viewers() >= shareHub::maxViewers) {
            sendStatus(conn, 503, "Service Unavailable");
            return 1;
        }
        mg_set_user_connection_data(conn, nullptr);
        return 0;
    }

    static void onReady(mg_connection* conn, void* data) {
        auto* self = static_cast<civetShare*>(data);
        const int slot = self->hub_.join();
        if (slot < 0) {
            // More at once than the check before the handshake let through.
            mg_websocket_write(conn, MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE, "\x03\xf5", 2);   // 1013: try again later
            return;
        }
        std::lock_guard<std::mutex> lock(self->viewersMutex_);
        viewer& v = self->viewers_[slot];
        v.slot = slot;
        v.writer = std::thread([self, conn, slot] {
            std::string message;
            while (self->hub_.next(slot, message))
                if (mg_websocket_write(conn, MG_WEBSOCKET_OPCODE_TEXT, message.data(), message.size()) <= 0) break;
        });
        mg_set_user_connection_data(conn, &v);
    }

    // Viewers only watch: a frame with data is a viewer misbehaving, and
    // ends its connection. Pings, pongs and the closing are civetweb's.
    static int onData(mg_connection*, int bits, char*, size_t, void*) {
        const int opcode = bits & 0x0F;
        return opcode == MG_WEBSOCKET_OPCODE_TEXT || opcode == MG_WEBSOCKET_OPCODE_BINARY ||
                       opcode == MG_WEBSOCKET_OPCODE_CONTINUATION
                   ? 0
                   : 1;
    }

    static void onClose(const mg_connection* conn, void* data) {
        auto* self = static_cast<civetShare*>(data);
        auto* v = static_cast<viewer*>(mg_get_user_connection_data(conn));
        if (!v) return;
        self->hub_.close(v->slot);
        if (v->writer.joinable()) v->writer.join();
        std::lock_guard<std::mutex> lock(self->viewersMutex_);
        self->hub_.leave(v->slot);
        v->slot = -1;
    }
};

}  // namespace

std::unique_ptr<shareServer> startShareServer(const std::string& host, int port, std::string& error) {
    auto server = std::make_unique<civetShare>();
    if (!server->start(host, port, error)) return nullptr;
    return server;
}

bool shareAvailable() { return true; }
