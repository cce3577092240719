// glscene: the sample-actor scene of the software driver's scene benchmark
// (640 x 480, the walk motion, three dynamic lights), drawn through OpenGL ES
// on whatever EGL gives without a window (Mesa's llvmpipe on a machine
// without a GPU), to compare the software driver with a mature rasteriser.
//
// Every frame poses the actor and runs the puppet exactly as the engine does
// (posing, lighting, clipping, projection); the polygons it hands to the
// driver are caught by a recording operation table instead of SoftRnd and
// drawn with one vertex buffer, one draw call per texture and flag set. Screen
// vertices carry the depth in front of the camera, which becomes the clip
// space w, so textures are interpolated perspective-correctly as SoftRnd does.
// Each frame ends with glFinish and a glReadPixels of the whole frame, the
// counterpart of the software driver presenting its frame.
//
//   glscene [--seconds S] [--check PREFIX]
//
// Prints "fps N", then the renderer's name and the polygon count of a frame.
// --check also writes the first frame as PREFIX-gl.ppm and the same frame
// drawn by SoftRnd as PREFIX-softrnd.ppm, to compare by eye.
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GLES3/gl3.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "cvengine.h"
#include "platform/window.h"

namespace {

constexpr int32_t kWidth = 640, kHeight = 480;

std::string ProgramDir() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) return ".";
  std::string s(path, (size_t)n);
  return s.substr(0, s.find_last_of('/'));
}

[[noreturn]] void Fail(const char* What) {
  std::fprintf(stderr, "glscene: %s\n", What);
  std::exit(1);
}

// ---------------------------------------------------------------------------
// The polygons of one frame, grouped by texture and flags
// ---------------------------------------------------------------------------

struct Batch {
  std::vector<cvDriver_Vertex> Triangles;  // three vertices each
};
using BatchKey = std::pair<void*, uint32_t>;  // driver texture (null: Gouraud), flags
std::map<BatchKey, Batch> gBatches;
int64_t gPolygons = 0;

void AddPolygon(const cvDriver_Vertex* Vertices, int32_t Count, void* Texture, uint32_t Flags) {
  std::vector<cvDriver_Vertex>& out = gBatches[{Texture, Flags}].Triangles;
  for (int32_t i = 1; i + 1 < Count; ++i) {
    out.push_back(Vertices[0]);
    out.push_back(Vertices[i]);
    out.push_back(Vertices[i + 1]);
  }
  ++gPolygons;
}
int RecordGouraud(const cvDriver_Vertex* V, int32_t Count, uint32_t Flags) {
  AddPolygon(V, Count, nullptr, Flags);
  return 1;
}
int RecordTextured(const cvDriver_Vertex* V, int32_t Count, void* Texture, uint32_t Flags) {
  AddPolygon(V, Count, Texture, Flags);
  return 1;
}

// ---------------------------------------------------------------------------
// The scene (as the scene benchmark builds it)
// ---------------------------------------------------------------------------

struct Scene {
  cvplatform::HeadlessWindow Window{kWidth, kHeight};
  cvEngine* Engine = nullptr;
  cvWorld* World = nullptr;
  cvCamera* Camera = nullptr;
  cvActorDef* Def = nullptr;
  cvActor* Actor = nullptr;
  cvMotion* Walk = nullptr;

  Scene() {
    const std::string dir = ProgramDir();
    Engine = cvEngine_Create(Window.Record(), "glscene", dir.c_str(), CV_ENGINE_VERSION);
    if (!Engine) Fail("the engine would not start");
    cvEngine_EnableFrameRateCounter(Engine, 0);
    bool opened = false;
    for (cvDriver_Record* d = cvDriver_GetNextDriver(Engine, nullptr); d && !opened;
         d = cvDriver_GetNextDriver(Engine, d))
      for (cvDriver_Mode* m = cvDriver_GetNextMode(d, nullptr); m && !opened; m = cvDriver_GetNextMode(d, m))
        if (m->Width == -1) opened = cvEngine_SetDriverAndMode(Engine, d, m);
    if (!opened) Fail("no render driver module beside the program");
    cvVFile* file = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_DOS, (dir + "/sample.act").c_str(), nullptr,
                                          CV_VFILE_OPEN_READONLY);
    if (!file) Fail("sample.act is not beside the program");
    Def = cvActorDef_CreateFromFile(file);
    cvVFile_Close(file);
    if (!Def || !(Actor = cvActor_Create(Def))) Fail("sample.act could not be read");
    Walk = cvActorDef_GetMotionByName(Def, "walk");
    World = cvWorld_Create(nullptr);
    if (!World || !cvEngine_AddWorld(Engine, World) || !cvWorld_AddActor(World, Actor, 11, ~0u))
      Fail("the world could not be made");
    for (int i = 0; i < 3; ++i) {
      cvWorld_Light* light = cvWorld_AddLight(World);
      const cvVec3d p = {-40.0f + 40.0f * (float)i, 60, -40};
      const cvWorld_Rgba c = {255, 200, 160, 255};
      cvWorld_SetLightAttributes(World, light, &p, &c, 200, 0);
    }
    const cvRect r = {0, kWidth - 1, 0, kHeight - 1};
    Camera = cvCamera_Create(&r, 2.0f);
    cvXForm3d m;
    cvXForm3d_SetYRotation(&m, 3.14159265f);
    m.T = {0, 37, -65};
    cvCamera_SetWorldSpaceXForm(Camera, &m);
    if (Walk) cvActor_SetPose(Actor, Walk, 0, nullptr);
    // One frame through the software driver attaches the materials' bitmaps,
    // which gives each its driver texture handle.
    if (!cvEngine_BeginFrame(Engine, Camera, 1) || !cvEngine_RenderWorld(Engine, World, Camera, 0) ||
        !cvEngine_EndFrame(Engine))
      Fail("the first frame failed");
  }
};

