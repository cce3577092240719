// Engine object: version check, driver enumeration and loading failures,
// worlds, display strings and statistics.
#include <filesystem>
#include <string>

#include "Bitmap/cvbitmap.h"
#include "Engine/cvengcore.h"
#include "World/cvworld.h"
#include "enginetest.h"

namespace fs = std::filesystem;
using enginetest::BinDir;
using enginetest::FindDriver;
using enginetest::FindMode;
using enginetest::SoftEngine;

namespace {

std::string NewestLogText() {
  const char* text = nullptr;
  int32_t code = 0;
  if (!cvErrorLog_Report(cvErrorLog_Count() - 1, &code, &text) || !text) return "";
  return text;
}

bool LogMentions(const std::string& needle) {
  for (int32_t i = 0; i < cvErrorLog_Count(); ++i) {
    const char* text = nullptr;
    int32_t code = 0;
    if (cvErrorLog_Report(i, &code, &text) && text && std::string(text).find(needle) != std::string::npos)
      return true;
  }
  return false;
}

// A driver folder holding copies of built modules under chosen names.
struct DriverDir {
  cvtest::TempDir Dir;
  void Add(const std::string& from, const std::string& as) {
    fs::copy_file(from, Dir.File(as), fs::copy_options::overwrite_existing);
  }
  void AddSoftRnd() { Add(BinDir() + "/SoftRnd.so", "SoftRnd.so"); }
  void AddBad(const char* kind, const std::string& as) {
    Add(std::string(CV_TEST_BAD_DRIVER_DIR) + "/bad_" + kind + ".so", as);
  }
};

}  // namespace

TEST(EngineCreate, RefusesOtherInterfaceVersions) {
  cvplatform::HeadlessWindow window(64, 48);
  cvErrorLog_Clear();
  EXPECT_EQ(cvEngine_Create(window.Record(), "t", BinDir().c_str(), 0x10002), nullptr);
  EXPECT_LOGGED(-1);
  EXPECT_NE(NewestLogText().find("65538 - 65539"), std::string::npos) << NewestLogText();
  EXPECT_EQ(cvEngine_Create(window.Record(), "t", BinDir().c_str(), 0x10004), nullptr);
  EXPECT_NE(NewestLogText().find("65540 - 65539"), std::string::npos) << NewestLogText();
  EXPECT_EQ(cvEngine_Create(window.Record(), "t", BinDir().c_str(), 0x20003), nullptr);
  EXPECT_LOGGED(-1);
  EXPECT_EQ(NewestLogText().find(" - "), std::string::npos) << NewestLogText();
}

TEST(EngineCreate, EnumeratesSoftRndWithWindowedAndFixedModes) {
  cvplatform::HeadlessWindow window(64, 48);
  cvEngine* e = cvEngine_Create(window.Record(), "t", BinDir().c_str(), CV_ENGINE_VERSION);
  ASSERT_NE(e, nullptr);
  cvDriver_Record* d = FindDriver(e, "SoftRnd.so");
  ASSERT_NE(d, nullptr);
  const char* name = nullptr;
  EXPECT_TRUE(cvDriver_GetName(d, &name));
  EXPECT_STRNE(name, "");
  cvDriver_Mode* window_mode = FindMode(d, "Window");
  ASSERT_NE(window_mode, nullptr);
  int32_t w = 0, h = 0;
  EXPECT_TRUE(cvDriver_ModeGetWidthHeight(window_mode, &w, &h));
  EXPECT_EQ(w, -1);
  EXPECT_EQ(h, -1);
  ASSERT_NE(FindMode(d, "640x480"), nullptr);
  EXPECT_LT(d->NumModes, CV_ENGINE_MAX_MODES);
  EXPECT_EQ(cvDriver_GetNextDriver(e, &e->Drivers[e->NumDrivers - 1]), nullptr);
  // No driver is open yet: frames are refused with code 5.
  EXPECT_FALSE(cvEngine_BeginFrame(e, nullptr, 1));
  EXPECT_LOGGED(5);
  EXPECT_FALSE(cvEngine_EndFrame(e));
  EXPECT_LOGGED(5);
  cvEngine_Destroy(e);
}

