// The engine's recording graph: the screen source and the sound of its own
// audio server through the MPEG encoders and multiplexer into the file
// writer (formats 0 and 2), or into the ASF writer (formats 1 and 3).
#pragma once

namespace zelbov {

// On the GUI thread, once, after the audio server listens. Ends the process
// on failure after its messages.
void StartEngineRecording();
// Stops the graph (which closes the file) and tears it down; nothing when
// the graph never ran. On the GUI thread.
void CloseRecording();

}  // namespace zelbov
