#pragma once
// Helpers of the Windows tests: a terminal that serves scripted keys to the
// modal dialogs, one that takes them from the console key queue, a QUORVEX
// peer on a Winsock loopback listener, and a folder taken as the program's.

#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "client/cmain.h"
#include "console/cutil.h"
#include "console/global.h"
#include "console/keyboard.h"
#include "console/term.h"
#include "console/win32/keyqueue.h"
#include "console/win32/winconsole.h"
#include "crypto/md5c.h"
#include "crypto/rc4.h"
#include "net/sysnet.h"
#include "tests/client/wire_util.h"

namespace win {

using namespace peer;
using Cells = std::array<uint16_t, 25 * 80>;

constexpr int vk(int virtualKey) { return keyVirtual + virtualKey; }

// A console key record as the console reports it.
inline INPUT_RECORD keyRecord(WORD virtualKey, WORD scan, char c, DWORD state = 0) {
    INPUT_RECORD r{};
    r.EventType = KEY_EVENT;
    r.Event.KeyEvent.bKeyDown = TRUE;
    r.Event.KeyEvent.wRepeatCount = 1;
    r.Event.KeyEvent.wVirtualKeyCode = virtualKey;
    r.Event.KeyEvent.wVirtualScanCode = scan;
    r.Event.KeyEvent.uChar.AsciiChar = c;
    r.Event.KeyEvent.dwControlKeyState = state;
    return r;
}

inline void drainKeyQueue() {
    INPUT_RECORD r;
    while (getKeyEvent(nullptr, r)) {
    }
}

// Keys for the modal dialogs only: a read that waits keeps a picture of the
// screen and takes the next scripted key, or finds the input gone when none
// is left, which unwinds every dialog. Reads that only look find nothing, so
// the waits of the connection and the session never take a dialog's key.
class DialogTerminal : public MemoryTerminal {
public:
    std::vector<Cells> pictures;

    int readKey(int timeoutMs, INPUT_RECORD& record) override {
        if (timeoutMs == 0) return 0;
        Cells now;
        std::memcpy(now.data(), shown, sizeof shown);
        pictures.push_back(now);
        return MemoryTerminal::readKey(timeoutMs, record);
    }
    void keysOf(std::initializer_list<int> codes) {
        for (int c : codes) pushKey(c);
    }
    // Characters of row `row` from column `col` in a picture.
    static std::string text(const Cells& c, int row, int col = 0, int n = 80) {
        std::string t;
        for (int i = col; i < col + n && i < 80; ++i) t.push_back(static_cast<char>(c[row * 80 + i] & 0xFF));
        return t;
    }
    static int attr(const Cells& c, int col, int row) { return c[row * 80 + col] >> 8; }
    // Whether some picture showed text anywhere.
    bool everShown(const std::string& t) const {
        for (const Cells& c : pictures)
            for (int r = 0; r < 25; ++r)
                if (text(c, r).find(t) != std::string::npos) return true;
        return false;
    }
};

// The console's key queue as the program reads it, on a screen buffer that
// is not there: drawing fails quietly and shows only in the cell screen. A
// blocking read gives up after 5 s as if the input had gone.
class QueueTerminal : public WinConsoleTerminal {
public:
    QueueTerminal() : WinConsoleTerminal(nullptr) {}
    int readKey(int timeoutMs, INPUT_RECORD& record) override {
        if (timeoutMs < 0) {
            std::lock_guard<std::mutex> lock(mutex_);
            ++blockingReads_;
            cv_.notify_all();
        }
        const int got = WinConsoleTerminal::readKey(timeoutMs < 0 ? 5000 : timeoutMs, record);
        return got == 0 && timeoutMs < 0 ? -1 : got;
    }
    // Waits until the program blocks for a key (a list or a dialog is shown).
    bool waitForBlockingRead(int timeoutMs = 10000) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return blockingReads_ > 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    int blockingReads_ = 0;
};

using Link = PeerLink;

// The server's side of the opening exchange, checking the client's opening
// block and, after a greeting, the client greeting; the start words are the
// caller's to read.
inline bool serverOpening(Link& l, bool greeting) {
    unsigned char opening[128];
    if (!l.recvExact(opening, 128)) return false;
    EXPECT_EQ(opening[127], '0');
    std::vector<unsigned char> block(128, 0x55);
    block[127] = greeting ? '0' : '1';
    if (greeting) {
        std::vector<unsigned char> hello(26, 0);
        hello[4] = 1;   // restart commands accepted
        std::memcpy(hello.data() + 12, "QUORVEX Ready", 13);
        block.insert(block.end(), hello.begin(), hello.end());
    }
    if (!l.send(block)) return false;
    if (!greeting) return true;
    unsigned char hello[26];
    if (!l.recvExact(hello, 26)) return false;
    EXPECT_EQ(getWord(hello), 0u);
    EXPECT_EQ(getWord(hello + 4), 1u);
    EXPECT_EQ(getWord(hello + 8), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(hello + 12), 13), "QUORCLI Ready");
    return true;
}

