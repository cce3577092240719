// The scene queue and the workers that draw it. Commands are recorded in
// chunks as they come; each full chunk is handed to the workers at once, so
// that they draw the start of a scene while the program is still computing
// the rest of it. The frame is cut into bands of rows. A band draws the
// chunks in the order they came, each command clipped to its rows, and is
// drawn by one thread at a time, so each pixel sees exactly the writes it
// would in one pass and threads never touch the same pixel. Flush hands over
// the last chunk, draws bands itself too, and returns when every band has
// drawn every chunk.
#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "softrnd.h"

namespace softrnd {
namespace {

// Bands per thread: enough that threads share a figure in the middle of
// the frame evenly; few enough that triangles seldom cross a band's edge
// (their set-up is repeated in each band they reach).
constexpr int32_t kBandsPerThread = 4;
constexpr int32_t kMinBandRows = 16;
constexpr int32_t kMaxBands = (MAX_TEXTURE_SIZE + kMinBandRows - 1) / kMinBandRows;
// Commands per chunk: few enough that the workers start early in a scene,
// enough that a hand-over (a lock and a wake-up) costs little beside them.
constexpr size_t kChunkCommands = 128;
// Chunks handed over in one scene before the queue is drawn to the end and
// begins again (a scene of more than this many commands only waits once).
constexpr int32_t kMaxChunks = 1024;

struct ClearCommand {
  int32_t Left, Top, Right, Bottom;
  bool Color, Depth;
};

void drawClear(Frame& frame, Band band, const ClearCommand& k) {
  const int32_t top = std::max(k.Top, band.Top), bottom = std::min(k.Bottom, band.Bottom);
  for (int32_t y = top; y < bottom; ++y) {
    const size_t row = (size_t)y * frame.Width;
    if (k.Color) std::fill_n(frame.Color.data() + row + k.Left, k.Right - k.Left, 0u);
    if (k.Depth) std::fill_n(frame.Depth.data() + row + k.Left, k.Right - k.Left, 0.0f);
  }
}

enum class Kind : uint8_t { Clear, Polygon, Decal };

struct Command {
  Kind What;
  uint32_t Index;  // into the chunk's list of its kind
  // Rows the command may touch, [Top, Bottom), before clipping to the frame.
  int32_t Top, Bottom;
};

// Commands in the order they came, with their vertices, and per band the
// commands that reach its rows. Written by the recording thread only, and
// read by the drawing threads only once handed over.
struct Chunk {
  std::vector<Command> Commands;
  std::vector<ClearCommand> Clears;
  std::vector<PolygonCommand> Polygons;
  std::vector<DecalCommand> Decals;
  std::vector<ScreenVertex> Vertices;
  std::vector<std::vector<uint32_t>> Bins;

  void Reset() {
    Commands.clear();
    Clears.clear();
    Polygons.clear();
    Decals.clear();
    Vertices.clear();
    for (std::vector<uint32_t>& bin : Bins) bin.clear();
  }

  void Bin(int32_t bandRows, int32_t bandCount, int32_t height) {
    if (Bins.size() < (size_t)bandCount) Bins.resize((size_t)bandCount);
    for (size_t i = 0; i < Commands.size(); ++i) {
      const int32_t top = std::max(Commands[i].Top, 0), bottom = std::min(Commands[i].Bottom, height);
      if (top >= bottom) continue;
      for (int32_t b = top / bandRows; b <= (bottom - 1) / bandRows; ++b) Bins[(size_t)b].push_back((uint32_t)i);
    }
  }

  void Draw(Frame& frame, Band band, int32_t index) const {
    for (const uint32_t i : Bins[(size_t)index]) {
      const Command& c = Commands[i];
      switch (c.What) {
        case Kind::Clear:
          drawClear(frame, band, Clears[c.Index]);
          break;
        case Kind::Polygon:
          DrawPolygon(frame, band, Polygons[c.Index], Vertices.data());
          break;
        case Kind::Decal:
          DrawDecal(frame, band, Decals[c.Index]);
          break;
      }
    }
  }
};

// A band's progress, on a cache line of its own: whether a thread is drawing
// it, and how many of the handed-over chunks it has drawn.
struct alignas(64) BandState {
  std::atomic<bool> Busy{false};
  std::atomic<int32_t> Drawn{0};
};

// The rows whose centres lie in MinY <= y < MaxY, as a range of whole rows
// (kept within int range; PreparePolygon refused coordinates beyond 1e7).
inline void rowsOf(float minY, float maxY, int32_t& top, int32_t& bottom) {
  top = (int32_t)std::ceil(minY);
  bottom = (int32_t)std::ceil(maxY);
}

}  // namespace

struct SceneQueue::Impl {
  // The scene being recorded: the frame it draws into and how that is cut
  // into bands (set while nothing is handed over and fixed until the queue
  // is drawn to the end; a worker reads them only after finding a chunk
  // handed over), the chunks in use (Chunks[0 .. Used)), the one being
  // filled (the last in use, not yet handed over) and the handed-over ones.
  std::atomic<Frame*> Target{nullptr};
  std::atomic<int32_t> BandRows{1}, BandCount{0};
  std::vector<std::unique_ptr<Chunk>> Chunks;
  int32_t Used = 0;
  Chunk* Filling = nullptr;
  std::vector<ScreenVertex> Direct;  // the polygon drawn at once by a single thread
  Chunk* Handed[kMaxChunks] = {};
  std::atomic<int32_t> HandedCount{0};
  BandState Bands[kMaxBands];

