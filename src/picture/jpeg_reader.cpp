// JPEG through libjpeg-turbo's libjpeg interface: the header, EXIF
// orientation, scaled decoding (1/2, 1/4, 1/8 by the scaled inverse DCT),
// rows straight into the caller's band buffer in the pixel format
// (JCS_EXT_BGRA writes blue, green, red, 255).
//
// libjpeg reports errors by calling error_exit, which must not return; it
// jumps back (longjmp) into Guarded below, whose frame and whose step hold
// no object with a destructor, so nothing is skipped that C++ would have
// destroyed.
//
// Warnings (emit_message at level -1) are sorted by what they say about
// the pixels:
//   - broken or missing coded data (a scan that ends before its last block
//     was decoded from real bytes, a bad Huffman or arithmetic code, a lost
//     restart marker, an inconsistent progression) jump back like errors:
//     such a picture is refused, never shown in part;
//   - the data running out (no end-of-image marker) is noted, and the
//     picture is accepted only when every block came from real data: a
//     single-scan file whose scan did not run short (that would have been
//     the warning above), or a progressive file whose scans brought every
//     coefficient to full precision. A file of several sequential scans or
//     of arithmetic coding that runs out is refused: nothing tells whether
//     its last scans arrived;
//   - stray bytes before a marker, an unknown JFIF revision or Adobe
//     transform, a bad ICC marker and odd scan parameters do not touch the
//     coded blocks and are ignored, as browsers and image tools do.
//
// The memory manager is capped at the decode budget (max_memory_to_use), so
// libjpeg itself refuses coefficient buffers beyond it; the cost of a
// multi-scan (progressive) file is also announced up front in
// ImageInfo::fixedBytes so that the caller refuses it before Start.
//
// CMYK and YCCK files arrive as CMYK and are converted as Qt's reader did
// (inverted, Adobe style): red = K x C / 255, green = K x M / 255, blue =
// K x Y / 255, truncating.
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include <jerror.h>
#include <jpeglib.h>

#include "decode_budget.h"
#include "image_reader.h"

namespace plombix {
namespace {

struct ErrorManager {
  jpeg_error_mgr pub;  // first: libjpeg hands back a pointer to it
  std::jmp_buf jump;
  bool dataEnded = false;  // the file ended before its end-of-image marker
};

[[noreturn]] void OnError(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

void OnMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;  // trace messages
  switch (cinfo->err->msg_code) {
    case JWRN_JPEG_EOF:  // libjpeg goes on as if an end-of-image marker came
      reinterpret_cast<ErrorManager*>(cinfo->err)->dataEnded = true;
      return;
    case JWRN_EXTRANEOUS_DATA:
    case JWRN_JFIF_MAJOR:
    case JWRN_ADOBE_XFORM:
    case JWRN_BOGUS_ICC:
    case JWRN_NOT_SEQUENTIAL:
      return;
    default:  // JWRN_HIT_MARKER, JWRN_HUFF_BAD_CODE, JWRN_MUST_RESYNC, ...
      OnError(cinfo);
  }
}

void OnOutput(j_common_ptr) {}  // nothing is printed

// Runs `step` (calls into libjpeg) with the jump point set; false when
// libjpeg reported an error or a warning.
template <typename Step>
bool Guarded(ErrorManager& errors, const Step& step) {
  if (setjmp(errors.jump) != 0) return false;
  step();
  return true;
}

constexpr int kExifHeaderBytes = 6;  // "Exif\0\0"

class JpegReader final : public ImageReader {
 public:
  JpegReader() = default;
  ~JpegReader() override {
    if (created_) jpeg_destroy_decompress(&cinfo_);
  }

  DecodeError Open(const uint8_t* data, size_t size);
  DecodeError Start(int denominator, bool shrunkAfter) override;
  DecodeError ReadRows(uint8_t* const* rows, int count) override;
  DecodeError Finish() override;

 private:
  DecodeError Failure() const;
  bool EveryBlockArrived() const;

