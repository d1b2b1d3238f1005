#pragma once

// Small TCP object library: addresses, sockets with a state word, byte
// streams, a ring-buffered reading stream and line framing on top. IPv4
// throughout; IPv6 through Socket::open and Socket::connectTo.
// Every port handed to this library is already in network byte order.

#include "net/sysnet.h"

// Number of live Socket objects.
extern int socketObjects;

class Object {
public:
    Object* next = nullptr;   // link used by List

    Object() = default;
    virtual ~Object() = default;
};

// Singly linked list of Objects, linked through their own `next`; owns them.
class List : public Object {
public:
    Object* root = nullptr;

    List() = default;
    List(const List&) = delete;
    List& operator=(const List&) = delete;
    ~List() override;

    virtual void add(Object* n);
    virtual void append(Object* n);
    virtual void remove(Object* n);
    virtual int size();
    virtual int isEmpty();
    virtual void deleteAll();
    virtual Object* first();
};

class InternetAddress : public Object {
public:
    // An IPv4 address; a socket of the other family fills the larger IPv6
    // form over it (family AF_INET6).
    union {
        sockaddr_in address;
        sockaddr_in6 address6;
    };

    InternetAddress();
    InternetAddress(const char* hostname, unsigned short port);

    // Dotted address or host name to an IPv4 address (network order);
    // INADDR_NONE when it does not resolve.
    static unsigned int resolve(const char* hostname);
    sockaddr* getAddress();
    unsigned int getIP();
    // Room for either form, for the calls that fill it in.
    static constexpr SockLen capacity = sizeof(sockaddr_in6);
};

class IOStream;
class TCPStream;
class SocketImp;

class Socket : public Object {
public:
    // Bits of `state`.
    enum { Open = 1, Bound = 2, Connected = 4, Listening = 8, Blocking = 16 };

    TCPStream* io = nullptr;
    int sock = -1;
    InternetAddress local;
    InternetAddress remote;
    int state = 0;
    SocketImp* impl = nullptr;

    Socket();
    Socket(unsigned int localhost, unsigned short localport);
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() override;

    virtual void init();
    virtual int bind(unsigned int host, unsigned short port);
    virtual int connect(unsigned int host, unsigned short port);
    virtual int connect(const char* hostname, unsigned short port);
    virtual int accept(sockaddr* addr, int* addrLen);
    virtual Socket* accept();
    virtual int listen(int backlog);
    virtual int send(const void* buffer, int len);
    virtual int recv(void* buffer, int len);
    virtual int available();
    virtual int close();
    virtual Socket* acceptSocketImp(Socket* newSocket);
    virtual void setSocketImp(SocketImp* n);
    virtual void assignSocket(int socket, int flags);
    virtual IOStream* getIOStream();
    virtual int connected();
    virtual int block();
    virtual int noblock();
    virtual int blocking();

    // Replaces the descriptor with a new TCP socket of the family (AF_INET or
    // AF_INET6) bound to any address and port. 0 on success.
    int open(int family);
    // As connect(host, port), for an address of either family.
    int connectTo(const sockAddress& to);
};

class ClientSocket : public Socket {
public:
    explicit ClientSocket(unsigned int from = 0);
    ClientSocket(unsigned int host, unsigned short port, unsigned int from = 0);
    ClientSocket(const char* hostname, unsigned short port, unsigned int from = 0);
    ~ClientSocket() override = default;
};

class ServerSocket : public Socket {
public:
    ServerSocket(unsigned short port, unsigned int host, int backlog);
    ~ServerSocket() override = default;
};

// Makes the socket objects that accept() hands out.
class SocketImp : public Object {
public:
    ~SocketImp() override = default;
    virtual Socket* buildSocket(int socket, int flags);
};

// Byte stream; the base does nothing.
class IOStream : public Object {
public:
    int ioFlags = 0;   // bit 1: open

    IOStream() = default;
    ~IOStream() override;

    virtual int read(void* buffer, int len);
    virtual int write(const void* buffer, int len);
    virtual int write(const char* string);
    virtual int available();
    virtual int allow(int flags);
    virtual void close();
    virtual int ready();
};

class TCPStream : public IOStream {
public:
    Socket* sock = nullptr;   // not owned

    explicit TCPStream(Socket* socket);
    ~TCPStream() override = default;

    using IOStream::write;
    int read(void* buffer, int len) override;
    int write(const void* buffer, int len) override;
    int available() override;
    void close() override;
    int ready() override;
};

// Collects bytes from a stream in a ring buffer and hands them out in order.
class AccuStream : public Object {
public:
    enum { HasStream = 1, HasBuffer = 2 };

    IOStream* io = nullptr;            // not owned
    unsigned char* buffer = nullptr;   // owned
    int bufferLen = 0;
    int dataLen = 0;
    int dataStart = 0;
    int state = 0;

    AccuStream(IOStream* nIo, int bLen);
    AccuStream(const AccuStream&) = delete;
    AccuStream& operator=(const AccuStream&) = delete;
    ~AccuStream() override;

    virtual int read();
    virtual int indexOfChar(char c);
    virtual int read(void* data, int Len, int opt);
    virtual int write(const void* data, int Len);
    virtual int write(const char* str);
    virtual int available();
    virtual void init();
    virtual void initBuffer(int Len);
    virtual int ready();
    virtual void skip(int Len);
};

// Line framing over an AccuStream (no telnet option handling).
class Telnet {
public:
    using SleepFn = void (*)(int ms);
    // How read() waits between polls; replaceable so that tests need not wait.
    static SleepFn sleepMs;

    static int read(AccuStream* io, char* Line, int maxLen);
    static int write(AccuStream* io, const char* Line);
};

// Starts and stops the platform's socket library (nothing to do on Linux).
// The Windows build holds one for the whole run (net/sysnet_win32.cpp).
class Winsock {
public:
    Winsock() { Initialize(); }
    ~Winsock() { Cleanup(); }
    Winsock(const Winsock&) = delete;
    Winsock& operator=(const Winsock&) = delete;

    static void Initialize();
    static void Cleanup();
};
