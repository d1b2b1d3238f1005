#pragma once
#include <chrono>
#include <memory>
#include <string>
#include <string_view>

// The small web server of our own that serves a site below a secret path,
// http://ADDR:PORT/<token>/, to a browser of this machine. Whatever the
// site, it answers only GET without a body, only below the token, only a
// Host that names this machine by address and an Origin (when there is
// one) of the page itself, never an upgrade to another protocol, and every
// answer forbids caching and framing. What is served below the token, its
// pages and its streams of Server-Sent Events, the site says.
class webSite {
public:
    virtual ~webSite() = default;

    struct answer {
        int code = 200;                                 // 200, or 400 with a short body
        std::string type = "text/html; charset=utf-8";  // a page may run only its own inline script and style
        std::string body;
    };
    // The answer to GET /<token>/<tail>?<query>; false: 404.
    virtual bool get(std::string_view tail, std::string_view query, answer& out) = 0;
    // Whether tail is a stream; then its viewers: a slot for a new one (-1
    // when there are too many), the next message for a slot ("" when none
    // came within wait; false when the viewer must stop), and its end.
    virtual bool isStream(std::string_view tail) const = 0;
    virtual int join() = 0;
    virtual bool next(int slot, std::string& message, std::chrono::milliseconds wait) = 0;
    virtual void leave(int slot) = 0;
    // Ends every stream; the server calls it as it stops.
    virtual void finish() = 0;
};

// At most this many streams at once, of any site: the server keeps a
// worker thread for each.
constexpr int webStreamsMax = 16;

// The running server; it stops, and its threads with it, when destroyed.
class webServer {
public:
    virtual ~webServer() = default;
    // http://ADDR:PORT/<token>/
    virtual const std::string& url() const = 0;
};

// Starts a server for site (which must outlive it) on host:port (port 0: a
// free one), below token (32 hex digits; "" for a new random one); null
// with the reason in error when it cannot. Builds without a web server
// always fail.
std::unique_ptr<webServer> startWebServer(const std::string& host, int port, webSite& site, const std::string& token,
                                          std::string& error);
