// Waiting on the GUI thread by running its message loop, and message boxes.
#pragma once

#include <windows.h>

namespace mfc {

// Dispatches the queued messages; 0 when WM_QUIT came (it is posted again
// for the outer loop), 1 when the queue is empty.
int PumpPendingMessages();

// Pumps messages until more than `milliseconds` have passed or WM_QUIT came.
// Handlers may run (and be re-entered) during the wait.
void PumpMessagesFor(DWORD milliseconds);

// Pumps until `done` reports true, WM_QUIT came or the time is over; returns
// the last answer of `done`.
bool PumpMessagesUntil(bool (*done)(void*), void* context, DWORD milliseconds);

// The main message loop; returns the WM_QUIT code.
int RunMessageLoop();

int MessageBoxText(HWND owner, const char* text, const char* caption, UINT flags);

}  // namespace mfc
