// Audio files made by the tests themselves: a WAV written here, an MP3 encoded from it
// with the lame command.
#pragma once

#include <string>

#include "util/types.h"

namespace newsbar::test {

// A 16-bit mono PCM WAV of `seconds` holding a quiet tone; empty for a length or rate
// that is not positive.
std::string ToneWav(double seconds, double frequency = 440, int sampleRate = 22050);

// That WAV with a 440 Hz tone, written to `path`; true when written.
bool WriteWav(const std::string& path, double seconds, int sampleRate = 22050);

// An MP3 of `seconds` (the same tone), through a temporary WAV beside it and `lame`;
// true when written. Untagged, copies of it joined end to end read as one longer stream.
bool WriteMp3(const std::string& path, double seconds, bool tagged = true);

// The whole file, empty when it cannot be read.
ByteSet ReadFileBytes(const std::string& path);

}  // namespace newsbar::test
