// The share's site on our web server: its one page, and its stream of the
// screen from the hub.
#include "share/page.h"
#include "share/webserver.h"
#include "share/webshare.h"

namespace {

class shareSite final : public shareServer, public webSite {
public:
    bool start(const std::string& host, int port, std::string& error) {
        server_ = startWebServer(host, port, *this, "", error);
        return server_ != nullptr;
    }
    ~shareSite() override { server_.reset(); }

    const std::string& url() const override { return server_->url(); }
    shareHub& hub() override { return hub_; }

    bool get(std::string_view tail, std::string_view, answer& out) override {
        if (!tail.empty()) return false;
        out.body = sharePage();
        return true;
    }
    bool isStream(std::string_view tail) const override { return tail == "events"; }
    int join() override { return hub_.join(); }
    bool next(int slot, std::string& message, std::chrono::milliseconds wait) override {
        return hub_.next(slot, message, wait);
    }
    void leave(int slot) override { hub_.leave(slot); }
    void finish() override { hub_.finish(); }

private:
    shareHub hub_;
    std::unique_ptr<webServer> server_;
};

}  // namespace

std::unique_ptr<shareServer> startShareServer(const std::string& host, int port, std::string& error) {
    auto share = std::make_unique<shareSite>();
    if (!share->start(host, port, error)) return nullptr;
    return share;
}