TEST(EngineCreate, MissingDriverDirectoryGivesAnEngineWithoutDrivers) {
  cvplatform::HeadlessWindow window(64, 48);
  cvErrorLog_Clear();
  cvEngine* e = cvEngine_Create(window.Record(), "t", "/nonexistent/driver/dir", CV_ENGINE_VERSION);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(cvDriver_GetNextDriver(e, nullptr), nullptr);
  EXPECT_TRUE(LogMentions("/nonexistent/driver/dir"));
  cvEngine_Destroy(e);
}

TEST(EngineCreate, SkipsModulesWithoutHookOfAnotherVersionOrUnloadable) {
  DriverDir dir;
  dir.AddBad("nohook", "GlideRnd.so");
  dir.AddBad("version", "D3DRnd.so");
  dir.AddSoftRnd();
  cvtest::WriteFileBytes(dir.Dir.File("SoftRnd2.so"), {'n', 'o', 't', ' ', 'E', 'L', 'F'});
  cvplatform::HeadlessWindow window(64, 48);
  cvErrorLog_Clear();
  cvEngine* e = cvEngine_Create(window.Record(), "t", dir.Dir.Path().c_str(), CV_ENGINE_VERSION);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->NumDrivers, 1);
  EXPECT_TRUE(LogMentions("SoftRnd2.so"));
  EXPECT_NE(FindDriver(e, "SoftRnd.so"), nullptr);
  EXPECT_TRUE(LogMentions("GlideRnd.so"));
  EXPECT_TRUE(LogMentions("D3DRnd.so"));
  cvEngine_Destroy(e);
}

TEST(EngineDriver, LoadFailuresLogTheirCodesAndLeaveNoDriver) {
  DriverDir dir;
  dir.AddSoftRnd();
  dir.AddBad("init", "SoftRnd2.so");
  cvplatform::HeadlessWindow window(64, 48);
  cvEngine* e = cvEngine_Create(window.Record(), "t", dir.Dir.Path().c_str(), CV_ENGINE_VERSION);
  ASSERT_NE(e, nullptr);
  cvDriver_Record* soft = FindDriver(e, "SoftRnd.so");
  cvDriver_Record* broken = FindDriver(e, "SoftRnd2.so");
  ASSERT_TRUE(soft && broken);

  // Init refuses: codes 2 then -1.
  cvErrorLog_Clear();
  EXPECT_FALSE(cvEngine_SetDriverAndMode(e, broken, FindMode(broken, "Window")));
  EXPECT_EQ(cvtest::LoggedCodes(), (std::vector<int32_t>{2, -1}));
  EXPECT_EQ(cvEngine_GetDriver(e), nullptr);

  // The module was replaced by one without DriverHook: code 6.
  dir.AddBad("nohook", "SoftRnd2.so");
  EXPECT_FALSE(cvEngine_SetDriverAndMode(e, broken, FindMode(broken, "Window")));
  EXPECT_LOGGED(6);
  dir.AddBad("version", "SoftRnd2.so");
  EXPECT_FALSE(cvEngine_SetDriverAndMode(e, broken, FindMode(broken, "Window")));
  EXPECT_LOGGED(6);

  // The module is gone: code 4.
  fs::remove(dir.Dir.File("SoftRnd2.so"));
  EXPECT_FALSE(cvEngine_SetDriverAndMode(e, broken, FindMode(broken, "Window")));
  EXPECT_LOGGED(4);
  EXPECT_EQ(cvEngine_GetDriver(e), nullptr);

  // A mode of another driver is not accepted.
  EXPECT_FALSE(cvEngine_SetDriverAndMode(e, soft, FindMode(broken, "Window")));
  EXPECT_LOGGED(-1);

  // The working driver still opens, and a second set replaces it.
  EXPECT_TRUE(cvEngine_SetDriverAndMode(e, soft, FindMode(soft, "Window")));
  EXPECT_NE(cvEngine_GetDriver(e), nullptr);
  EXPECT_TRUE(cvEngine_SetDriverAndMode(e, soft, FindMode(soft, "640x480")));
  EXPECT_TRUE(cvEngine_ShutdownDriver(e));
  EXPECT_EQ(cvEngine_GetDriver(e), nullptr);
  EXPECT_TRUE(cvEngine_ShutdownDriver(e));  // nothing loaded: nothing to do
  cvEngine_Destroy(e);
}

