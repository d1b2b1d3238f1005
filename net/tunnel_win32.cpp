// Tunnel commands are not carried by the Windows build yet: starting one
// says so, and the connection set-up tells the operator.

#include "net/tunnel.h"

TunnelSocket::TunnelSocket() = default;

TunnelSocket::~TunnelSocket() { endChild(); }

int TunnelSocket::start(const std::vector<std::string>&) { return tunnelUnsupported; }

void TunnelSocket::endChild() { child_ = 0; }
