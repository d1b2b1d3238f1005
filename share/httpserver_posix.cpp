// Our web server, on civetweb. Every request is answered from its
// begin_request callback, on one of civetweb's worker threads; a viewer's
// stream of Server-Sent Events keeps its worker for as long as the viewer
// stays, taking the latest state from the site and writing it.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include <civetweb.h>

#include "net/sutil.h"
#include "share/token.h"
#include "share/webserver.h"
#include "share/webshare.h"

namespace {

// A peer may hold this many connections open without sending a request,
// and a page with the token still loads at once: each holds a worker until
// civetweb gives up on its request.
constexpr int idleConnections = 100;
// Workers: one for each viewer's stream, one for each of those idle
// connections, and a few for page loads.
constexpr int workerThreads = webStreamsMax + idleConnections + 8;
// How long civetweb waits for a whole request (and for a write to make
// progress). It measures from the start of the request but waits this long
// again after each piece, so a request that trickles in is closed within
// twice this.
constexpr char requestTimeoutMs[] = "1000";
// A stream sends a comment line when it has had nothing to send for this
// long: the write to a tab that was closed fails, and frees its slot.
constexpr auto heartbeat = std::chrono::seconds(3);
// The send buffer of a connection (the system doubles it), fixed: grown by
// the system it would take megabytes for a viewer that never reads before
// a write stalls and closes it.
constexpr int sendBuffer = 16384;

// Each answer forbids caching and framing, and the page may run only its
// own inline script and style and read only its own stream.
constexpr char commonHeaders[] =
    "Cache-Control: no-store\r\n"
    "X-Frame-Options: DENY\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "Referrer-Policy: no-referrer\r\n"
    "Connection: close\r\n";
constexpr char pageCsp[] =
    "Content-Security-Policy: default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
    "connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'\r\n";
constexpr char otherCsp[] = "Content-Security-Policy: default-src 'none'; frame-ancestors 'none'\r\n";

// civetweb sets no send buffer and tells no socket, but a connection takes
// the buffer sizes of the socket it was accepted on: the listening socket
// on port is found among the process's descriptors and given sendBuffer.
void limitSendBuffer(int port) {
    DIR* fds = opendir("/proc/self/fd");
    if (!fds) return;
    while (const dirent* entry = readdir(fds)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        const int fd = std::atoi(entry->d_name);
        sockaddr_in address{};
        socklen_t size = sizeof address;
        int listening = 0;
        socklen_t flagSize = sizeof listening;
        if (fd != dirfd(fds) && getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0 &&
            address.sin_family == AF_INET && ntohs(address.sin_port) == port &&
            getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &flagSize) == 0 && listening)
            setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    }
    closedir(fds);
}

class civetServer final : public webServer {
public:
    explicit civetServer(webSite& site) : site_(site) {}
    ~civetServer() override {
        if (ctx_) {
            site_.finish();
            mg_stop(ctx_);   // waits for every worker, streams included
        }
        wipeMemory(url_.data(), url_.size());
    }

    bool start(const std::string& host, int port, const std::string& token, std::string& error) {
        if (token.empty() ? !token_.make() : !token_.take(token)) {
            error = token.empty() ? "the system gives no random bytes" : "the token is not 32 hex digits";
            return false;
        }

        static std::once_flag once;
        std::call_once(once, [] { mg_init_library(0); });
        // host is one IPv4 address and port one number (parseShareAddress):
        // civetweb would take a list of both.
        const std::string listen = host + ":" + std::to_string(port);
        const std::string threads = std::to_string(workerThreads);
        const char* options[] = {"listening_ports", listen.c_str(),
                                 "num_threads", threads.c_str(),
                                 "request_timeout_ms", requestTimeoutMs,
                                 "enable_keep_alive", "no",
                                 "max_request_size", "8192",
                                 "tcp_nodelay", "1",
                                 "enable_directory_listing", "no",
                                 "decode_url", "no",
                                 nullptr};
        mg_callbacks callbacks{};
        callbacks.log_message = [](const mg_connection*, const char*) { return 1; };   // not on the terminal
        callbacks.begin_request = &civetServer::onRequest;
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
        limitSendBuffer(ports[0].port);
        url_ = "http://" + host + ":" + std::to_string(ports[0].port) + "/" + token_.text() + "/";
        return true;
    }