TEST(EngineDriver, TextureKindsComeFromTheDriverFormats) {
  SoftEngine s(64, 48);
  ASSERT_NE(s.Engine, nullptr);
  for (int32_t kind = 0; kind < CV_ENGINE_TEXTURE_KINDS; ++kind)
    EXPECT_TRUE(s.Engine->Kinds[kind].Available) << kind;
  EXPECT_TRUE(cvPixelFormat_HasAlpha(s.Engine->Kinds[CV_ENGINE_KIND_3DALPHA].Format.PixelFormat) ||
              (s.Engine->Kinds[CV_ENGINE_KIND_3DALPHA].Format.Flags & CV_DRIVER_FORMAT_SEPARATEALPHA));
  EXPECT_TRUE(s.Engine->Kinds[CV_ENGINE_KIND_PALETTE].Format.Flags & CV_DRIVER_FORMAT_PALETTE);
  // A palettised kind texture comes with its palette attached.
  ASSERT_TRUE(cvEngine_BeginFrame(s.Engine, nullptr, 1));
  void* t = cvEngine_CreateKindTexture(s.Engine, CV_ENGINE_KIND_ALPHAMAP, 8, 8, 1);
  EXPECT_NE(t, nullptr);
  EXPECT_TRUE(cvEngine_EndFrame(s.Engine));
}

TEST(EngineWorlds, SlotsCountReferencesAndHoldEight) {
  SoftEngine s(64, 48);
  ASSERT_NE(s.Engine, nullptr);
  cvWorld* worlds[9];
  for (cvWorld*& w : worlds) {
    w = cvWorld_Create(nullptr);
    ASSERT_NE(w, nullptr);
  }
  EXPECT_TRUE(cvEngine_AddWorld(s.Engine, worlds[0]));
  EXPECT_EQ(cvWorld_GetRefCount(worlds[0]), 2);
  EXPECT_TRUE(cvEngine_AddWorld(s.Engine, worlds[0]));
  EXPECT_TRUE(cvEngine_RemoveWorld(s.Engine, worlds[0]));
  EXPECT_TRUE(cvEngine_HasWorld(s.Engine, worlds[0]));
  EXPECT_EQ(s.Engine->NumActiveWorlds, 1);
  for (int i = 1; i < 8; ++i) EXPECT_TRUE(cvEngine_AddWorld(s.Engine, worlds[i]));
  cvErrorLog_Clear();
  EXPECT_FALSE(cvEngine_AddWorld(s.Engine, worlds[8]));
  EXPECT_LOGGED(-1);
  EXPECT_EQ(s.Engine->NumActiveWorlds, 8);
  // Frames re-attach every world, then render them.
  ASSERT_TRUE(cvEngine_BeginFrame(s.Engine, nullptr, 1));
  for (int i = 0; i < 8; ++i) EXPECT_FALSE(cvWorld_IsChanged(worlds[i]));
  EXPECT_TRUE(cvEngine_EndFrame(s.Engine));

  EXPECT_TRUE(cvEngine_RemoveWorld(s.Engine, worlds[0]));
  EXPECT_FALSE(cvEngine_HasWorld(s.Engine, worlds[0]));
  EXPECT_EQ(cvWorld_GetRefCount(worlds[0]), 1);
  EXPECT_FALSE(cvEngine_RemoveWorld(s.Engine, worlds[0]));
  EXPECT_LOGGED(-1);
  EXPECT_TRUE(cvEngine_AddWorld(s.Engine, worlds[8]));  // the freed slot is reused
  EXPECT_EQ(s.Engine->Worlds[0].World, worlds[8]);
  EXPECT_TRUE(cvEngine_RemoveAllWorlds(s.Engine));
  EXPECT_EQ(s.Engine->NumActiveWorlds, 0);
  for (cvWorld* w : worlds) {
    EXPECT_EQ(cvWorld_GetRefCount(w), 1);
    cvWorld_Free(w);
  }
}