// ---------------------------------------------------------------------------
// OpenGL ES through EGL without a surface
// ---------------------------------------------------------------------------

void StartGL() {
  auto getPlatformDisplay = (PFNEGLGETPLATFORMDISPLAYEXTPROC)eglGetProcAddress("eglGetPlatformDisplayEXT");
  EGLDisplay display = getPlatformDisplay
                           ? getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr)
                           : EGL_NO_DISPLAY;
  if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr))
    Fail("no surfaceless EGL display");
  const EGLint configAttributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_ES3_BIT,
                                     EGL_NONE};
  EGLConfig config = nullptr;
  EGLint configs = 0;
  eglChooseConfig(display, configAttributes, &config, 1, &configs);
  if (!eglBindAPI(EGL_OPENGL_ES_API)) Fail("no OpenGL ES");
  const EGLint contextAttributes[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_NONE};
  EGLContext context = eglCreateContext(display, configs ? config : EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT,
                                        contextAttributes);
  if (context == EGL_NO_CONTEXT || !eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context))
    Fail("no OpenGL ES 3 context");

  GLuint buffers[2], framebuffer = 0;
  glGenRenderbuffers(2, buffers);
  glBindRenderbuffer(GL_RENDERBUFFER, buffers[0]);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, kWidth, kHeight);
  glBindRenderbuffer(GL_RENDERBUFFER, buffers[1]);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, kWidth, kHeight);
  glGenFramebuffers(1, &framebuffer);
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, buffers[0]);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, buffers[1]);
  if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) Fail("no frame buffer");
  glViewport(0, 0, kWidth, kHeight);
}

GLuint Compile(GLenum Kind, const char* Source) {
  GLuint shader = glCreateShader(Kind);
  glShaderSource(shader, 1, &Source, nullptr);
  glCompileShader(shader);
  GLint ok = 0;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    char log[1024];
    glGetShaderInfoLog(shader, sizeof log, nullptr, log);
    std::fprintf(stderr, "%s\n", log);
    Fail("a shader did not compile");
  }
  return shader;
}

// Screen pixels and depth Z go to clip space with w = Z; depth is the usual
// perspective mapping of [Near, Far], so the z-test orders as SoftRnd's.
const char* kVertexShader = R"(#version 300 es
layout(location = 0) in vec3 position;
layout(location = 1) in vec2 uv;
layout(location = 2) in vec4 colour;
uniform vec2 size;
out vec2 vUv;
out vec4 vColour;
const float Near = 0.01, Far = 100000.0;
void main() {
  float z = position.z;
  vec2 ndc = vec2(position.x / size.x * 2.0 - 1.0, 1.0 - position.y / size.y * 2.0);
  gl_Position = vec4(ndc * z, (Far + Near) / (Far - Near) * z - 2.0 * Far * Near / (Far - Near), z);
  vUv = uv;
  vColour = colour / 255.0;
})";
const char* kTexturedShader = R"(#version 300 es
precision mediump float;
in vec2 vUv;
in vec4 vColour;
uniform sampler2D image;
uniform bool keyed;
out vec4 colour;
void main() {
  vec4 texel = texture(image, vUv);
  if (keyed && texel.a == 0.0) discard;
  colour = texel * vColour;
})";
const char* kGouraudShader = R"(#version 300 es
precision mediump float;
in vec2 vUv;
in vec4 vColour;
out vec4 colour;
void main() { colour = vColour; })";

