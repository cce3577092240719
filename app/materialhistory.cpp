#include "materialhistory.h"

#include "Bitmap/cvbitmap.h"

MaterialHistory::~MaterialHistory() { Clear(); }

void MaterialHistory::Release(Step& S) {
  for (cvBitmap* bitmap : {S.Before.Bitmap, S.After.Bitmap})
    if (bitmap) cvBitmap_Destroy(&bitmap);  // drops the step's reference only
}

bool MaterialHistory::Record(int32_t Material, const MaterialState& Before,
                             const MaterialState& After) {
  if (Before == After) return true;
  // The step's own references, taken before anything changes.
  if (Before.Bitmap && !cvBitmap_CreateRef(Before.Bitmap)) return false;
  if (After.Bitmap && !cvBitmap_CreateRef(After.Bitmap)) {
    if (Before.Bitmap) {
      cvBitmap* held = Before.Bitmap;
      cvBitmap_Destroy(&held);
    }
    return false;
  }
  while (steps_.size() > done_) {
    Release(steps_.back());
    steps_.pop_back();
  }
  steps_.push_back({Material, Before, After});
  if (steps_.size() > limit_) {
    Release(steps_.front());
    steps_.erase(steps_.begin());
  }
  done_ = steps_.size();
  return true;
}

bool MaterialHistory::Undo(int32_t* Material, MaterialState* State) {
  if (!CanUndo()) return false;
  const Step& s = steps_[--done_];
  *Material = s.Material;
  *State = s.Before;
  return true;
}

bool MaterialHistory::Redo(int32_t* Material, MaterialState* State) {
  if (!CanRedo()) return false;
  const Step& s = steps_[done_++];
  *Material = s.Material;
  *State = s.After;
  return true;
}

void MaterialHistory::Clear() {
  for (Step& s : steps_) Release(s);
  steps_.clear();
  done_ = 0;
}