TEST(EngineWorlds, RenderWorldNeedsWorldCameraAndAFittingCamera) {
  SoftEngine s(64, 48, "320x240");
  ASSERT_NE(s.Engine, nullptr);
  cvWorld* world = cvWorld_Create(nullptr);
  ASSERT_NE(world, nullptr);
  ASSERT_TRUE(cvEngine_AddWorld(s.Engine, world));
  cvRect fits{0, 319, 0, 239}, tooWide{0, 320, 0, 239};
  cvCamera* camera = cvCamera_Create(&fits, 2.0f);
  cvCamera* wide = cvCamera_Create(&tooWide, 2.0f);
  ASSERT_TRUE(camera && wide);
  ASSERT_TRUE(cvEngine_BeginFrame(s.Engine, camera, 1));
  EXPECT_FALSE(cvEngine_RenderWorld(s.Engine, nullptr, camera, 0.0f));
  EXPECT_LOGGED(19);
  EXPECT_FALSE(cvEngine_RenderWorld(s.Engine, world, nullptr, 0.0f));
  EXPECT_LOGGED(19);
  EXPECT_FALSE(cvEngine_RenderWorld(s.Engine, world, wide, 0.0f));
  EXPECT_LOGGED(20);
  EXPECT_TRUE(cvEngine_RenderWorld(s.Engine, world, camera, 0.0f));
  EXPECT_TRUE(cvEngine_EndFrame(s.Engine));
  cvCamera_Destroy(camera);
  cvCamera_Destroy(wide);
  cvEngine_RemoveWorld(s.Engine, world);
  cvWorld_Free(world);
}

TEST(EngineWorlds, WindowedModeAcceptsAnyCameraSize) {
  SoftEngine s(64, 48);
  ASSERT_NE(s.Engine, nullptr);
  cvWorld* world = cvWorld_Create(nullptr);
  ASSERT_NE(world, nullptr);
  cvRect huge{0, 4000, 0, 3000};
  cvCamera* camera = cvCamera_Create(&huge, 2.0f);
  ASSERT_TRUE(cvEngine_BeginFrame(s.Engine, nullptr, 1));
  EXPECT_TRUE(cvEngine_RenderWorld(s.Engine, world, camera, 0.0f));
  EXPECT_TRUE(cvEngine_EndFrame(s.Engine));
  cvCamera_Destroy(camera);
  cvWorld_Free(world);
}

TEST(EngineStrings, QueueLimitsAndEmptyAfterEveryFrame) {
  SoftEngine s(160, 120);
  ASSERT_NE(s.Engine, nullptr);
  cvEngine_EnableFrameRateCounter(s.Engine, 0);
  const std::string s79(79, 'x'), s80(80, 'x');
  EXPECT_TRUE(cvEngine_PutString(s.Engine, 0, 0, s79.c_str()));
  EXPECT_FALSE(cvEngine_PutString(s.Engine, 0, 0, s80.c_str()));
  EXPECT_LOGGED(-1);
  EXPECT_FALSE(cvEngine_Printf(s.Engine, 0, 0, "%s", s80.c_str()));
  for (int i = 1; i < 20; ++i) EXPECT_TRUE(cvEngine_Printf(s.Engine, 0, 14 * i, "line %d", i));
  EXPECT_FALSE(cvEngine_PutString(s.Engine, 0, 0, "21st"));
  EXPECT_EQ(s.Engine->NumStrings, 20);
  EXPECT_STREQ(s.Engine->Strings[5].Text, "line 5");
  ASSERT_TRUE(cvEngine_BeginFrame(s.Engine, nullptr, 1));
  EXPECT_TRUE(cvEngine_EndFrame(s.Engine));
  EXPECT_EQ(s.Engine->NumStrings, 0);
}

