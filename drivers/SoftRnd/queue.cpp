// The scene queue and the workers that draw it. Commands are recorded as
// they come; Flush cuts the frame into bands of kBandRows rows and every
// thread takes the next band not yet drawn until none is left. A band draws
// all commands in order, clipped to its rows, so each pixel sees exactly the
// writes it would in one pass, and threads never touch the same pixel.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "softrnd.h"

namespace softrnd {
namespace {

// Small enough that two or more threads share a figure in the middle of
// the frame evenly, large enough that a band's cost dwarfs taking it.
constexpr int32_t kBandRows = 16;

struct ClearCommand {
  int32_t Left, Top, Right, Bottom;
  bool Color, Depth;
};

enum class Kind : uint8_t { Clear, Polygon, Decal };

struct Command {
  Kind What;
  uint32_t Index;  // into the list of its kind
};

}  // namespace

struct SceneQueue::Impl {
  std::vector<Command> Commands;
  std::vector<ClearCommand> Clears;
  std::vector<PolygonCommand> Polygons;
  std::vector<DecalCommand> Decals;
  std::vector<ScreenVertex> Vertices;

  // The workers (threads beyond the caller), woken for each flush.
  std::vector<std::thread> Workers;
  std::mutex Lock;
  std::condition_variable Wake, Finished;
  uint64_t Generation = 0;  // bumped for each flush the workers join
  int Running = 0;          // workers still in the current flush
  bool Quit = false;

  // The flush being drawn; written before the workers are woken.
  Frame* Target = nullptr;
  int32_t BandCount = 0;
  std::atomic<int32_t> NextBand{0};

  void DrawBand(int32_t index) {
    Frame& frame = *Target;
    const Band band{index * kBandRows, std::min(frame.Height, (index + 1) * kBandRows)};
    for (const Command& c : Commands) {
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

  void DrawBands() {
    for (int32_t b; (b = NextBand.fetch_add(1, std::memory_order_relaxed)) < BandCount;) DrawBand(b);
  }

  void WorkerLoop() {
    uint64_t seen = 0;
    for (;;) {
      {
        std::unique_lock<std::mutex> hold(Lock);
        Wake.wait(hold, [&] { return Quit || Generation != seen; });
        if (Quit) return;
        seen = Generation;
      }
      DrawBands();
      std::lock_guard<std::mutex> hold(Lock);
      if (--Running == 0) Finished.notify_one();
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

void SceneQueue::Clear(int32_t left, int32_t top, int32_t right, int32_t bottom, bool color,
                       bool depth) {
  if (!(color || depth) || left >= right || top >= bottom) return;
  P->Commands.push_back({Kind::Clear, (uint32_t)P->Clears.size()});
  P->Clears.push_back({left, top, right, bottom, color, depth});
}

void SceneQueue::Polygon(const cvDriver_Vertex* vertices, int32_t count, Texture* texture,
                         uint32_t flags) {
  PolygonCommand polygon;
  if (!PreparePolygon(vertices, count, texture, flags, P->Vertices, polygon)) return;
  P->Commands.push_back({Kind::Polygon, (uint32_t)P->Polygons.size()});
  P->Polygons.push_back(polygon);
}

void SceneQueue::Decal(Texture* texture, int32_t left, int32_t top, int32_t right,
                       int32_t bottom, int32_t x, int32_t y) {
  P->Commands.push_back({Kind::Decal, (uint32_t)P->Decals.size()});
  P->Decals.push_back(PrepareDecal(texture, left, top, right, bottom, x, y));
}

void SceneQueue::Flush(Frame& frame) {
  if (P->Commands.empty()) return;
  if (!frame.Color.empty()) {
    P->Target = &frame;
    P->BandCount = (frame.Height + kBandRows - 1) / kBandRows;
    P->NextBand.store(0, std::memory_order_relaxed);
    if (P->Workers.empty() || P->BandCount < 2) {
      P->DrawBands();
    } else {
      {
        std::lock_guard<std::mutex> hold(P->Lock);
        P->Running = (int)P->Workers.size();
        ++P->Generation;
      }
      P->Wake.notify_all();
      P->DrawBands();
      std::unique_lock<std::mutex> hold(P->Lock);
      P->Finished.wait(hold, [&] { return P->Running == 0; });
    }
    P->Target = nullptr;
  }
  P->Reset();
}

void SceneQueue::Discard() { P->Reset(); }

}  // namespace softrnd
