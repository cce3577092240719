// Run-length encoded BMP pixels (8- and 4-bit indices).
//
// The stream is a sequence of byte pairs. A non-zero first byte is a run: that
// many pixels of the second byte's index (for 4-bit indices its high and low
// nibbles alternate). A zero first byte is an escape: 0 ends the line, 1 ends
// the bitmap, 2 moves right and down by the two bytes that follow, and 3..255
// is that many literal indices, padded to an even number of bytes.
//
// Encoders commonly code whole padded rows (a row of a 4-byte multiple of
// indices), so runs, literals and deltas may reach into the padding; what
// lands there is dropped. Anything beyond the padded row is refused.
//
// The stream's length is only known once its end-of-bitmap code has been
// read, so the decoder reads ahead in blocks and gives back what it did not
// use, leaving the file just after the bitmap like every other reader.
#include <algorithm>

#include "Bitmap/bitmapfile_internal.h"
#include "Bitmap/bmp_internal.h"
#include "Support/cvsupport.h"
#include "VFile/cvvfile.h"

namespace {

// Reads a file byte by byte through a block buffer, never past its end.
class ByteReader {
 public:
  explicit ByteReader(cvVFile* File) : file_(File) {}

  // False at the end of the file or on a read failure.
  bool Next(uint8_t* Byte) {
    if (pos_ == len_) {
      const uint64_t left = cvbmfile::Remaining(file_);
      if (left == 0) return false;
      const uint32_t n = (uint32_t)std::min<uint64_t>(left, sizeof(buffer_));
      if (!cvVFile_Read(file_, buffer_, n)) return false;
      pos_ = 0;
      len_ = n;
    }
    *Byte = buffer_[pos_++];
    return true;
  }

  // Steps the file back over the bytes read ahead but not used.
  bool GiveBack() {
    const uint32_t unused = len_ - pos_;
    pos_ = len_ = 0;
    return unused == 0 || cvVFile_Seek(file_, -(int32_t)unused, CV_VFILE_SEEKCUR);
  }

 private:
  cvVFile* file_;
  uint8_t buffer_[4096];
  uint32_t pos_ = 0;
  uint32_t len_ = 0;
};

}  // namespace

namespace cvbmp {

int DecodeRle(cvVFile* File, int32_t BitsPerIndex, const RowTarget& Target) {
  if (BitsPerIndex != 8 && BitsPerIndex != 4) return CV_ERROR(-1), 0;
  const bool nibbles = BitsPerIndex == 4;
  ByteReader in(File);
  // Indices a padded row holds: 4 bytes of indices at a time.
  const int32_t perWord = nibbles ? 8 : 4;
  const int32_t padded = (int32_t)(((int64_t)Target.Width + perWord - 1) / perWord * perWord);
  int32_t x = 0, y = 0;
  for (;;) {
    uint8_t count = 0, value = 0;
    if (!in.Next(&count)) {
      // A stream that stops after its last row without an end-of-bitmap
      // code is complete; one that stops anywhere else is cut short.
      if (y >= Target.Height) return 1;
      return CV_ERROR(-1), 0;
    }
    if (!in.Next(&value)) return CV_ERROR(-1), 0;

    if (count > 0) {
      if (y >= Target.Height || count > padded - x) return CV_ERROR(-1), 0;
      uint8_t* row = Target.Row(y);
      const int32_t shown = std::min<int32_t>(count, Target.Width - x);
      for (int32_t i = 0; i < shown; ++i)
        row[x + i] = nibbles ? (uint8_t)((i & 1) ? (value & 0x0F) : (value >> 4)) : value;
      x += count;
      continue;
    }

    switch (value) {
      case 0:  // end of line
        if (y >= Target.Height) return CV_ERROR(-1), 0;
        x = 0;
        ++y;
        break;
      case 1:  // end of bitmap
        if (!in.GiveBack()) return CV_ERROR(-1), 0;
        return 1;
      case 2: {  // delta: the pixels passed over keep index 0
        uint8_t dx = 0, dy = 0;
        if (!in.Next(&dx) || !in.Next(&dy)) return CV_ERROR(-1), 0;
        if (dx > padded - x || dy >= Target.Height - y) return CV_ERROR(-1), 0;
        x += dx;
        y += dy;
        break;
      }
      default: {  // literal indices
        const int32_t n = value;
        if (y >= Target.Height || n > padded - x) return CV_ERROR(-1), 0;
        uint8_t* row = Target.Row(y);
        const int32_t bytes = nibbles ? (n + 1) / 2 : n;
        uint8_t b = 0;
        for (int32_t i = 0; i < bytes; ++i) {
          if (!in.Next(&b)) return CV_ERROR(-1), 0;
          const int32_t at = x + (nibbles ? 2 * i : i);
          if (at < Target.Width) row[at] = nibbles ? (uint8_t)(b >> 4) : b;
          if (nibbles && 2 * i + 1 < n && at + 1 < Target.Width) row[at + 1] = (uint8_t)(b & 0x0F);
        }
        if ((bytes & 1) && !in.Next(&b)) return CV_ERROR(-1), 0;
        x += n;
        break;
      }
    }
  }
}

}  // namespace cvbmp
