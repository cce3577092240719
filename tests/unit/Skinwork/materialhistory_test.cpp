// Material edit history: undo and redo hand back exactly the states that were
// recorded, through a body that gives up its bitmaps as they are replaced,
// and the history's references come and go with its steps.
#include <gtest/gtest.h>

#include "Actor/cvactor.h"
#include "Bitmap/cvbitmap.h"
#include "materialhistory.h"

namespace {

// A body with one material and its skin; the edits below go through
// cvBody_SetMaterial as the window applies them.
struct Fixture {
  cvBody* Body = cvBody_Create();
  cvBitmap* Skins[3] = {};
  Fixture() {
    for (cvBitmap*& s : Skins) s = cvBitmap_Create(4, 4, 1, CV_PIXELFORMAT_24BIT_RGB);
    cvBody_AddMaterial(Body, "skin", Skins[0], 1.5f, 2, 3, nullptr);
  }
  ~Fixture() {
    cvBody_Destroy(&Body);
    for (cvBitmap*& s : Skins) cvBitmap_Destroy(&s);
  }
  MaterialState Current() const {
    MaterialState s;
    cvBody_GetMaterial(Body, 0, nullptr, &s.Bitmap, &s.Red, &s.Green, &s.Blue);
    return s;
  }
  void Edit(MaterialHistory& H, const MaterialState& To) {
    EXPECT_TRUE(H.Record(0, Current(), To));
    cvBody_SetMaterial(Body, 0, To.Bitmap, To.Red, To.Green, To.Blue);
  }
  void Apply(const MaterialState& S) { cvBody_SetMaterial(Body, 0, S.Bitmap, S.Red, S.Green, S.Blue); }
};

TEST(MaterialHistory, UndoAndRedoRestoreColoursAndBitmapsExactly) {
  Fixture f;
  const MaterialState start = f.Current();
  const MaterialState loaded{f.Skins[1], 1.5f, 2, 3};
  const MaterialState recoloured{f.Skins[1], 254.75f, 0, 1e-7f};
  {
    MaterialHistory history;
    f.Edit(history, loaded);
    f.Edit(history, recoloured);
    EXPECT_TRUE(history.Record(0, recoloured, recoloured));  // no change: no step
    EXPECT_EQ(history.UndoCount(), 2u);
    // The body gave up the first skin; the history keeps it alive.
    EXPECT_EQ(f.Skins[0]->RefCount, 2);

    int32_t material = -1;
    MaterialState s;
    ASSERT_TRUE(history.Undo(&material, &s));
    EXPECT_EQ(material, 0);
    EXPECT_EQ(s, loaded);
    f.Apply(s);
    ASSERT_TRUE(history.Undo(&material, &s));
    EXPECT_EQ(s, start);
    f.Apply(s);
    EXPECT_EQ(f.Current(), start);
    EXPECT_FALSE(history.Undo(&material, &s));

    ASSERT_TRUE(history.Redo(&material, &s));
    EXPECT_EQ(s, loaded);
    ASSERT_TRUE(history.Redo(&material, &s));
    EXPECT_EQ(s, recoloured);
    f.Apply(s);
    EXPECT_FALSE(history.Redo(&material, &s));

    // A new edit after an undo drops the step that could have been redone,
    // and with it the history's references on its bitmaps.
    history.Undo(&material, &s);
    f.Apply(s);
    f.Edit(history, {f.Skins[2], 9, 9, 9});
    EXPECT_FALSE(history.CanRedo());
    EXPECT_EQ(history.UndoCount(), 2u);
    EXPECT_EQ(f.Skins[1]->RefCount, 3);  // ours, and after / before of the two steps
  }
  // Gone with the history: only the body's and our own references remain.
  EXPECT_EQ(f.Skins[0]->RefCount, 1);
  EXPECT_EQ(f.Skins[1]->RefCount, 1);
  EXPECT_EQ(f.Skins[2]->RefCount, 2);
}

TEST(MaterialHistory, KeepsTheBitmapAMaterialGivesUp) {
  Fixture f;
  cvBitmap* lone = cvBitmap_Create(2, 2, 1, CV_PIXELFORMAT_24BIT_RGB);
  f.Apply({lone, 0, 0, 0});
  cvBitmap_Destroy(&lone);  // only the body holds it now
  lone = f.Current().Bitmap;
  MaterialHistory history;
  f.Edit(history, {f.Skins[1], 0, 0, 0});  // the body lets it go
  EXPECT_EQ(lone->RefCount, 1);            // the history's reference
  int32_t material;
  MaterialState s;
  ASSERT_TRUE(history.Undo(&material, &s));
  EXPECT_EQ(s.Bitmap, lone);
  f.Apply(s);
  EXPECT_EQ(lone->RefCount, 2);
}

TEST(MaterialHistory, OldestStepsDropOffBeyondTheLimit) {
  Fixture f;
  MaterialHistory history(2);
  f.Edit(history, {f.Skins[1], 0, 0, 0});
  f.Edit(history, {f.Skins[2], 0, 0, 0});
  f.Edit(history, {f.Skins[2], 7, 0, 0});
  EXPECT_EQ(history.UndoCount(), 2u);
  EXPECT_EQ(f.Skins[0]->RefCount, 1);  // the first step, released
  int32_t material;
  MaterialState s;
  history.Undo(&material, &s);
  history.Undo(&material, &s);
  EXPECT_EQ(s.Bitmap, f.Skins[1]);
  history.Clear();
  EXPECT_FALSE(history.CanUndo() || history.CanRedo());
  EXPECT_EQ(f.Skins[1]->RefCount, 1);
  EXPECT_EQ(f.Skins[2]->RefCount, 2);  // ours and the body's
}

}  // namespace