  // The workers (threads beyond the caller). Each hand-over bumps Sequence
  // and wakes them; a worker goes through every band whenever Sequence has
  // moved since it last looked, so no chunk is left undrawn.
  std::vector<std::thread> Workers;
  std::mutex Lock;
  std::condition_variable Wake, Progress;
  uint64_t Sequence = 0;
  bool Quit = false;

  // Draws the handed-over chunks that band INDEX has not drawn yet, unless
  // another thread is drawing it (that thread goes on to the last chunk).
  void DrawBand(int32_t index) {
    BandState& state = Bands[index];
    if (state.Busy.exchange(true, std::memory_order_acquire)) return;
    int32_t drawn = state.Drawn.load(std::memory_order_relaxed);
    int32_t count = HandedCount.load(std::memory_order_acquire);
    // A chunk handed over makes the scene's frame and bands visible here.
    if (drawn < count && index < BandCount.load(std::memory_order_relaxed)) {
      Frame& frame = *Target.load(std::memory_order_relaxed);
      const int32_t rows = BandRows.load(std::memory_order_relaxed);
      const Band band{index * rows, std::min(frame.Height, (index + 1) * rows)};
      do {
        while (drawn < count) Handed[drawn++]->Draw(frame, band, index);
        state.Drawn.store(drawn, std::memory_order_release);
      } while (drawn < (count = HandedCount.load(std::memory_order_acquire)));
    }
    state.Busy.store(false, std::memory_order_release);
  }

  void DrawBands(bool fromBottom) {
    const int32_t bands = BandCount.load(std::memory_order_relaxed);
    for (int32_t i = 0; i < bands; ++i) DrawBand(fromBottom ? bands - 1 - i : i);
  }

  bool AllDrawn(int32_t count) const {
    for (int32_t b = 0; b < BandCount; ++b)
      if (Bands[b].Drawn.load(std::memory_order_acquire) != count) return false;
    return true;
  }

  void WorkerLoop() {
    uint64_t seen = 0;
    for (;;) {
      {
        std::unique_lock<std::mutex> hold(Lock);
        Wake.wait(hold, [&] { return Quit || Sequence != seen; });
        if (Quit) return;
        seen = Sequence;
      }
      DrawBands(false);
      // Flush may be waiting for the bands drawn (the lock orders this
      // after its look at them, or its look after the drawing).
      { std::lock_guard<std::mutex> hold(Lock); }
      Progress.notify_all();
    }
  }

  void StopWorkers() {
    {
      std::lock_guard<std::mutex> hold(Lock);
      Quit = true;
    }
    Wake.notify_all();
    for (std::thread& t : Workers) t.join();
    Workers.clear();
    Quit = false;
  }

  // The chunk to record into, starting a scene's recording into FRAME when
  // none is going on.
  Chunk& Recording(Frame& frame) {
    if (Filling) return *Filling;
    if (!Target.load(std::memory_order_relaxed)) {
      const int32_t threads = 1 + (int32_t)Workers.size();
      const int32_t rows =
          std::max(kMinBandRows, (frame.Height + kBandsPerThread * threads - 1) / (kBandsPerThread * threads));
      Target.store(&frame, std::memory_order_relaxed);
      BandRows.store(rows, std::memory_order_relaxed);
      BandCount.store((frame.Height + rows - 1) / rows, std::memory_order_relaxed);
    }
    if ((size_t)Used == Chunks.size()) Chunks.push_back(std::make_unique<Chunk>());
    Filling = Chunks[(size_t)Used++].get();
    return *Filling;
  }

  // Hands the chunk being filled over to the workers.
  void HandOver() {
    if (!Filling) return;
    Chunk* chunk = Filling;
    Filling = nullptr;
    if (chunk->Commands.empty()) {
      --Used;
      return;
    }
    chunk->Bin(BandRows, BandCount, Target.load(std::memory_order_relaxed)->Height);
    const int32_t n = HandedCount.load(std::memory_order_relaxed);
    Handed[n] = chunk;
    {
      std::lock_guard<std::mutex> hold(Lock);
      HandedCount.store(n + 1, std::memory_order_release);
      ++Sequence;
    }
    Wake.notify_all();
  }

  // Called after recording a command: hands a full chunk over; when the
  // scene has used every chunk slot, draws it all and starts again.
  void Recorded() {
    if (Filling->Commands.size() < kChunkCommands) return;
    HandOver();
    if (HandedCount.load(std::memory_order_relaxed) == kMaxChunks) Finish();
  }

  // Draws everything handed over and recorded, then forgets it.
  void Finish() {
    HandOver();
    const int32_t count = HandedCount.load(std::memory_order_relaxed);
    if (count > 0) {
      DrawBands(true);
      std::unique_lock<std::mutex> hold(Lock);
      Progress.wait(hold, [&] { return AllDrawn(count); });
    }
    Reset();
  }

