#include "share/webshare.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "console/term.h"
#include "screen/json.h"
#include "screen/sessioncontrol.h"

namespace {

constexpr uint32_t allRows = (1u << screenRows) - 1;
// How long an ended share waits for its last state to reach the viewers.
constexpr auto retireWait = std::chrono::milliseconds(1000);

const char* statusText(shareStatus s) {
    switch (s) {
    case shareStatus::live: return "live";
    case shareStatus::linkLost: return "link lost";
    case shareStatus::ended: return "session ended";
    default: return "waiting";
    }
}

}  // namespace

const char* const shareUnavailableText = "Sharing in a browser is not available in the Windows build.";

void shareHub::setRows(const remoteScreen& screen, const bool* rows) {
    uint32_t changed = 0;
    std::lock_guard<std::mutex> lock(mutex_);
    for (int r = 0; r < screenRows; ++r) {
        if (rows && !rows[r]) continue;
        std::memcpy(cells_[r], screen.cells[r], sizeof cells_[r]);
        changed |= 1u << r;
    }
    if (!changed) return;
    for (slotState& s : slots_) s.rows |= changed;
    changed_.notify_all();
}

void shareHub::setName(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (name == name_) return;
    name_ = name;
    for (slotState& s : slots_) s.name = true;
    changed_.notify_all();
}

void shareHub::setStatus(shareStatus status) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (status == status_) return;
    status_ = status;
    for (slotState& s : slots_) s.status = true;
    changed_.notify_all();
}

int shareHub::join() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return -1;
    for (int i = 0; i < maxViewers; ++i) {
        if (slots_[i].used) continue;
        slots_[i] = slotState{true, allRows, true, true};
        return i;
    }
    return -1;
}

bool shareHub::next(int slot, std::string& message, std::chrono::milliseconds wait) {
    if (slot < 0 || slot >= maxViewers) return false;
    uint16_t rows[screenRows][screenCols];
    std::string name;
    shareStatus status;
    uint32_t dirty;
    bool withName;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        slotState& s = slots_[slot];
        const auto pending = [&] { return s.rows || s.name || s.status; };
        changed_.wait_for(lock, wait, [&] { return finished_ || pending(); });
        if (!pending()) {
            message.clear();
            return !finished_;
        }
        dirty = std::exchange(s.rows, 0);
        withName = std::exchange(s.name, false);
        s.status = false;
        for (int r = 0; r < screenRows; ++r)
            if (dirty & (1u << r)) std::memcpy(rows[r], cells_[r], sizeof rows[r]);
        if (withName) name = name_;
        status = status_;
    }
    message = shareHub::message(status, withName ? &name : nullptr, rows, dirty);
    return true;
}

void shareHub::leave(int slot) {
    if (slot < 0 || slot >= maxViewers) return;
    std::lock_guard<std::mutex> lock(mutex_);
    slots_[slot] = slotState{};
}

void shareHub::finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
    changed_.notify_all();
}

bool shareHub::drained() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const slotState& s : slots_)
        if (s.used && (s.rows || s.name || s.status)) return false;
    return true;
}

int shareHub::viewers() {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (const slotState& s : slots_) n += s.used ? 1 : 0;
    return n;
}

std::string shareHub::message(shareStatus status, const std::string* name, const uint16_t (*cells)[screenCols],
                              uint32_t rows) {
    static const char hex[] = "0123456789abcdef";
    std::string out = "{\"s\":\"";
    out += statusText(status);
    out += '"';
    if (name) {
        out += ",\"n\":";
        out += jsonGlyphs(*name);
    }
    out += ",\"r\":[";
    bool first = true;
    for (int r = 0; r < screenRows; ++r) {
        if (!(rows & (1u << r))) continue;
        out += first ? "[" : ",[";
        first = false;
        out += std::to_string(r) + ",";
        char chars[screenCols];
        for (int c = 0; c < screenCols; ++c) chars[c] = static_cast<char>(cells[r][c] & 0xFF);
        out += jsonGlyphs(std::string_view(chars, screenCols));
        out += ",\"";
        for (const uint16_t cell : cells[r]) {
            out += hex[(cell >> 12) & 15];
            out += hex[(cell >> 8) & 15];
        }
        out += "\"]";
    }
    out += "]}";
    return out;
}

bool ipv4Literal(std::string_view text) {
    size_t i = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && (i >= text.size() || text[i++] != '.')) return false;
        const size_t from = i;
        int value = 0;
        while (i < text.size() && i - from < 4 && text[i] >= '0' && text[i] <= '9') value = value * 10 + (text[i++] - '0');
        const size_t digits = i - from;
        if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text[from] == '0')) return false;
    }
    return i == text.size();
}

std::string parseShareAddress(const std::string& text, std::string& host, int& port) {
    const size_t colon = text.find(':');
    // Said apart from the rest, since it looks like a fair request: the
    // library that serves the page is built without IPv6.
    if (text.find('[') != std::string::npos ||
        (colon != std::string::npos && text.find(':', colon + 1) != std::string::npos &&
         !ipv4Literal(std::string_view(text).substr(0, colon))))
        return "IPv6 cannot be shared: Debian's civetweb library, which serves the page, is built without IPv6";
    const std::string address = text.substr(0, colon);
    const std::string digits = colon == std::string::npos ? "" : text.substr(colon + 1);
    const bool portOk = colon == std::string::npos ||
                        (!digits.empty() && digits.size() <= 5 &&
                         digits.find_first_not_of("0123456789") == std::string::npos &&
                         std::atoi(digits.c_str()) <= 65535);
    if (!portOk || (address.empty() ? colon == std::string::npos : !ipv4Literal(address)))
        return "not ADDR, ADDR:PORT or :PORT (one IPv4 address such as 127.0.0.1, one port from 0 to 65535)";
    host = address.empty() ? "127.0.0.1" : address;
    port = digits.empty() ? 0 : std::atoi(digits.c_str());
    return "";
}

