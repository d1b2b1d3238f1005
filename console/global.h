#pragma once

// Program-wide values shared by the layers above the terminal.
extern char* modulePath;        // program directory with its trailing separator
extern char* startupProxy;      // --proxy=NAME / --direct, or null
extern char* startupServer;     // --server=NAME, or null
extern char* startupConfig;     // --config=FILE, or null
extern int alternateCharset;    // translated line drawing (plain ASCII)
extern int monochromeMode;      // no colour pairs
extern int unicodeMode;         // cells shown as the Unicode glyphs of code page 437
extern volatile int EXIT;       // set on SIGTERM
extern const int comBufferSize; // session receive buffer size

// Replaces *slot with a heap copy of text (null clears), freeing the old one.
void setGlobalString(char** slot, const char* text);