  jpeg_decompress_struct cinfo_{};
  ErrorManager errors_{};
  bool created_ = false;
  bool cmyk_ = false;
  bool multipleScans_ = false;
  bool arithmetic_ = false;
};

DecodeError JpegReader::Failure() const {
  switch (errors_.pub.msg_code) {
    case JERR_NO_BACKING_STORE: return DecodeError::TooLarge;  // over max_memory_to_use
    case JERR_OUT_OF_MEMORY: return DecodeError::OutOfMemory;
    case JERR_IMAGE_TOO_BIG:
    case JERR_EMPTY_IMAGE: return DecodeError::BadSize;
    default: return DecodeError::Corrupt;
  }
}

// Whether every coded block came from the file's own bytes. Called once a
// file of several scans has been read whole (after jpeg_start_decompress),
// while its progression record (coef_bits) still exists; for one scan,
// after the last row, from what was noted on the way.
bool JpegReader::EveryBlockArrived() const {
  if (!errors_.dataEnded) return true;  // the end-of-image marker came
  if (arithmetic_) return false;
  if (!multipleScans_) return true;
  if (!cinfo_.progressive_mode || !cinfo_.coef_bits) return false;
  for (int c = 0; c < cinfo_.num_components; ++c)
    for (int k = 0; k < DCTSIZE2; ++k)
      if (cinfo_.coef_bits[c][k] != 0) return false;  // -1: never sent; > 0: not refined
  return true;
}

DecodeError JpegReader::Open(const uint8_t* data, size_t size) {
  cinfo_.err = jpeg_std_error(&errors_.pub);
  errors_.pub.error_exit = OnError;
  errors_.pub.emit_message = OnMessage;
  errors_.pub.output_message = OnOutput;
  created_ = true;  // jpeg_destroy_decompress copes with a half-made object
  if (!Guarded(errors_, [&] { jpeg_create_decompress(&cinfo_); })) return DecodeError::OutOfMemory;
  cinfo_.mem->max_memory_to_use = long(kDecodeBudgetBytes);

  int header = 0;
  const bool read = Guarded(errors_, [&] {
    jpeg_mem_src(&cinfo_, data, static_cast<unsigned long>(size));
    jpeg_save_markers(&cinfo_, JPEG_APP0 + 1, 0xFFFF);
    header = jpeg_read_header(&cinfo_, TRUE);
  });
  if (!read) return Failure();
  if (header != JPEG_HEADER_OK) return DecodeError::NotAnImage;  // tables only

  info_.width = int(cinfo_.image_width);
  info_.height = int(cinfo_.image_height);
  info_.scalable = true;
  info_.opaqueRows = true;  // JCS_EXT_BGRA writes 255; the CMYK conversion too
  switch (cinfo_.jpeg_color_space) {
    case JCS_GRAYSCALE: info_.bitsPerPixel = 8; break;
    case JCS_CMYK:
    case JCS_YCCK:
      cmyk_ = true;
      info_.bitsPerPixel = 32;
      break;
    default: info_.bitsPerPixel = 24; break;
  }
  multipleScans_ = jpeg_has_multiple_scans(&cinfo_);
  arithmetic_ = cinfo_.arith_code;
  if (multipleScans_) {
    // The decoder keeps every coefficient of the picture until the last
    // scan: 64 two-byte values a block, at full size whatever the scale.
    for (int c = 0; c < cinfo_.num_components; ++c) {
      const jpeg_component_info& component = cinfo_.comp_info[c];
      info_.fixedBytes += int64_t(component.width_in_blocks) * component.height_in_blocks *
                          DCTSIZE2 * int64_t(sizeof(JCOEF));
    }
  }
  for (jpeg_saved_marker_ptr m = cinfo_.marker_list; m; m = m->next) {
    if (m->marker != JPEG_APP0 + 1 || m->data_length < kExifHeaderBytes ||
        std::memcmp(m->data, "Exif\0\0", kExifHeaderBytes) != 0)
      continue;
    info_.orientation = ExifOrientation(m->data + kExifHeaderBytes, m->data_length - kExifHeaderBytes);
    break;
  }
  return DecodeError::None;
}

DecodeError JpegReader::Start(int denominator, bool shrunkAfter) {
  if (denominator != 1 && denominator != 2 && denominator != 4 && denominator != 8)
    return DecodeError::BadSize;
  cinfo_.scale_num = 1;
  cinfo_.scale_denom = unsigned(denominator);
  cinfo_.out_color_space = cmyk_ ? JCS_CMYK : JCS_EXT_BGRA;
  // Subsampled chroma repeated rather than interpolated (and merged with
  // the colour conversion): about a tenth of the decode's time, and gone
  // in the average of the shrink that follows.
  cinfo_.do_fancy_upsampling = shrunkAfter ? FALSE : TRUE;
  if (!Guarded(errors_, [&] { jpeg_start_decompress(&cinfo_); })) return Failure();
  if (cinfo_.output_components != 4) return DecodeError::Corrupt;
  // A file of several scans has been read whole by now.
  if (multipleScans_ && !EveryBlockArrived()) return DecodeError::Corrupt;
  width_ = int(cinfo_.output_width);
  height_ = int(cinfo_.output_height);
  return DecodeError::None;
}

DecodeError JpegReader::ReadRows(uint8_t* const* rows, int count) {
  int done = 0;
  while (done < count) {
    JDIMENSION got = 0;
    // JSAMPARRAY is not const-qualified; libjpeg only writes the rows.
    JSAMPARRAY at = const_cast<JSAMPARRAY>(rows + done);
    if (!Guarded(errors_, [&] { got = jpeg_read_scanlines(&cinfo_, at, JDIMENSION(count - done)); }))
      return Failure();
    if (got == 0) return DecodeError::Corrupt;  // cannot happen with a memory source
    if (cmyk_) {
      for (JDIMENSION r = 0; r < got; ++r) {
        uint8_t* p = rows[done + int(r)];
        for (int x = 0; x < width_; ++x, p += 4) {
          const unsigned c = p[0], m = p[1], y = p[2], k = p[3];
          p[0] = uint8_t(k * y / 255);
          p[1] = uint8_t(k * m / 255);
          p[2] = uint8_t(k * c / 255);
          p[3] = 255;
        }
      }
    }
    done += int(got);
  }
  return DecodeError::None;
}

DecodeError JpegReader::Finish() {
  // Reads on to the end-of-image marker; a missing one is forgiven only
  // when every block arrived.
  if (!Guarded(errors_, [&] { jpeg_finish_decompress(&cinfo_); })) return Failure();
  // No libjpeg call from here: the decompressor is back at its start.
  return multipleScans_ || EveryBlockArrived() ? DecodeError::None : DecodeError::Corrupt;
}

}  // namespace

DecodeError OpenJpegImage(const uint8_t* data, size_t size, std::unique_ptr<ImageReader>* reader) {
  auto jpeg = std::make_unique<JpegReader>();
  const DecodeError error = jpeg->Open(data, size);
  if (error != DecodeError::None) return error;
  *reader = std::move(jpeg);
  return DecodeError::None;
}

}  // namespace plombix
