// The scene queue and the workers that draw it. Commands are recorded as
// they come; Flush cuts the frame into bands of rows, lists in
// each band the commands that reach its rows (in the order they came), and
// every thread takes the next band not yet drawn until none is left. A band
// draws its commands clipped to its rows, so each pixel sees exactly the
// writes it would in one pass, and threads never touch the same pixel.
#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "softrnd.h"

namespace softrnd {
namespace {

// Bands per thread: enough that threads share a figure in the middle of
// the frame evenly; few enough that triangles seldom cross a band's edge
// (their set-up is repeated in each band they reach). One thread draws the
// frame as a single band.
constexpr int32_t kBandsPerThread = 4;
constexpr int32_t kMinBandRows = 16;

struct ClearCommand {
  int32_t Left, Top, Right, Bottom;
  bool Color, Depth;
};

enum class Kind : uint8_t { Clear, Polygon, Decal };

struct Command {
  Kind What;
  uint32_t Index;  // into the list of its kind
  // Rows the command may touch, [Top, Bottom), before clipping to the frame.
  int32_t Top, Bottom;
};

// The rows whose centres lie in MinY <= y < MaxY, as a range of whole rows
// (kept within int range; PreparePolygon refused coordinates beyond 1e7).
inline void rowsOf(float minY, float maxY, int32_t& top, int32_t& bottom) {
  top = (int32_t)std::ceil(minY);
  bottom = (int32_t)std::ceil(maxY);
}

}  // namespace

struct SceneQueue::Impl {
  std::vector<Command> Commands;
  std::vector<ClearCommand> Clears;
  std::vector<PolygonCommand> Polygons;
  std::vector<DecalCommand> Decals;
  std::vector<ScreenVertex> Vertices;
  // Per band, the indices of the commands that reach it; kept between
  // flushes so that their storage is reused.
  std::vector<std::vector<uint32_t>> Bins;

  // The workers (threads beyond the caller), woken for each flush. The
  // caller waits for the bands, not for the workers: one that wakes late
  // (the machine may be busy) finds no band left and goes back to sleep.
  std::vector<std::thread> Workers;
  std::mutex Lock;
  std::condition_variable Wake, Finished;
  uint32_t Generation = 0;  // bumped for each flush
  bool Quit = false;

  // The flush being drawn: written before Ticket announces it. Ticket holds
  // the flush's generation (high 32 bits), its number of bands (16 bits)
  // and the next band to take (low 16 bits; a frame has at most 8192 rows,
  // so 512 bands), so that a worker still holding an older generation takes
  // no band of a newer flush.
  Frame* Target = nullptr;
  int32_t BandRows = 1, BandCount = 0;
  std::atomic<int32_t> BandsDone{0};
  std::atomic<uint64_t> Ticket{0};

  void DrawBand(int32_t index) {
    Frame& frame = *Target;
    const Band band{index * BandRows, std::min(frame.Height, (index + 1) * BandRows)};
    for (const uint32_t i : Bins[(size_t)index]) {
      const Command& c = Commands[i];
      switch (c.What) {
        case Kind::Clear: {
          const ClearCommand& k = Clears[c.Index];
          const int32_t top = std::max(k.Top, band.Top), bottom = std::min(k.Bottom, band.Bottom);
          for (int32_t y = top; y < bottom; ++y) {
            const size_t row = (size_t)y * frame.Width;
            if (k.Color) std::fill_n(frame.Color.data() + row + k.Left, k.Right - k.Left, 0u);
            if (k.Depth) std::fill_n(frame.Depth.data() + row + k.Left, k.Right - k.Left, 0.0f);
          }
          break;
        }
        case Kind::Polygon:
          DrawPolygon(frame, band, Polygons[c.Index], Vertices.data());
          break;
        case Kind::Decal:
          DrawDecal(frame, band, Decals[c.Index]);
          break;
      }
    }
  }

  // Takes and draws bands of flush GENERATION until none is left.
  void DrawBands(uint32_t generation) {
    for (;;) {
      uint64_t t = Ticket.load(std::memory_order_acquire);
      const int32_t next = (int32_t)(t & 0xFFFF), count = (int32_t)((t >> 16) & 0xFFFF);
      if ((uint32_t)(t >> 32) != generation || next >= count) return;
      if (!Ticket.compare_exchange_weak(t, t + 1, std::memory_order_acq_rel)) continue;
      DrawBand(next);
      if (BandsDone.fetch_add(1, std::memory_order_acq_rel) + 1 == count) {
        std::lock_guard<std::mutex> hold(Lock);
        Finished.notify_one();
      }
    }
  }