    const std::string& url() const override { return url_; }

private:
    webSite& site_;
    mg_context* ctx_ = nullptr;
    shareToken token_;
    std::string url_;

    // After an answer civetweb would read what is left of the request's
    // body, at the peer's pace. An error with no body is the one way to
    // make it close the connection at once instead: by now the answer has
    // gone out, so civetweb writes nothing more.
    static int done(mg_connection* conn, int code) {
        mg_send_http_error(conn, 304, "%s", "");
        return code;
    }

    static int refuse(mg_connection* conn, int code, const char* reason) {
        mg_printf(conn, "HTTP/1.1 %d %s\r\n%s%sContent-Type: text/plain\r\nContent-Length: %zu\r\n\r\n%s\n", code,
                  reason, commonHeaders, otherCsp, std::strlen(reason) + 1, reason);
        return done(conn, code);
    }

    static int onRequest(mg_connection* conn) {
        const mg_request_info* req = mg_get_request_info(conn);
        if (!req || !req->request_method) return refuse(conn, 400, "Bad Request");
        auto* self = static_cast<civetServer*>(req->user_data);
        // Only a page of this machine's own addresses (this also stops DNS
        // rebinding), and only requests from that page or none.
        const char* host = mg_get_header(conn, "Host");
        const char* origin = mg_get_header(conn, "Origin");
        if (!shareHostAllowed(host) || !shareOriginAllowed(origin, host))
            return refuse(conn, 403, "Forbidden");
        // Viewers only watch: nothing they send is taken, and no protocol
        // but plain HTTP.
        if (mg_get_header(conn, "Upgrade")) return refuse(conn, 400, "Bad Request");
        if (std::strcmp(req->request_method, "GET") != 0 || req->content_length > 0 ||
            mg_get_header(conn, "Transfer-Encoding"))
            return refuse(conn, 404, "Not Found");
        const char* tail = self->token_.below(req->local_uri_raw);
        if (!tail) return refuse(conn, 404, "Not Found");
        if (self->site_.isStream(tail)) return self->stream(conn);
        webSite::answer answer;
        if (!self->site_.get(tail, req->query_string ? req->query_string : "", answer))
            return refuse(conn, 404, "Not Found");
        const bool page = answer.type.rfind("text/html", 0) == 0;
        mg_printf(conn, "HTTP/1.1 %d %s\r\n%s%sContent-Type: %s\r\nContent-Length: %zu\r\n\r\n", answer.code,
                  answer.code == 200 ? "OK" : "Bad Request", commonHeaders, page ? pageCsp : otherCsp,
                  answer.type.c_str(), answer.body.size());
        mg_write(conn, answer.body.data(), answer.body.size());
        return done(conn, answer.code);
    }

    // A viewer's stream, until it cannot be written, the viewer's slot is
    // taken away or the server stops. Each message is one line of JSON
    // with no control characters, so one "data:" line.
    int stream(mg_connection* conn) {
        const int slot = site_.join();
        if (slot < 0) return refuse(conn, 503, "Service Unavailable");
        mg_printf(conn, "HTTP/1.1 200 OK\r\n%s%sContent-Type: text/event-stream\r\n\r\n", commonHeaders, otherCsp);
        std::string message, event;
        while (site_.next(slot, message, heartbeat)) {
            event = message.empty() ? std::string(":\n\n") : "data: " + message + "\n\n";
            if (mg_write(conn, event.data(), event.size()) != static_cast<int>(event.size())) break;
        }
        site_.leave(slot);
        return done(conn, 200);
    }
};

}  // namespace

std::unique_ptr<webServer> startWebServer(const std::string& host, int port, webSite& site, const std::string& token,
                                          std::string& error) {
    auto server = std::make_unique<civetServer>(site);
    if (!server->start(host, port, token, error)) return nullptr;
    return server;
}

bool shareAvailable() { return true; }
