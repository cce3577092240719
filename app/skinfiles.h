// The files the skin editor reads and writes, with the care a desktop tool
// owes its user: every save goes to a temporary file beside the target and
// replaces the target only when the whole write succeeded, so a failed save
// never destroys the previous file; the exchange file lives in a private
// per-user folder and is replaced in one step, so an external editor never
// sees half a bitmap and no other user can plant a link in its place.
//
// Each operation returns false with a one-line reason (the engine's logged
// errors, or the system's text) for the window's message.
#pragma once

#include <functional>
#include <string>

struct cvActorDef;
struct cvBody;
struct cvBitmap;

namespace skinfiles {

// The engine's error-log entries, "error CODE: TEXT" joined by "; "; empty
// when the log is empty.
std::string EngineErrors();

// Calls Write with the name of a new temporary file in Path's directory and,
// when it returns true, renames that file over Path (a link is followed to
// the file it names). The new file keeps an existing file's permissions.
// On any failure the temporary file is removed and Path is untouched.
bool ReplaceFile(const std::string& Path, const std::function<bool(const char* TempPath)>& Write,
                 std::string* Reason);

// An actor file, a body file and an 8-bit skin bitmap, each written through ReplaceFile.
bool SaveActorFile(const cvActorDef* Def, const std::string& Path, std::string* Reason);
bool SaveBodyFile(cvBody* Body, const std::string& Path, std::string* Reason);
// With TrueColour a true-colour bitmap goes into a 24-bit BMP instead.
bool SaveSkinBitmap(cvBitmap* Bitmap, const std::string& Path, std::string* Reason,
                    bool TrueColour = false);
// A skin image of the type Path's extension names: PNG or TGA (true colour,
// with alpha where the bitmap has it), else BMP as SaveSkinBitmap writes it.
bool SaveSkinImage(cvBitmap* Bitmap, const std::string& Path, std::string* Reason,
                   bool TrueColour = false);

// Reads a Windows or engine bitmap file, or a PNG or TGA image, whatever its
// name says; a palettised bitmap from a BMP or engine file whose pixels use
// index 255 gets that index as its transparent colour key (PNG and TGA keep
// their own transparency). Null when the file holds no readable bitmap.
cvBitmap* ReadSkinBitmap(const std::string& Path, std::string* Reason);

// The private exchange folder "skinwork-UID" under $TMPDIR (else /tmp):
// created with mode 0700 when missing; an existing one must be a real
// folder owned by this user (a wider mode is narrowed to 0700). False, with
// the reason, when it cannot be made safe.
bool ExchangeDirectory(std::string* Directory, std::string* Reason);
// "skin.bmp" in that folder ("" when the folder cannot be made safe).
std::string ExchangeFile();

}  // namespace skinfiles
