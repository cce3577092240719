// FrameState: the values that decide what the next frame shows.
#include "framework/framestate.h"

#include <cstring>
#include <type_traits>

#include "framework/actor.h"
#include "framework/engine.h"
#include "framework/scene.h"

template <typename T>
void FrameState::Add(const T& Value) {
  static_assert((std::is_trivially_copyable_v<T> && std::has_unique_object_representations_v<T>) ||
                    std::is_floating_point_v<T>,
                "only values without padding are compared byte for byte");
  AddBytes(&Value, sizeof Value);
}

void FrameState::AddBytes(const void* Data, size_t Size) {
  const auto* p = static_cast<const uint8_t*>(Data);
  bytes_.insert(bytes_.end(), p, p + Size);
}

namespace {

// Every float of a transform, one by one (the record has no padding, but
// the comparison should not depend on it).
template <typename Sink>
void AddXForm(Sink&& Put, const cvXForm3d& Form) {
  for (const auto& row : Form.M)
    for (float v : row) Put(v);
  Put(Form.T.X);
  Put(Form.T.Y);
  Put(Form.T.Z);
}

}  // namespace

FrameState FrameState::Capture(const Engine& Owner) {
  FrameState s;
  auto put = [&s](const auto& Value) { s.Add(Value); };

  put(Owner.DisplayWidth);
  put(Owner.DisplayHeight);
  put(static_cast<uint8_t>(Owner.DrawBoundingBoxes));

  if (const Camera* c = Owner.CurrentCamera) {
    put(reinterpret_cast<uintptr_t>(c));
    put(c->Left);
    put(c->Right);
    put(c->Top);
    put(c->Bottom);
    put(c->FieldOfView);
    AddXForm(put, c->Position.XForm);
  } else {
    put(uintptr_t{0});
  }

  put(Owner.NumActors);
  for (int32_t i = 0; i < Owner.NumActors; ++i) {
    const Actor* a = Owner.Actors[i];
    put(reinterpret_cast<uintptr_t>(a));
    if (!a) continue;
    put(reinterpret_cast<uintptr_t>(a->EngineActor));
    AddXForm(put, a->Position.XForm);
    put(reinterpret_cast<uintptr_t>(a->Motion));
    put(a->MotionTime);
    if (!a->EngineActor) continue;
    const int32_t materials = cvActor_GetMaterialCount(a->EngineActor);
    put(materials);
    for (int32_t m = 0; m < materials; ++m) {
      cvBitmap* bitmap = nullptr;
      float r = 0, g = 0, b = 0;
      cvActor_GetMaterial(a->EngineActor, m, &bitmap, &r, &g, &b);
      put(reinterpret_cast<uintptr_t>(bitmap));
      put(r);
      put(g);
      put(b);
    }
  }

  if (const cvWorld* w = Owner.CurrentWorld ? Owner.CurrentWorld->EngineWorld : nullptr) {
    put(reinterpret_cast<uintptr_t>(w));
    put(cvWorld_GetUserPolyCount(w));
    const int32_t actors = cvWorld_GetActorCount(w);
    put(actors);
    for (int32_t i = 0; i < actors; ++i)
      if (const cvWorld_ActorEntry* e = cvWorld_GetActorEntry(w, i)) {
        put(reinterpret_cast<uintptr_t>(e->Actor));
        put(e->ActorFlags);
      }
    for (int32_t i = 0; i < CV_WORLD_MAX_LIGHTS; ++i) {
      cvVec3d at{};
      cvWorld_Rgba colour{};
      float radius = 0;
      int32_t shadows = 0;
      if (!cvWorld_GetLightInfo(w, i, &at, &colour, &radius, &shadows)) continue;
      put(i);
      for (float v : {at.X, at.Y, at.Z, colour.R, colour.G, colour.B, colour.A, radius}) put(v);
      put(shadows);
    }
    // One-frame polygons are drawn once and then dropped: a frame that has
    // any must be drawn (they may be new ones in the same place). A changed
    // world (bitmaps added or removed) gets its textures anew in the next
    // frame, which clears the flag.
    s.alwaysDraw_ = s.alwaysDraw_ || cvWorld_GetUserPolyCount(w) > 0 || cvWorld_IsChanged(w);
  } else {
    put(uintptr_t{0});
  }

  if (const cvEngine* e = Owner.EngineObject) {
    put(e->DriverChanged);
    put(reinterpret_cast<uintptr_t>(e->Driver));
    put(e->Gamma);
    put(e->NumStrings);
    for (int32_t i = 0; i < e->NumStrings && i < CV_ENGINE_MAX_STRINGS; ++i) {
      put(e->Strings[i].X);
      put(e->Strings[i].Y);
      s.AddBytes(e->Strings[i].Text, strnlen(e->Strings[i].Text, CV_ENGINE_STRING_SIZE));
      put(uint8_t{0});
    }
    // The counter shows the time each frame took: every frame differs.
    s.alwaysDraw_ = s.alwaysDraw_ || e->FrameRateCounter != 0;
  }
  return s;
}

void DiscardFrameStrings(Engine& Owner) {
  if (Owner.EngineObject) Owner.EngineObject->NumStrings = 0;
}
