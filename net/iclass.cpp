#include "net/iclass.h"

#include "net/flags.h"

#include <cstring>
#include <new>

int socketObjects = 0;

// ---------------------------------------------------------------------------
// Platform differences live in net/sysnet_*.cpp.

namespace {

int newSocketFlags() { return Socket::Open | (sockBlockingByDefault ? Socket::Blocking : 0); }

const int kOpenBound = Socket::Open | Socket::Bound;
const int kOpenBoundConnected = kOpenBound | Socket::Connected;
const int kOpenBoundListening = kOpenBound | Socket::Listening;

// A stream's answer to a request for `asked` bytes, made safe to use as a
// count: any failure is -1 and no answer exceeds what was asked for.
int clampCount(int got, int asked) {
    if (got < 0)
        return -1;
    return got > asked ? asked : got;
}

} // namespace

// ---------------------------------------------------------------------------
// List

List::~List() {
    if (!isEmpty())
        deleteAll();
}

void List::add(Object* n) {
    if (!n)
        return;
    n->next = root;
    root = n;
}

void List::append(Object* n) {
    if (!n)
        return;
    n->next = nullptr;
    if (!root) {
        root = n;
        return;
    }
    Object* last = root;
    while (last->next)
        last = last->next;
    last->next = n;
}

void List::remove(Object* n) {
    if (!n)
        return;
    for (Object** link = &root; *link; link = &(*link)->next) {
        if (*link == n) {
            *link = n->next;
            n->next = nullptr;
            return;
        }
    }
}

int List::size() {
    int count = 0;
    for (Object* o = root; o; o = o->next)
        count++;
    return count;
}

int List::isEmpty() { return root == nullptr ? 1 : 0; }

void List::deleteAll() {
    while (root) {
        Object* o = root;
        root = o->next;
        o->next = nullptr;
        delete o;
    }
}

Object* List::first() { return root; }

// ---------------------------------------------------------------------------
// InternetAddress

InternetAddress::InternetAddress() {
    std::memset(&address6, 0, sizeof address6);
    address.sin_family = AF_INET;
}

InternetAddress::InternetAddress(const char* hostname, unsigned short port) : InternetAddress() {
    address.sin_port = port;
    address.sin_addr.s_addr = resolve(hostname);
}

// Dotted text first; 0.0.0.0 and 255.255.255.255 fall through to the lookup.
unsigned int InternetAddress::resolve(const char* hostname) {
    if (!hostname)
        return INADDR_NONE;
    unsigned int ip = inet_addr(hostname);
    if (ip != INADDR_NONE && ip != 0)
        return ip;

    // The first address in the order the resolver gives them (no re-sorting).
    const hostent* host = gethostbyname(hostname);
    if (!host || host->h_addrtype != AF_INET || host->h_length != 4 || !host->h_addr_list ||
        !host->h_addr_list[0])
        return INADDR_NONE;
    std::memcpy(&ip, host->h_addr_list[0], 4);
    return ip;
}

sockaddr* InternetAddress::getAddress() { return reinterpret_cast<sockaddr*>(&address); }

unsigned int InternetAddress::getIP() { return address.sin_addr.s_addr; }

// ---------------------------------------------------------------------------
// Socket

Socket::Socket() {
    socketObjects++;
    init();
}

Socket::Socket(unsigned int localhost, unsigned short localport) : Socket() {
    assignSocket(sockOpenTcp(), newSocketFlags());
    if (bind(localhost, localport) != 0)
        sockReportBindError(sockLastError());
}

Socket::~Socket() {
    delete io;
    io = nullptr;
    delete impl;
    impl = nullptr;
    close();
    socketObjects--;
}

// Starts from nothing; anything held from before is released first.
void Socket::init() {
    delete io;
    io = nullptr;
    delete impl;
    impl = new SocketImp();
    close();
    state = 0;
    sock = -1;
}

int Socket::bind(unsigned int host, unsigned short port) {
    if (!Flags::test(state, Open))
        return -1;
    local = InternetAddress();
    local.address.sin_port = port;
    local.address.sin_addr.s_addr = host;
    int result = ::bind(sock, local.getAddress(), sizeof local.address);
    if (result == 0) {
        Flags::set(state, Bound);
        SockLen len = InternetAddress::capacity;
        getsockname(sock, local.getAddress(), &len);
    }
    return result;
}

