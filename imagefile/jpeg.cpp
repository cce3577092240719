// JPEG through libjpeg: baseline and progressive, grey (8 bit gray), colour
// (24 bit BGR) and CMYK (converted to 24 bit BGR). A file cut short or with
// more damage than the odd bad block is refused rather than shown half grey,
// and progressive files with absurd numbers of scans are refused before they
// can keep the reader busy for minutes.
//
// libjpeg reports errors through a callback that must not return; ours
// longjmps back to Decode, which keeps nothing with a destructor alive
// across setjmp.
#include <cstdio>
// jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include "Support/cvsupport.h"
#include "imagefile_internal.h"

namespace cvimagefile {
namespace {

// Progressive scans accepted; ordinary encoders write about ten.
constexpr int kMaxScans = 1000;
// Recoverable damage reports accepted before the file counts as broken.
constexpr int kMaxWarnings = 100;

struct JpegRead {
  jpeg_error_mgr Error;  // first: libjpeg hands us a pointer to it
  jmp_buf Jump;
  char Text[JMSG_LENGTH_MAX] = "";
  int Warnings = 0;
  jpeg_progress_mgr Progress;
  cvBitmap* Bitmap = nullptr;  // destroyed by the caller on failure
  uint8_t* Cmyk = nullptr;     // one CMYK row, freed by the caller
  Reason* Why = nullptr;
};

[[noreturn]] void Stop(j_common_ptr Info, const char* Text) {
  auto* S = reinterpret_cast<JpegRead*>(Info->err);
  if (Text) std::snprintf(S->Text, sizeof S->Text, "%s", Text);
  else if (!S->Text[0]) Info->err->format_message(Info, S->Text);
  std::longjmp(S->Jump, 1);
}

void OnErrorExit(j_common_ptr Info) { Stop(Info, nullptr); }

void OnMessage(j_common_ptr Info, int Level) {
  if (Level >= 0) return;  // trace messages
  auto* S = reinterpret_cast<JpegRead*>(Info->err);
  if (Info->err->msg_code == JWRN_JPEG_EOF) Stop(Info, "the file ends before the image does");
  if (++S->Warnings > kMaxWarnings) Stop(Info, "the image data is damaged");
}

void OnProgress(j_common_ptr Info) {
  if (Info->is_decompressor && reinterpret_cast<j_decompress_ptr>(Info)->input_scan_number > kMaxScans)
    Stop(Info, "the file has too many progressive scans");
}

int Decode(JpegRead* S, jpeg_decompress_struct* J, const uint8_t* Data, size_t Size) {
  if (setjmp(S->Jump)) return 0;
  jpeg_create_decompress(J);
  // Progressive files keep every coefficient of the image in memory: bound
  // that by twice the largest bitmap (libjpeg refuses beyond it).
  J->mem->max_memory_to_use = 2 * (long)CV_SIZE_LIMIT;
  J->progress = &S->Progress;
  jpeg_mem_src(J, Data, (unsigned long)Size);
  jpeg_read_header(J, TRUE);
  const bool Cmyk = J->jpeg_color_space == JCS_CMYK || J->jpeg_color_space == JCS_YCCK;
  cvPixelFormat Format = CV_PIXELFORMAT_24BIT_BGR;
  if (J->num_components == 1) {
    J->out_color_space = JCS_GRAYSCALE;
    Format = CV_PIXELFORMAT_8BIT_GRAY;
  } else {
    J->out_color_space = Cmyk ? JCS_CMYK : JCS_EXT_BGR;
  }
  // The header's size is checked before libjpeg allocates its buffers.
  if (!SizeFits(J->image_width, J->image_height, 4, S->Why)) return 0;
  jpeg_start_decompress(J);
  const int32_t Width = (int32_t)J->output_width, Height = (int32_t)J->output_height;
  S->Bitmap = NewBitmap(Width, Height, Format, S->Why);
  if (!S->Bitmap) return 0;
  if (Cmyk && !(S->Cmyk = static_cast<uint8_t*>(std::malloc((size_t)Width * 4))))
    Stop(reinterpret_cast<j_common_ptr>(J), "out of memory");
  uint8_t* Pixels = cvBitmap_GetMipData(S->Bitmap, 0);
  const size_t Row = (size_t)Width * (size_t)cvPixelFormat_BytesPerPixel(Format);
  while (J->output_scanline < J->output_height) {
    uint8_t* Out = Pixels + Row * J->output_scanline;
    JSAMPROW Target = Cmyk ? S->Cmyk : Out;
    if (jpeg_read_scanlines(J, &Target, 1) != 1) Stop(reinterpret_cast<j_common_ptr>(J), "the image data is damaged");
    if (!Cmyk) continue;
    // Files with an Adobe marker store CMYK inverted (the usual case).
    const bool Inverted = J->saw_Adobe_marker;
    for (int32_t X = 0; X < Width; ++X) {
      const uint8_t* P = S->Cmyk + 4 * X;
      const int K = Inverted ? P[3] : 255 - P[3];
      for (int C = 0; C < 3; ++C) {
        const int Ink = Inverted ? P[C] : 255 - P[C];
        Out[3 * X + 2 - C] = (uint8_t)((Ink * K + 127) / 255);
      }
    }
  }
  jpeg_finish_decompress(J);
  return 1;
}

}  // namespace

cvBitmap* ReadJpeg(const uint8_t* Data, size_t Size, Reason* Why) {
  JpegRead S;
  jpeg_decompress_struct J;
  std::memset(&J, 0, sizeof J);
  J.err = jpeg_std_error(&S.Error);
  S.Error.error_exit = OnErrorExit;
  S.Error.emit_message = OnMessage;
  S.Progress.progress_monitor = OnProgress;
  S.Why = Why;
  const bool Ok = Decode(&S, &J, Data, Size);
  jpeg_destroy_decompress(&J);
  std::free(S.Cmyk);
  if (Ok) return S.Bitmap;
  if (S.Bitmap) cvBitmap_Destroy(&S.Bitmap);
  if (S.Text[0]) *Why = S.Text;
  return nullptr;
}

}  // namespace cvimagefile