  // Forgets the scene. Each band is taken first, so that a worker still
  // inside one has left it (its writes are then seen here) and none can find
  // a count of this scene together with a band of the next.
  void Reset() {
    const int32_t bands = BandCount.load(std::memory_order_relaxed);
    for (int32_t b = 0; b < bands; ++b)
      while (Bands[b].Busy.exchange(true, std::memory_order_acquire)) std::this_thread::yield();
    HandedCount.store(0, std::memory_order_relaxed);
    Target.store(nullptr, std::memory_order_relaxed);
    BandCount.store(0, std::memory_order_relaxed);
    for (int32_t b = 0; b < bands; ++b) {
      Bands[b].Drawn.store(0, std::memory_order_relaxed);
      Bands[b].Busy.store(false, std::memory_order_release);
    }
    for (int32_t i = 0; i < Used; ++i) Chunks[(size_t)i]->Reset();
    Used = 0;
    Filling = nullptr;
  }
};

SceneQueue::SceneQueue() : P(new Impl) {}

SceneQueue::~SceneQueue() {
  P->StopWorkers();
  delete P;
}

void SceneQueue::SetThreads(int count) {
  count = std::clamp(count, 1, kMaxThreads);
  if (count == Threads()) return;
  P->Reset();
  P->StopWorkers();
  for (int i = 1; i < count; ++i) P->Workers.emplace_back([this] { P->WorkerLoop(); });
}

int SceneQueue::Threads() const { return 1 + (int)P->Workers.size(); }

void SceneQueue::Clear(Frame& frame, int32_t left, int32_t top, int32_t right, int32_t bottom, bool color,
                       bool depth) {
  if (!(color || depth) || left >= right || top >= bottom || frame.Color.empty()) return;
  const ClearCommand k{left, top, right, bottom, color, depth};
  if (P->Workers.empty()) {
    drawClear(frame, Band{0, frame.Height}, k);
    return;
  }
  Chunk& c = P->Recording(frame);
  c.Commands.push_back({Kind::Clear, (uint32_t)c.Clears.size(), top, bottom});
  c.Clears.push_back(k);
  // Handed over at once: the workers wipe the frame while the program
  // computes the scene.
  P->HandOver();
  if (P->HandedCount.load(std::memory_order_relaxed) == kMaxChunks) P->Finish();
}

void SceneQueue::Polygon(Frame& frame, const cvDriver_Vertex* vertices, int32_t count, Texture* texture,
                         uint32_t flags) {
  if (frame.Color.empty()) return;
  PolygonCommand polygon;
  if (P->Workers.empty()) {
    // Drawn as it comes: nothing is queued before it.
    if (PreparePolygon(vertices, count, texture, flags, P->Direct, polygon))
      DrawPolygon(frame, Band{0, frame.Height}, polygon, P->Direct.data());
    P->Direct.clear();
    return;
  }
  // A texture's draw cache is rebuilt in place when it is out of date: what
  // is queued with the old one is drawn first.
  if (texture && !TextureCacheFresh(texture)) Flush(frame);
  Chunk& c = P->Recording(frame);
  if (!PreparePolygon(vertices, count, texture, flags, c.Vertices, polygon)) return;
  int32_t top, bottom;
  rowsOf(polygon.MinY, polygon.MaxY, top, bottom);
  c.Commands.push_back({Kind::Polygon, (uint32_t)c.Polygons.size(), top, bottom});
  c.Polygons.push_back(polygon);
  P->Recorded();
}

void SceneQueue::Decal(Frame& frame, Texture* texture, int32_t left, int32_t top, int32_t right,
                       int32_t bottom, int32_t x, int32_t y) {
  if (frame.Color.empty()) return;
  if (P->Workers.empty()) {
    DrawDecal(frame, Band{0, frame.Height}, PrepareDecal(texture, left, top, right, bottom, x, y));
    return;
  }
  if (!TextureCacheFresh(texture)) Flush(frame);
  // Rows y onwards, one for each texture row copied.
  const DecalCommand d = PrepareDecal(texture, left, top, right, bottom, x, y);
  const int64_t first = (int64_t)y;
  const int64_t last = first + std::max<int64_t>(0, (int64_t)std::min(bottom, d.TexHeight) - std::max(top, 0));
  const int32_t rowTop = (int32_t)std::clamp<int64_t>(first, INT32_MIN / 2, INT32_MAX / 2);
  const int32_t rowBottom = (int32_t)std::clamp<int64_t>(last, INT32_MIN / 2, INT32_MAX / 2);
  Chunk& c = P->Recording(frame);
  c.Commands.push_back({Kind::Decal, (uint32_t)c.Decals.size(), rowTop, rowBottom});
  c.Decals.push_back(d);
  P->Recorded();
}

void SceneQueue::Flush(Frame&) { P->Finish(); }

// Chunks already handed over may be being drawn; Reset waits for them.
void SceneQueue::Discard() { P->Reset(); }

}  // namespace softrnd
