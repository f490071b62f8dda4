// The local audio server on 127.0.0.1:7777: the listening socket, the
// accept thread per notification and the capture thread that streams the
// WAV sound to the one served connection.
#pragma once

#include <winsock2.h>
#include <windows.h>

namespace zelbov {

// Winsock 1.1 and the listening socket; failures leave traces only.
void StartAudioServer();
// "WSASelect message" at the engine's window.
void OnSocketEvent(WPARAM socket, LPARAM event);
// Stops sending on the served connection and on the last notified socket.
void ShutdownAudioSockets();

}  // namespace zelbov
