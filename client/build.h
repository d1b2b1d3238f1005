#pragma once
#include <cstdint>

// What differs between the Linux and the Windows program above the terminal
// layer: the version shown, some texts, and what the session understands.
// Shared code reads these instead of asking which build it is in.
struct buildProfile {
    const char* titleRow;           // the program's title on row 0
    // The window's titles ("%s (%s:%d)" with description, host and port);
    // null where the program has no window title of its own.
    const char* titleDisconnected;
    const char* titleConnected;
    bool compressedUpdates;         // type 6 updates; start word 20 after the greeting
    bool failureTextsWithPort;      // connection failure texts name the port
    const char* endSessionKey;      // how the operator names Alt+F2 on this keyboard
    const char* versionText;        // what --version prints
    bool displayLetters;            // -m, -a, -n and -u choose how the screen is drawn
    // The key held with F1..F6 for the session shortcuts, and the key word
    // of that key pressed on its own (what a PC keyboard sends first when
    // the combination goes to the server).
    const char* shortcutKey;
    uint16_t shortcutKeyWord;
    // Where saved screens go when the current folder may not be written.
    const char* dataFolderText;
};

extern const buildProfile linuxProfile;
extern const buildProfile windowsProfile;

// The profile in force: this build's own, unless a test chose another.
const buildProfile& thisBuild();
void useBuildProfile(const buildProfile* profile);   // null: this build's own
// This build's own profile (defined by the platform's program files).
const buildProfile& nativeBuild();
