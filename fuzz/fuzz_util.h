#pragma once
// Plumbing of the fuzz targets that drive code reading from a socket: the
// input waits in a connected pair of sockets, followed by the peer's close.

#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

struct FuzzPeer {
    int fd[2] = {-1, -1};   // [0] the code's end, [1] the peer's end

    // Writes the bytes into the peer's end and closes its sending side; false
    // when the pair cannot hold them all.
    bool load(const uint8_t* data, size_t size) {
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, fd) != 0) return false;
        const int room = 1 << 20;
        setsockopt(fd[1], SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
        size_t done = 0;
        while (done < size) {
            const ssize_t n = ::send(fd[1], data + done, size - done, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        ::shutdown(fd[1], SHUT_WR);
        return true;
    }
    ~FuzzPeer() {
        for (int f : fd)
            if (f >= 0) ::close(f);
    }
};
