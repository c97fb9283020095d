#pragma once

namespace mv {

// The "movie finished" sound. Silently does nothing where there is no sound
// device. With waitForEnd the call returns once the sound has played (at
// most a few seconds), so that a command-line run does not cut it off.
void playCompletionSound(bool waitForEnd);

// The system's alert beep; nothing where there is no sound device.
void beep();

} // namespace mv