struct Programs {
  GLuint Textured = 0, Gouraud = 0;
  GLint Keyed = -1;
};

GLuint Link(const char* Fragment) {
  GLuint program = glCreateProgram();
  glAttachShader(program, Compile(GL_VERTEX_SHADER, kVertexShader));
  glAttachShader(program, Compile(GL_FRAGMENT_SHADER, Fragment));
  glLinkProgram(program);
  GLint ok = 0;
  glGetProgramiv(program, GL_LINK_STATUS, &ok);
  if (!ok) Fail("a shader program did not link");
  glUseProgram(program);
  glUniform2f(glGetUniformLocation(program, "size"), (float)kWidth, (float)kHeight);
  return program;
}

// Each material bitmap becomes a GL texture of its level 0 in 8-bit RGBA,
// sampled nearest with repeat as SoftRnd samples it. Keyed texels get alpha 0.
std::map<void*, GLuint> UploadTextures(const cvActorDef* Def) {
  std::map<void*, GLuint> textures;
  const cvBody* body = cvActorDef_GetBody(Def);
  for (int32_t i = 0; i < body->MaterialCount; ++i) {
    cvBitmap* bitmap = body->Materials[i].Bitmap;
    void* handle = bitmap ? cvBitmap_GetDriverHandle(bitmap) : nullptr;
    if (!handle || textures.count(handle)) continue;
    cvBitmap_Info info{};
    cvBitmap_GetInfo(bitmap, &info, nullptr);
    cvBitmap* argb = cvBitmap_Create(info.Width, info.Height, 1, CV_PIXELFORMAT_32BIT_ARGB);
    if (!argb || !cvBitmap_AllocateMip(argb, 0) ||
        !cvBitmap_BlitBitmap(bitmap, 0, 0, 0, argb, 0, 0, 0, -1, -1))
      Fail("a material bitmap could not be converted");
    const cvPixelFormat_Operations* ops = cvPixelFormat_GetOperations(CV_PIXELFORMAT_32BIT_ARGB);
    const uint8_t* p = cvBitmap_GetMipData(argb, 0);
    std::vector<uint8_t> rgba((size_t)info.Width * info.Height * 4);
    for (size_t t = 0; t < (size_t)info.Width * info.Height; ++t) {
      int32_t r, g, b, a;
      ops->GetColor(&p, &r, &g, &b, &a);
      rgba[t * 4] = (uint8_t)r, rgba[t * 4 + 1] = (uint8_t)g, rgba[t * 4 + 2] = (uint8_t)b;
      rgba[t * 4 + 3] = (uint8_t)a;
    }
    cvBitmap_Destroy(&argb);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, info.Width, info.Height, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    textures[handle] = texture;
  }
  return textures;
}