int Socket::connect(unsigned int host, unsigned short port) {
    if (!Flags::test(state, kOpenBound))
        return -1;
    if (host == INADDR_NONE)
        return -1;
    remote = InternetAddress();
    remote.address.sin_port = port;
    remote.address.sin_addr.s_addr = host;
    int result = ::connect(sock, remote.getAddress(), sizeof remote.address);
    // A non-blocking connect that has completed meanwhile answers "already connected".
    if (result == 0 || (result == -1 && !blocking() && sockLastError() == sockErrIsConnected)) {
        Flags::set(state, Connected);
        return 0;
    }
    return result;
}

int Socket::open(int family) {
    assignSocket(sockOpenTcp(family), newSocketFlags());
    if (family == AF_INET)
        return bind(0, 0);
    if (!Flags::test(state, Open))
        return -1;
    local = InternetAddress();
    local.address6.sin6_family = static_cast<decltype(local.address6.sin6_family)>(family);
    int result = ::bind(sock, local.getAddress(), sizeof local.address6);
    if (result == 0) {
        Flags::set(state, Bound);
        SockLen len = InternetAddress::capacity;
        getsockname(sock, local.getAddress(), &len);
    }
    return result;
}

int Socket::connectTo(const sockAddress& to) {
    if (!Flags::test(state, kOpenBound))
        return -1;
    if (to.length <= 0 || to.length > InternetAddress::capacity)
        return -1;
    remote = InternetAddress();
    std::memcpy(remote.getAddress(), to.get(), static_cast<size_t>(to.length));
    int result = ::connect(sock, remote.getAddress(), to.length);
    if (result == 0 || (result == -1 && !blocking() && sockLastError() == sockErrIsConnected)) {
        Flags::set(state, Connected);
        return 0;
    }
    return result;
}

int Socket::connect(const char* hostname, unsigned short port) {
    return connect(InternetAddress::resolve(hostname), port);
}

int Socket::accept(sockaddr* addr, int* addrLen) {
    if (!Flags::test(state, kOpenBoundListening))
        return sockNoAcceptResult;
    if (!addrLen)
        return static_cast<int>(::accept(sock, addr, nullptr));
    SockLen len = *addrLen < 0 ? 0 : static_cast<SockLen>(*addrLen);
    int result = static_cast<int>(::accept(sock, addr, &len));
    *addrLen = static_cast<int>(len);
    return result;
}

Socket* Socket::accept() {
    if (!impl)
        return nullptr;
    return acceptSocketImp(impl->buildSocket(-1, kOpenBoundConnected));
}

int Socket::listen(int backlog) {
    if (!Flags::test(state, kOpenBound))
        return -1;
    int result = ::listen(sock, backlog);
    if (result == 0)
        Flags::set(state, Listening);
    else
        sockReportListenError();
    return result;
}

int Socket::send(const void* buffer, int len) {
    if (!Flags::test(state, kOpenBoundConnected))
        return 0;
    if (len < 0) {
        sockSetLastError(sockErrInvalid);
        return -1;
    }
    return sockSend(sock, buffer, len);
}

int Socket::recv(void* buffer, int len) {
    if (!Flags::test(state, kOpenBoundConnected))
        return 0;
    if (len < 0) {
        sockSetLastError(sockErrInvalid);
        return -1;
    }
    return sockRecv(sock, buffer, len);
}

// 1 when a byte is waiting; 0 for none, a closed peer or an error.
int Socket::available() {
    if (!Flags::test(state, kOpenBoundConnected))
        return 0;
    noblock();
    int n = sockPeekByte(sock);
    block();
    return n > 0 ? 1 : 0;
}

int Socket::close() {
    if (!Flags::test(state, Open))
        return -1;
    int result = sockClose(sock);
    if (result == 0) {
        Flags::clear(state, kOpenBound);
        // The number may be handed out again; never touch it through this object.
        sock = -1;
    }
    return result;
}

Socket* Socket::acceptSocketImp(Socket* newSocket) {
    if (!newSocket || !Flags::test(state, kOpenBoundListening))
        return newSocket;
    int s = static_cast<int>(::accept(sock, nullptr, nullptr));
    if (s != -1)
        newSocket->assignSocket(s, kOpenBoundConnected);
    return newSocket;
}

void Socket::setSocketImp(SocketImp* n) {
    if (!n || n == impl)
        return;
    delete impl;
    impl = n;
}

void Socket::assignSocket(int socket, int flags) {
    close();
    sock = socket;
    if (socket == -1) {
        state = 0;
        return;
    }
    state = flags;
    if (Flags::test(flags, kOpenBound)) {
        if (sockBlockingByDefault)
            block();
        SockLen len = InternetAddress::capacity;
        getsockname(sock, local.getAddress(), &len);
        if (Flags::test(flags, Connected)) {
            len = InternetAddress::capacity;
            getpeername(sock, remote.getAddress(), &len);
        }
    }
    int on = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
}

