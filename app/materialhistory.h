// MaterialHistory: undo and redo of material edits (a changed colour, a
// loaded bitmap). Each step remembers one material's bitmap and colour before
// and after the edit, and holds a reference on every bitmap it remembers, so
// that a bitmap the material has given up is still there to go back to.
// Recording an edit after undoing drops the steps that could have been
// redone; the oldest steps drop off beyond the limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct cvBitmap;

// What an edit changes of one material.
struct MaterialState {
  cvBitmap* Bitmap = nullptr;  // null for a material without a bitmap
  float Red = 0, Green = 0, Blue = 0;

  bool operator==(const MaterialState&) const = default;
};

class MaterialHistory {
 public:
  explicit MaterialHistory(size_t Limit = 100) : limit_(Limit ? Limit : 1) {}
  // Releases the references the steps hold.
  ~MaterialHistory();
  MaterialHistory(const MaterialHistory&) = delete;
  MaterialHistory& operator=(const MaterialHistory&) = delete;

  // Records that Material goes from Before to After. Call it before the edit
  // is applied: applying it may release the last other reference on the
  // bitmap the material gives up. An edit that changes nothing is not
  // recorded. False only when a bitmap cannot be referenced (nothing is
  // recorded then).
  bool Record(int32_t Material, const MaterialState& Before, const MaterialState& After);

  bool CanUndo() const { return done_ > 0; }
  bool CanRedo() const { return done_ < steps_.size(); }
  size_t UndoCount() const { return done_; }
  size_t RedoCount() const { return steps_.size() - done_; }

  // Takes back the newest edit not yet undone: *Material and *State are the
  // material and what it held before that edit. The state's bitmap stays
  // referenced by the history as long as the step is kept. False when there
  // is nothing to undo.
  bool Undo(int32_t* Material, MaterialState* State);
  // Makes the edit Undo took back again: *State is what it held after it.
  bool Redo(int32_t* Material, MaterialState* State);

  // Forgets every step (when another actor is opened or the actor closed).
  void Clear();

 private:
  struct Step {
    int32_t Material;
    MaterialState Before, After;
  };
  static void Release(Step& S);

  size_t limit_;
  std::vector<Step> steps_;
  size_t done_ = 0;  // steps_[0, done_) are done, the rest undone
};
