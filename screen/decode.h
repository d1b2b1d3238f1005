#pragma once
#include <cstdint>

#include "screen/remotescreen.h"

// The screen updates a server sends, painted into a session's model of its
// screen. rows (screenRows flags, or null) marks each row a call wrote to.

// Run-encoded character or attribute data.
void paintCharData(remoteScreen& model, const unsigned char* data, int32_t length, bool* rows = nullptr);
void paintAttrData(remoteScreen& model, const unsigned char* data, int32_t length, bool* rows = nullptr);
// Cursor word, character data, attribute data. Returns 0, or -1 when the
// payload was malformed (what fitted was painted, nothing outside it read).
int paintScreenUpdate(remoteScreen& model, const unsigned char* payload, int32_t length, bool* rows = nullptr);

// Size of the unpack buffer for compressed updates.
constexpr int unpackBufferSize = 4100;
// Expands a compressed update into dest (capacity destLen). Returns the number
// of bytes written, or -1 when the data breaks the limits.
int32_t unpackScreenData(const unsigned char* src, unsigned char* dest, int32_t length,
                         int32_t destLen = unpackBufferSize);
