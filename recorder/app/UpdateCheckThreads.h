// The update check's two worker threads: the host name resolved, then the
// exchange with the update server. Nothing ever waits for them; the program
// may end while they run.
#pragma once

namespace zelbo {

// WinSock 1.1, once at program start.
void StartWinSock();
// Starts a check; `askedByUser` (the settings dialog's button) stays set for
// the rest of the run, so that later checks also say when nothing is new.
void StartUpdateCheck(bool askedByUser);

}  // namespace zelbo