  void WorkerLoop() {
    uint32_t seen = 0;
    for (;;) {
      {
        std::unique_lock<std::mutex> hold(Lock);
        Wake.wait(hold, [&] { return Quit || Generation != seen; });
        if (Quit) return;
        seen = Generation;
      }
      DrawBands(seen);
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

  // Lists each command in the bands its rows reach.
  void Bin(int32_t height) {
    if (Bins.size() < (size_t)BandCount) Bins.resize((size_t)BandCount);
    for (int32_t b = 0; b < BandCount; ++b) Bins[(size_t)b].clear();
    for (size_t i = 0; i < Commands.size(); ++i) {
      const int32_t top = std::max(Commands[i].Top, 0), bottom = std::min(Commands[i].Bottom, height);
      if (top >= bottom) continue;
      for (int32_t b = top / BandRows; b <= (bottom - 1) / BandRows; ++b)
        Bins[(size_t)b].push_back((uint32_t)i);
    }
  }

  void Reset() {
    Commands.clear();
    Clears.clear();
    Polygons.clear();
    Decals.clear();
    Vertices.clear();
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
  P->StopWorkers();
  for (int i = 1; i < count; ++i) P->Workers.emplace_back([this] { P->WorkerLoop(); });
}

int SceneQueue::Threads() const { return 1 + (int)P->Workers.size(); }

void SceneQueue::Clear(Frame& frame, int32_t left, int32_t top, int32_t right, int32_t bottom, bool color,
                       bool depth) {
  if (!(color || depth) || left >= right || top >= bottom) return;
  P->Commands.push_back({Kind::Clear, (uint32_t)P->Clears.size(), top, bottom});
  P->Clears.push_back({left, top, right, bottom, color, depth});
  if (P->Workers.empty()) Flush(frame);  // one command: cheap to bin
}

void SceneQueue::Polygon(Frame& frame, const cvDriver_Vertex* vertices, int32_t count, Texture* texture,
                         uint32_t flags) {
  PolygonCommand polygon;
  if (!PreparePolygon(vertices, count, texture, flags, P->Vertices, polygon)) return;
  if (P->Workers.empty()) {
    // Nothing is queued before it (every command is drawn as it comes).
    if (!frame.Color.empty()) DrawPolygon(frame, Band{0, frame.Height}, polygon, P->Vertices.data());
    P->Vertices.clear();
    return;
  }
  int32_t top, bottom;
  rowsOf(polygon.MinY, polygon.MaxY, top, bottom);
  P->Commands.push_back({Kind::Polygon, (uint32_t)P->Polygons.size(), top, bottom});
  P->Polygons.push_back(polygon);
}

void SceneQueue::Decal(Frame& frame, Texture* texture, int32_t left, int32_t top, int32_t right,
                       int32_t bottom, int32_t x, int32_t y) {
  // Rows y onwards, one for each texture row copied.
  const DecalCommand d = PrepareDecal(texture, left, top, right, bottom, x, y);
  if (P->Workers.empty()) {
    if (!frame.Color.empty()) DrawDecal(frame, Band{0, frame.Height}, d);
    return;
  }
  const int64_t first = (int64_t)y;
  const int64_t last = first + std::max<int64_t>(0, (int64_t)std::min(bottom, d.TexHeight) - std::max(top, 0));
  const int32_t rowTop = (int32_t)std::clamp<int64_t>(first, INT32_MIN / 2, INT32_MAX / 2);
  const int32_t rowBottom = (int32_t)std::clamp<int64_t>(last, INT32_MIN / 2, INT32_MAX / 2);
  P->Commands.push_back({Kind::Decal, (uint32_t)P->Decals.size(), rowTop, rowBottom});
  P->Decals.push_back(d);
}

void SceneQueue::Flush(Frame& frame) {
  if (P->Commands.empty()) return;
  if (!frame.Color.empty()) {
    P->Target = &frame;
    const int32_t threads = Threads();
    P->BandRows = threads == 1 ? frame.Height
                               : std::max(kMinBandRows, (frame.Height + kBandsPerThread * threads - 1) /
                                                            (kBandsPerThread * threads));
    const int32_t bands = (frame.Height + P->BandRows - 1) / P->BandRows;
    P->BandCount = bands;
    P->BandsDone.store(0, std::memory_order_relaxed);
    P->Bin(frame.Height);
    uint32_t generation;
    {
      std::lock_guard<std::mutex> hold(P->Lock);
      generation = ++P->Generation;
      P->Ticket.store(((uint64_t)generation << 32) | ((uint64_t)bands << 16),
                      std::memory_order_release);
    }
    if (!P->Workers.empty() && bands > 1) P->Wake.notify_all();
    P->DrawBands(generation);
    std::unique_lock<std::mutex> hold(P->Lock);
    P->Finished.wait(hold, [&] { return P->BandsDone.load(std::memory_order_acquire) == bands; });
    P->Target = nullptr;
  }
  P->Reset();
}

void SceneQueue::Discard() { P->Reset(); }

}  // namespace softrnd