std::string shareAddressWarning(const std::string& host) {
    if (host.rfind("127.", 0) == 0) return "";
    return (host == "0.0.0.0" ? std::string("the share listens on every interface (0.0.0.0)")
                              : "the share listens on " + host) +
           ": it is open to the network, and the page is plain HTTP";
}

webShare::webShare(screenFeed& feed, shareOptions options) : feed_(feed), options_(std::move(options)) {
    feed_.subscribe(this);
}

webShare::~webShare() {
    feed_.unsubscribe(this);
    server_.reset();
    if (retiring_.joinable()) retiring_.join();
}

std::string webShare::start(const std::string& address, bool forRun, bool* ok) {
    if (ok) *ok = false;
    if (server_) return "Shared: " + server_->url();
    if (!shareAvailable()) return shareUnavailableText;
    std::string host = "127.0.0.1";
    int port = 0;
    if (!address.empty()) {
        const std::string wrong = parseShareAddress(address, host, port);
        if (!wrong.empty()) return "Not shared: " + address + ": " + wrong;
    }
    // The one before ends first: its port may be the one asked for.
    if (retiring_.joinable()) retiring_.join();
    std::string error;
    server_ = startShareServer(host, port, error);
    if (!server_) return "Not shared: " + error;
    if (ok) *ok = true;
    forRun_ = forRun;
    viewersSaid_ = 0;
    shareHub& hub = server_->hub();
    const remoteScreen& screen = feed_.screen();
    hub.setRows(screen, nullptr);
    hub.setName(screen.screenName);
    hub.setStatus(feed_.live() ? shareStatus::live : shareStatus::waiting);
    // Said now when a session shows it, else when the first session starts.
    urlSaid_ = !forRun;
    return "Shared: " + server_->url();
}

std::string webShare::startForRun() {
    if (!options_.forRun) return "";
    bool ok = false;
    const std::string said = start(options_.address, true, &ok);
    return ok ? "" : said;
}

std::string webShare::url() const { return server_ ? server_->url() : ""; }

std::string webShare::stop() {
    if (!server_) return "Not shared";
    retire(false);
    return "Sharing stopped";
}

// Ends the server on a thread of its own: a viewer that does not read can
// hold a write for a while, and the session must not wait for it.
void webShare::retire(bool drain) {
    if (retiring_.joinable()) retiring_.join();
    server_->hub().finish();
    retiring_ = std::thread([s = std::move(server_), drain]() mutable {
        const auto until = std::chrono::steady_clock::now() + retireWait;
        while (drain && !s->hub().drained() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        s.reset();
    });
}

void webShare::sessionStarted(const remoteScreen& screen, bool resumed) {
    if (!server_) return;
    shareHub& hub = server_->hub();
    hub.setRows(screen, nullptr);
    hub.setName(screen.screenName);
    hub.setStatus(shareStatus::live);
    if (!urlSaid_) {
        urlSaid_ = true;
        feed_.say("Shared: " + server_->url());
    }
}

void webShare::rowsChanged(const remoteScreen& screen, const bool (&rows)[screenRows]) {
    if (server_) server_->hub().setRows(screen, rows);
}

void webShare::screenShown(const remoteScreen& screen) {
    if (server_) server_->hub().setName(screen.screenName);
}

void webShare::sessionEnded(const remoteScreen&, const sessionEnding& how) {
    // A connection that failed changes nothing on the page: it shows what
    // it showed before (waiting, or a link lost while reconnecting).
    if (!server_ || how.reason == endReason::connectionFailed) return;
    server_->hub().setStatus(how.linkLost() ? shareStatus::linkLost : shareStatus::ended);
    // A share of one session ends with it, unless a reconnection takes it up.
    if (!forRun_ && how.reason != endReason::linkLostRetrying) retire(true);
}

void webShare::tick() {
    if (!server_ || !urlSaid_) return;
    const int n = server_->hub().viewers();
    if (n == viewersSaid_) return;
    viewersSaid_ = n;
    feed_.say("Shared: " + std::to_string(n) + (n == 1 ? " viewer" : " viewers"));
}

sessionAction::after shareAddressAction::run(sessionControl& session) {
    const std::string url = share_.url();
    if (url.empty()) return after::closeMenu;
    std::string text = "Share address";
    // A box row holds 76 characters; a longer address goes on in the next.
    for (size_t at = 0; at < url.size(); at += 76) text += "\n" + url.substr(at, 76);
    if (terminal()->copyText(url)) text += "\n(copied to the terminal's clipboard)";
    session.messageBox(text.c_str());
    return after::closeMenu;
}

std::string shareAction::menuText() const {
    return share_.sharing() ? "Stop sharing" : "Share in a browser (read-only)";
}

sessionAction::after shareAction::run(sessionControl& session) {
    if (!shareAvailable()) session.messageBox(shareUnavailableText);
    else session.statusLine(share_.sharing() ? share_.stop() : share_.start("", false));
    return after::closeMenu;
}