TEST(EngineStatistics, LinesAreQueuedForTheNextFrame) {
  SoftEngine s(320, 240);
  ASSERT_NE(s.Engine, nullptr);
  cvWorld* world = cvWorld_Create(nullptr);
  ASSERT_TRUE(cvEngine_AddWorld(s.Engine, world));
  ASSERT_TRUE(cvEngine_BeginFrame(s.Engine, nullptr, 1));
  cvDriver_Vertex tri[3] = {{10, 10, 1, 0, 0, 255, 0, 0, 255},
                            {50, 10, 1, 0, 0, 255, 0, 0, 255},
                            {10, 50, 1, 0, 0, 255, 0, 0, 255}};
  ASSERT_TRUE(s.Driver()->RenderGouraudPoly(tri, 3, 0));
  ASSERT_TRUE(cvEngine_EndFrame(s.Engine));
  ASSERT_EQ(s.Engine->NumStrings, 9);  // eight lines (no cache line) and the two world lines
  EXPECT_EQ(std::string(s.Engine->Strings[0].Text).rfind("Fps    : ", 0), 0u);
  EXPECT_EQ(s.Engine->Strings[0].Y, 2);
  EXPECT_STREQ(s.Engine->Strings[1].Text, "Polys  :    0/   0/   1");
  EXPECT_EQ(s.Engine->Strings[1].Y, 17);
  EXPECT_EQ(std::string(s.Engine->Strings[7].Text).rfind("Nodes: ", 0), 0u);
  EXPECT_EQ(std::string(s.Engine->Strings[8].Text).rfind("Cast: ", 0), 0u);
  EXPECT_EQ(s.Engine->Strings[8].Y, 137);
  // They are drawn (and the queue refilled) by the next frame.
  ASSERT_TRUE(cvEngine_BeginFrame(s.Engine, nullptr, 1));
  ASSERT_TRUE(cvEngine_EndFrame(s.Engine));
  int lit = 0;
  for (int y = 2; y < 16; ++y)
    for (int x = 2; x < 2 + 8 * 3; ++x) lit += s.Pixel(x, y) != 0;
  EXPECT_GT(lit, 10);  // "Fps" shows at the top left
  cvEngine_RemoveWorld(s.Engine, world);
  cvWorld_Free(world);
}

TEST(EngineGamma, ClampedAndSmallChangesIgnored) {
  SoftEngine s(32, 32);
  ASSERT_NE(s.Engine, nullptr);
  float g = 0;
  EXPECT_TRUE(cvEngine_SetGamma(s.Engine, 0.001f));
  EXPECT_TRUE(cvEngine_GetGamma(s.Engine, &g));
  EXPECT_FLOAT_EQ(g, 0.01f);
  EXPECT_TRUE(cvEngine_SetGamma(s.Engine, 1.5f));
  EXPECT_TRUE(cvEngine_SetGamma(s.Engine, 1.505f));
  EXPECT_TRUE(cvEngine_GetGamma(s.Engine, &g));
  EXPECT_FLOAT_EQ(g, 1.5f);
  EXPECT_FLOAT_EQ(s.Engine->BitmapGamma, 1.5f);  // SoftRnd leaves gamma to the bitmaps
}