IOStream* Socket::getIOStream() {
    if (!Flags::test(state, kOpenBoundConnected))
        return nullptr;
    if (!io)
        io = new TCPStream(this);
    return io;
}

int Socket::connected() { return Flags::test(state, Connected); }

int Socket::block() {
    int result = sockSetNonBlocking(sock, false);
    if (result == 0)
        Flags::set(state, Blocking);
    return result;
}

int Socket::noblock() {
    int result = sockSetNonBlocking(sock, true);
    if (result == 0)
        Flags::clear(state, Blocking);
    return result;
}

int Socket::blocking() { return Flags::test(state, Blocking); }

// ---------------------------------------------------------------------------
// ClientSocket, ServerSocket, SocketImp

ClientSocket::ClientSocket(unsigned int from) : Socket(from, 0) {}

ClientSocket::ClientSocket(unsigned int host, unsigned short port, unsigned int from) : Socket(from, 0) {
    connect(host, port);
}

ClientSocket::ClientSocket(const char* hostname, unsigned short port, unsigned int from) : Socket(from, 0) {
    connect(hostname, port);
}

ServerSocket::ServerSocket(unsigned short port, unsigned int host, int backlog) : Socket(host, port) {
    listen(backlog);
}

Socket* SocketImp::buildSocket(int socket, int flags) {
    Socket* s = new Socket();
    s->assignSocket(socket, flags);
    return s;
}

// ---------------------------------------------------------------------------
// IOStream, TCPStream

IOStream::~IOStream() {
    if (Flags::test(ioFlags, 1))
        IOStream::close();
}

int IOStream::read(void*, int) { return 0; }

int IOStream::write(const void*, int) { return 0; }

int IOStream::write(const char* string) {
    if (!string)
        return 0;
    return write(static_cast<const void*>(string), static_cast<int>(std::strlen(string)));
}

int IOStream::available() { return 0; }

int IOStream::allow(int flags) { return Flags::set(ioFlags, flags); }

void IOStream::close() { ioFlags = 0; }

int IOStream::ready() { return 0; }

TCPStream::TCPStream(Socket* socket) : sock(socket) {
    if (socket)
        Flags::set(ioFlags, 7);
}

int TCPStream::read(void* buffer, int len) {
    if (!Flags::test(ioFlags, 1) || !sock)
        return 0;
    return sock->recv(buffer, len);
}

int TCPStream::write(const void* buffer, int len) {
    if (!Flags::test(ioFlags, 1) || !sock)
        return 0;
    return sock->send(buffer, len);
}

int TCPStream::available() {
    if (!Flags::test(ioFlags, 1) || !sock)
        return 0;
    return sock->available();
}

void TCPStream::close() {
    if (Flags::test(ioFlags, 1) && sock)
        sock->close();
}

int TCPStream::ready() { return sock && sock->connected() ? 1 : 0; }

// ---------------------------------------------------------------------------
// AccuStream

AccuStream::AccuStream(IOStream* nIo, int bLen) {
    init();
    if (nIo) {
        io = nIo;
        Flags::set(state, HasStream);
    }
    initBuffer(bLen);
}

AccuStream::~AccuStream() { delete[] buffer; }

// Fills the ring with what the stream has waiting, at most the free room.
int AccuStream::read() {
    if (!ready())
        return 0;
    int n = io->available();
    if (n == 0)
        return 0;
    if (n < 0)
        return -1;
    int room = bufferLen - dataLen;
    if (room <= 0)
        return 0;
    int w = (dataStart + dataLen) % bufferLen;
    int total;
    if (w < dataStart || w + room <= bufferLen) {
        total = clampCount(io->read(buffer + w, room), room);
    } else {
        int tail = bufferLen - w;
        total = clampCount(io->read(buffer + w, tail), tail);
        if (total == tail && io->available() != 0) {
            int head = w + room - bufferLen;
            int more = clampCount(io->read(buffer, head), head);
            if (more != -1)
                total += more;
        }
    }
    if (total != -1)
        dataLen += total;
    return total;
}

int AccuStream::indexOfChar(char c) {
    if (!Flags::test(state, HasBuffer) || dataLen <= 0)
        return -1;
    int first = bufferLen - dataStart;
    if (first > dataLen)
        first = dataLen;
    if (first > 0) {
        const void* hit = std::memchr(buffer + dataStart, c, static_cast<size_t>(first));
        if (hit)
            return static_cast<int>(static_cast<const unsigned char*>(hit) - (buffer + dataStart));
    }
    int second = dataLen - first;
    if (second > 0) {
        const void* hit = std::memchr(buffer, c, static_cast<size_t>(second));
        if (hit)
            return first + static_cast<int>(static_cast<const unsigned char*>(hit) - buffer);
    }
    return -1;
}

