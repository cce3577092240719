// What the next frame of an Engine would show, captured as plain values so
// that a window running a fixed frame cycle can leave out a frame identical
// to the last one it drew.
//
// The state holds every input of the picture that can change between two
// frames without the window being told: the view size and camera (rectangle,
// field of view, committed transform), each held actor (its engine instance,
// committed transform, motion and motion time, materials with their bitmaps
// and colours), the world (its changed flag, actors, dynamic lights and
// one-frame polygons, changed flag), and the engine (the on-screen strings queued for this
// frame, the frame-rate counter, gamma, a pending driver change). Changes
// made behind these values (pixels edited inside a bitmap in place, lighting
// options) are not seen: whoever makes them asks for a frame directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class Engine;

class FrameState {
 public:
  // The state of Owner now, after ExecuteWorld has run this frame's actions
  // (which queue the frame's on-screen strings).
  static FrameState Capture(const Engine& Owner);

  // Equal states draw identical frames. Values are compared bit for bit, so a
  // NaN never equals a different bit pattern and a signed zero counts as a
  // change: a doubtful comparison draws.
  bool operator==(const FrameState& Other) const = default;

  // True when the frame can never be left out: the frame-rate counter and
  // statistics are shown (they change with every frame), one-frame polygons
  // are queued, or the world's bitmaps changed.
  bool AlwaysDraw() const { return alwaysDraw_; }

 private:
  template <typename T>
  void Add(const T& Value);
  void AddBytes(const void* Data, size_t Size);

  std::vector<uint8_t> bytes_;
  bool alwaysDraw_ = false;
};

// Drops the on-screen strings queued for the frame in progress. A frame that
// is left out must not carry its strings into the next one.
void DiscardFrameStrings(Engine& Owner);