void DrawBatches(const Programs& P, const std::map<void*, GLuint>& Textures) {
  glClearColor(0, 0, 0, 1);
  glClearDepthf(1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  size_t total = 0;
  for (const auto& [key, batch] : gBatches) total += batch.Triangles.size();
  glBufferData(GL_ARRAY_BUFFER, (GLsizeiptr)(total * sizeof(cvDriver_Vertex)), nullptr, GL_STREAM_DRAW);
  size_t first = 0;
  for (const auto& [key, batch] : gBatches) {
    const auto& [texture, flags] = key;
    const size_t count = batch.Triangles.size();
    if (count == 0) continue;
    glBufferSubData(GL_ARRAY_BUFFER, (GLintptr)(first * sizeof(cvDriver_Vertex)),
                    (GLsizeiptr)(count * sizeof(cvDriver_Vertex)), batch.Triangles.data());
    const auto found = Textures.find(texture);
    if (texture && found != Textures.end()) {
      glUseProgram(P.Textured);
      glBindTexture(GL_TEXTURE_2D, found->second);
      glUniform1i(P.Keyed, (flags & CV_DRIVER_POLY_COLORKEY) != 0);
    } else {
      glUseProgram(P.Gouraud);
    }
    if (flags & (CV_DRIVER_POLY_BLEND | CV_DRIVER_POLY_ADDITIVE)) {
      glEnable(GL_BLEND);
      glBlendFunc(GL_SRC_ALPHA, (flags & CV_DRIVER_POLY_ADDITIVE) ? GL_ONE : GL_ONE_MINUS_SRC_ALPHA);
    } else {
      glDisable(GL_BLEND);
    }
    if (flags & CV_DRIVER_POLY_NOZTEST) glDisable(GL_DEPTH_TEST);
    else glEnable(GL_DEPTH_TEST);
    glDepthMask((flags & CV_DRIVER_POLY_NOZWRITE) ? GL_FALSE : GL_TRUE);
    glDrawArrays(GL_TRIANGLES, (GLint)first, (GLsizei)count);
    first += count;
  }
}

// Writes the GL frame (RGBA rows bottom-up) and SoftRnd's (0x00RRGGBB rows
// top-down) as PPM images.
void WriteChecks(const std::string& Prefix, const std::vector<uint8_t>& Rgba, const Scene& S) {
  FILE* gl = std::fopen((Prefix + "-gl.ppm").c_str(), "wb");
  FILE* soft = std::fopen((Prefix + "-softrnd.ppm").c_str(), "wb");
  const std::vector<uint32_t>& frame = S.Window.Frame();
  if (!gl || !soft || frame.size() != (size_t)kWidth * kHeight) Fail("the check images could not be written");
  std::fprintf(gl, "P6\n%d %d\n255\n", (int)kWidth, (int)kHeight);
  std::fprintf(soft, "P6\n%d %d\n255\n", (int)kWidth, (int)kHeight);
  for (int32_t y = 0; y < kHeight; ++y)
    for (int32_t x = 0; x < kWidth; ++x) {
      std::fwrite(&Rgba[((size_t)(kHeight - 1 - y) * kWidth + x) * 4], 1, 3, gl);
      const uint32_t c = frame[(size_t)y * kWidth + x];
      const uint8_t rgb[3] = {(uint8_t)(c >> 16), (uint8_t)(c >> 8), (uint8_t)c};
      std::fwrite(rgb, 1, 3, soft);
    }
  std::fclose(gl);
  std::fclose(soft);
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 5;
  const char* check = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc) seconds = std::atof(argv[++i]);
    else if (!std::strcmp(argv[i], "--check") && i + 1 < argc) check = argv[++i];
    else {
      std::fprintf(stderr, "usage: glscene [--seconds S] [--check PREFIX]\n");
      return 2;
    }
  }
  Scene scene;
  StartGL();
  Programs programs;
  programs.Gouraud = Link(kGouraudShader);
  programs.Textured = Link(kTexturedShader);
  glUniform1i(glGetUniformLocation(programs.Textured, "image"), 0);
  programs.Keyed = glGetUniformLocation(programs.Textured, "keyed");
  const std::map<void*, GLuint> textures = UploadTextures(scene.Def);

  GLuint vertexArray = 0, vertexBuffer = 0;
  glGenVertexArrays(1, &vertexArray);
  glBindVertexArray(vertexArray);
  glGenBuffers(1, &vertexBuffer);
  glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer);
  const GLsizei stride = sizeof(cvDriver_Vertex);
  glEnableVertexAttribArray(0);
  glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, stride, (void*)offsetof(cvDriver_Vertex, X));
  glEnableVertexAttribArray(1);
  glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, stride, (void*)offsetof(cvDriver_Vertex, U));
  glEnableVertexAttribArray(2);
  glVertexAttribPointer(2, 4, GL_FLOAT, GL_FALSE, stride, (void*)offsetof(cvDriver_Vertex, R));

  // The puppet draws through this table from now on (as the scene
  // benchmark's puppet-only case does).
  static cvDriver_Table recorder{};
  recorder.RenderGouraudPoly = RecordGouraud;
  recorder.RenderTexturedPoly = RecordTextured;
  cvEngine engine{};
  engine.Driver = &recorder;
  engine.DriverLoaded = 1;

  std::vector<uint8_t> pixels((size_t)kWidth * kHeight * 4);
  float time = 0;
  int64_t frames = 0, polygonsPerFrame = 0;
  const auto start = std::chrono::steady_clock::now();
  double elapsed = 0;
  do {
    for (auto& [key, batch] : gBatches) batch.Triangles.clear();
    gPolygons = 0;
    if (scene.Walk) cvActor_SetPose(scene.Actor, scene.Walk, time, nullptr);
    if (!cvActor_Render(scene.Actor, &engine, scene.World, scene.Camera)) Fail("the puppet failed to render");
    DrawBatches(programs, textures);
    glFinish();
    glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    if (frames == 0 && check) WriteChecks(check, pixels, scene);
    polygonsPerFrame = gPolygons;
    time += 1.0f / 30.0f;
    ++frames;
    elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  } while (elapsed < seconds);
  if (glGetError() != GL_NO_ERROR) Fail("OpenGL reported an error");
  std::printf("fps %.2f\n", (double)frames / elapsed);
  std::printf("renderer %s\n", (const char*)glGetString(GL_RENDERER));
  std::printf("polygons %lld\n", (long long)polygonsPerFrame);
  return 0;
}
