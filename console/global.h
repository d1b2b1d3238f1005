#pragma once

// Program-wide values shared by the layers above the terminal.
extern char* modulePath;        // program directory with its trailing separator
extern char* startupProxy;      // --proxy=NAME / --direct, or null
extern char* startupServer;     // --server=NAME, or null
extern char* startupConfig;     // --config=FILE, or null
extern char* masterPassword;    // master password of the stored passwords, or null
extern int alternateCharset;    // translated line drawing (plain ASCII)
extern int monochromeMode;      // no colour pairs
extern int unicodeMode;         // cells shown as the Unicode glyphs of code page 437
extern int autoReconnect;       // --reconnect / the session menu: ride out a dropped link
extern int recordSessions;      // --record: every session of the run is recorded
extern long historyLines;       // --history=N: lines kept per server screen (0: none)
extern long recordLimitMb;      // --record-limit=MB: a recording stops at this size (1 MB = 1,000,000 bytes)
extern char* saveDir;           // --save-dir=DIR: where screens and recordings go, or null
extern int shareSessions;       // --share: every session of the run is shown in a browser
extern char* shareAddress;      // --share=ADDR:PORT: where its server listens, or null
extern int count;               // running main routines
extern volatile int EXIT;       // set on SIGTERM
extern const int comBufferSize; // session receive buffer size

// Replaces *slot with a heap copy of text (null clears), freeing the old one.
void setGlobalString(char** slot, const char* text);