// A Winsock listener on 127.0.0.1 and a thread that runs a script on the
// first connection it accepts, its ciphers keyed with the password.
class Peer {
public:
    explicit Peer(std::function<void(Link&)> script, const char* password = "quorvex") : script_(std::move(script)) {
        passwordDigest(key_, password);
        listener_ = sockOpenTcp();
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = inet_addr("127.0.0.1");
        SockLen len = sizeof a;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(listener_, 4) == 0 &&
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~Peer() { finish(); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    int port() const { return port_; }
    void finish() {
        if (thread_.joinable()) thread_.join();
        if (listener_ >= 0) sockClose(listener_);
        listener_ = -1;
    }

private:
    std::function<void(Link&)> script_;
    unsigned char key_[16];
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;

    void serve() {
        if (sockWait(listener_, sockReadable, 10000) <= 0) return;
        Link link;
        link.fd = static_cast<int>(::accept(listener_, nullptr, nullptr));
        if (link.fd < 0) return;
        link.in.setKey(key_, 16);
        link.out.setKey(key_, 16);
        script_(link);
        sockClose(link.fd);
    }
};

// A port on 127.0.0.1 held for the object's life by a bound socket that
// never listens: connections to it are refused, and nothing else takes it.
class ReservedPort {
public:
    ReservedPort() : fd_(sockOpenTcp()) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = inet_addr("127.0.0.1");
        SockLen len = sizeof a;
        if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port_ = ntohs(a.sin_port);
    }
    ~ReservedPort() {
        if (fd_ >= 0) sockClose(fd_);
    }
    ReservedPort(const ReservedPort&) = delete;
    ReservedPort& operator=(const ReservedPort&) = delete;

    int port() const { return port_; }

private:
    int fd_;
    int port_ = 0;
};

// consoleMain with one server entry ("test server" at 127.0.0.1), reading
// keys from the console key queue.
class OneServerApp : public ::testing::Test {
protected:
    QueueTerminal term;
    consoleMain app;
    serverInfo* server = nullptr;

    void SetUp() override {
        drainKeyQueue();
        std::memset(screenBuf, 0, sizeof screenBuf);
        setTerminal(&term);
        app.init(nullptr);
        app.servers.init(nullptr);
        char entry[] = "127.0.0.1,test server";
        app.servers.parse(entry);
        server = static_cast<serverInfo*>(app.servers.getItem(0)->data);
    }
    void TearDown() override {
        app.closeConnection();
        setTerminal(nullptr);
        drainKeyQueue();
    }
};

// A fresh folder under the system's temporary folder, taken as the
// program's own (modulePath); removed with its files at the end.
class ProgramFolder {
public:
    std::string path;   // with the trailing '\'

    ProgramFolder() {
        char temp[MAX_PATH + 1];
        GetTempPathA(sizeof temp, temp);
        static int serial = 0;
        path = std::string(temp) + "quorcli-test-" + std::to_string(GetCurrentProcessId()) + "-" +
               std::to_string(++serial) + "\\";
        CreateDirectoryA(path.c_str(), nullptr);
        setGlobalString(&modulePath, path.c_str());
    }
    ~ProgramFolder() {
        setGlobalString(&modulePath, nullptr);
        WIN32_FIND_DATAA found;
        HANDLE h = FindFirstFileA((path + "*").c_str(), &found);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                const std::string file = path + found.cFileName;
                SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(file.c_str());
            } while (FindNextFileA(h, &found));
            FindClose(h);
        }
        RemoveDirectoryA(path.c_str());
    }
    ProgramFolder(const ProgramFolder&) = delete;
    ProgramFolder& operator=(const ProgramFolder&) = delete;

    std::string file(const std::string& name) const { return path + name; }
    void write(const std::string& name, const std::string& bytes) const {
        FILE* f = std::fopen(file(name).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    std::string read(const std::string& name) const {
        std::string bytes;
        if (FILE* f = std::fopen(file(name).c_str(), "rb")) {
            char b[4096];
            for (size_t n; (n = std::fread(b, 1, sizeof b, f)) > 0;) bytes.append(b, n);
            std::fclose(f);
        }
        return bytes;
    }
    bool exists(const std::string& name) const { return GetFileAttributesA(file(name).c_str()) != INVALID_FILE_ATTRIBUTES; }
};

}  // namespace win