TEST(EngineCreate, FailedAllocationsFailCleanly) {
  cvplatform::HeadlessWindow window(32, 32);
  cvtest::WalkAllocationFailures(
      59, [&] { return cvEngine_Create(window.Record(), "t", BinDir().c_str(), CV_ENGINE_VERSION); },
      [](int n, cvEngine* e) {
        if (e)
          cvEngine_Destroy(e);  // a failure the engine could live with (none expected)
        else
          EXPECT_FALSE(cvtest::LoggedCodes().empty()) << "allocation " << n;
      },
      [](cvEngine* e) {
        ASSERT_NE(e, nullptr);
        cvEngine_Destroy(e);
      });
}

TEST(EngineFrames, DriverSceneRefusalsLogTheirCodes) {
  SoftEngine s(32, 32);
  ASSERT_NE(s.Engine, nullptr);
  cvEngine_EnableFrameRateCounter(s.Engine, 0);
  ASSERT_TRUE(cvEngine_BeginFrame(s.Engine, nullptr, 1));
  // The driver refuses a second scene while one is open: code 7.
  EXPECT_FALSE(cvEngine_BeginFrame(s.Engine, nullptr, 1));
  EXPECT_LOGGED(7);
  ASSERT_TRUE(cvEngine_EndFrame(s.Engine));
  // ... and ending a scene that is not open: code 8.
  EXPECT_FALSE(cvEngine_EndFrame(s.Engine));
  EXPECT_LOGGED(8);
  // Drawing a bitmap that has no driver texture fails with -1.
  EXPECT_FALSE(cvEngine_DrawBitmap(s.Engine, nullptr, nullptr, 0, 0));
  EXPECT_LOGGED(-1);
  // After a shutdown, frames report that no driver is loaded.
  ASSERT_TRUE(cvEngine_ShutdownDriver(s.Engine));
  EXPECT_FALSE(cvEngine_BeginFrame(s.Engine, nullptr, 1));
  EXPECT_LOGGED(5);
  EXPECT_TRUE(cvEngine_UpdateWindow(s.Engine));  // nothing to forward to
  EXPECT_TRUE(cvEngine_Activate(s.Engine, 1));
}

TEST(EngineFrames, FailedAllocationsWhileAttachingFailTheFrameAndRecover) {
  for (int n = 1; n < 40; ++n) {
    SoftEngine s(32, 32);
    ASSERT_NE(s.Engine, nullptr);
    cvEngine_EnableFrameRateCounter(s.Engine, 0);
    cvErrorLog_Clear();
    bool ok, fired;
    {
      cvtest::FailNthAllocation fail(n);
      ok = cvEngine_BeginFrame(s.Engine, nullptr, 1);
      fired = fail.Fired();
    }
    if (!fired) {
      EXPECT_TRUE(ok);
      break;
    }
    if (!ok) {
      EXPECT_FALSE(cvtest::LoggedCodes().empty()) << "allocation " << n;
      EXPECT_TRUE(s.Engine->DriverChanged);  // the next frame attaches again
    } else {
      cvEngine_EndFrame(s.Engine);
    }
    // The next frame attaches everything and draws text.
    ASSERT_TRUE(cvEngine_BeginFrame(s.Engine, nullptr, 1)) << "allocation " << n;
    ASSERT_TRUE(cvEngine_PutString(s.Engine, 0, 0, "ok"));
    ASSERT_TRUE(cvEngine_EndFrame(s.Engine)) << "allocation " << n;
  }
}

TEST(EngineCreate, RelativeDriverDirectoryIsTheProgramsDirectory) {
  // The tests run from their build folder, not from the bin folder that
  // holds both this program and the driver modules.
  cvplatform::HeadlessWindow window(32, 32);
  cvEngine* e = cvEngine_Create(window.Record(), "t", ".", CV_ENGINE_VERSION);
  ASSERT_NE(e, nullptr);
  if (fs::equivalent(fs::path(BinDir()), fs::read_symlink("/proc/self/exe").parent_path())) {
    EXPECT_NE(FindDriver(e, "SoftRnd.so"), nullptr);
  }
  cvEngine_Destroy(e);
}
