#pragma once
// The frames of the ring's tests: every 32-bit word of frame n is derived from n and the
// word's place, so that a frame put together from two writes shows.

#include <windows.h>

#include <cstdint>
#include <cstring>

inline uint32_t PatternWord(uint64_t number, size_t index) {
  return static_cast<uint32_t>(number * 2654435761u) ^ static_cast<uint32_t>(index * 40503u);
}

inline void FillPattern(uint64_t number, BYTE* frame, size_t bytes) {
  for (size_t i = 0; i < bytes / 4; ++i) {
    uint32_t word = PatternWord(number, i);
    std::memcpy(frame + 4 * i, &word, 4);
  }
}

// The first word that does not belong to frame number, or bytes / 4 when all do.
inline size_t FirstStrayWord(uint64_t number, const BYTE* frame, size_t bytes) {
  for (size_t i = 0; i < bytes / 4; ++i) {
    uint32_t word;
    std::memcpy(&word, frame + 4 * i, 4);
    if (word != PatternWord(number, i)) return i;
  }
  return bytes / 4;
}
