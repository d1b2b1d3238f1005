#pragma once
#include <windows.h>

// Key events on their way from the console to the main thread: the input
// thread and the control handler put them in, the main thread takes them out
// in the same order. A ring of 4096 records holds at most 4095 events; a full
// queue refuses more and never overwrites. One critical section guards it.

const int keyQueueSlots = 4096;

// Queues a key event (EventType 1); true when it was queued. Other records,
// and any record while the queue is full, are refused.
bool putKeyEvent(const INPUT_RECORD& record);
// Takes the oldest event into record; false at once when there is none.
// The window is not used: it keeps the drawing calls' shape.
bool getKeyEvent(HANDLE window, INPUT_RECORD& record);
int keyEventCount();

// A manual-reset event, set when a key is queued and reset when the queue is
// found empty: what a loop waits on for keys (WaitForMultipleObjects with a
// socket's event, for example) instead of polling.
HANDLE keyEventSignal();

// Turns Ctrl+C and Ctrl+Break into key events (scan code 0x2E, character 3),
// so the program is never stopped by them. Closing the window, logging off
// and shutting down ask the program to leave in order (EXIT) and wait, as
// long as the system lets the program live on, until it says it has saved
// (programLeft). TRUE for every event.
BOOL WINAPI consoleCtrlHandler(DWORD ctrlType);
// The program has left its main loop (the configuration is saved): the
// system may end it now.
void programLeft();

// Copies the key-down events of the console input `input` into the queue,
// for the rest of the run.
unsigned __stdcall keyboardThread(void* input);
// Starts keyboardThread on the standard input; once per run.
void startKeyboardThread();
// Waits for a key pressed from now on, through the input thread once it runs.
void waitForAnyKey();