// opt 0: buffered bytes only; opt 1: buffered bytes, or straight from the
// stream when none are buffered.
int AccuStream::read(void* data, int Len, int opt) {
    if (!ready() || !data || Len <= 0)
        return 0;
    if (opt == 1 && dataLen == 0)
        return clampCount(io->read(data, Len), Len);
    if (opt != 0 && opt != 1)
        return 0;
    if (available() == 0)
        return 0;
    int n = Len < dataLen ? Len : dataLen;
    unsigned char* out = static_cast<unsigned char*>(data);
    if (dataStart + n > bufferLen) {
        int first = bufferLen - dataStart;
        std::memcpy(out, buffer + dataStart, static_cast<size_t>(first));
        std::memcpy(out + first, buffer, static_cast<size_t>(n - first));
        dataStart = dataStart + n - bufferLen;
    } else {
        std::memcpy(out, buffer + dataStart, static_cast<size_t>(n));
        dataStart += n;
    }
    dataLen -= n;
    return n;
}

int AccuStream::write(const void* data, int Len) { return io ? io->write(data, Len) : 0; }

int AccuStream::write(const char* str) { return io ? io->write(str) : 0; }

int AccuStream::available() { return dataLen; }

void AccuStream::init() {
    delete[] buffer;
    io = nullptr;
    buffer = nullptr;
    bufferLen = 0;
    dataLen = 0;
    dataStart = 0;
    state = 0;
}

// A new, empty ring of Len bytes; Len <= 0 keeps the ring and only empties it.
void AccuStream::initBuffer(int Len) {
    if (Len > 0) {
        delete[] buffer;
        buffer = new (std::nothrow) unsigned char[static_cast<size_t>(Len)];
        if (buffer) {
            bufferLen = Len;
            Flags::set(state, HasBuffer);
        } else {
            bufferLen = 0;
            Flags::clear(state, HasBuffer);
        }
    }
    dataLen = 0;
    dataStart = 0;
}

int AccuStream::ready() { return Flags::test(state, HasStream | HasBuffer); }

// Drops Len buffered bytes; -1, any other negative or more than is
// buffered drops everything.
void AccuStream::skip(int Len) {
    if (Len >= 0 && Len <= dataLen && bufferLen > 0) {
        dataStart = (dataStart + Len) % bufferLen;
        dataLen -= Len;
        return;
    }
    dataLen = 0;
    dataStart = 0;
}

// ---------------------------------------------------------------------------
// Telnet

Telnet::SleepFn Telnet::sleepMs = sockSleepMs;

// One line up to and including its line feed into Line (maxLen characters
// plus the terminator); the count, or 0 when no complete line arrived.
int Telnet::read(AccuStream* io, char* Line, int maxLen) {
    if (!io || !io->ready() || !Line)
        return 0;
    // No room at all: Line cannot even hold its terminator.
    if (maxLen < 0)
        return 0;
    Line[0] = 0;
    char* p = Line;
    const int fullPatience = 1200;
    int patience = fullPatience;
    while (patience != 0) {
        if (io->available() == 0 && io->read() == -1)
            return 0;
        if (io->available() == 0) {
            sleepMs(patience == fullPatience ? 10 : 100);
            patience--;
            continue;
        }
        int fit = static_cast<int>(Line + maxLen - p);
        int i = io->indexOfChar(10);
        if (i >= 0) {
            int want = i + 1;
            int take = want < fit ? want : fit;
            int got = clampCount(io->read(p, take, 0), take);
            if (got < 0)
                got = 0;
            p += got;
            *p = 0;
            if (got < want)
                io->skip(want - got);
            return static_cast<int>(p - Line);
        }
        int want = io->available();
        if (fit <= 0) {
            io->skip(-1);
        } else {
            int take = want < fit ? want : fit;
            int got = clampCount(io->read(p, take, 0), take);
            if (got > 0)
                p += got;
            *p = 0;
        }
        patience = fullPatience;
    }
    return 0;
}

int Telnet::write(AccuStream* io, const char* Line) {
    if (!io || !io->ready() || !Line)
        return 0;
    return io->write(Line);
}

// ---------------------------------------------------------------------------
// Winsock

void Winsock::Initialize() { sockStartup(); }

void Winsock::Cleanup() { sockCleanup(); }
