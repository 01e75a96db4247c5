// PictureBuffer: the in-memory picture every part of the player works on.
//
// Pixel format (everywhere in the player, the NDI frames included): 32 bits a
// pixel, bytes blue, green, red, alpha in memory (a little-endian 0xAARRGGBB
// value), straight alpha with 255 opaque, rows top-down, each row exactly
// width x 4 bytes.
//
// A picture keeps the bitmap it came from (`decodedImage` for a file,
// `resourceBitmap` for a built-in bitmap) so that every rescale starts again
// from the source and never from the already scaled pixels. Per-pixel
// adjustments (SetAlpha, ApplyRangeTable) work on the pixel buffer only, so
// the next load or rescale undoes them; callers re-apply them.
//
// Nothing here throws or shows anything. Operations that can fail return
// false and leave the state their own comment describes; allocation failure
// is an ordinary failure. Single-threaded: a picture belongs to the thread
// that uses it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "scale_rules.h"
#include "source_bitmap.h"

namespace plombix {

struct PreparedPicture;

// Placement modes of PlaceInto. Any value other than PlaceCopy blends.
enum PlaceMode : int {
  PlaceBlend = 1,
  PlaceCopy = 2,
};

// Layouts of GradientFill (see gradient.h for the arithmetic).
enum class GradientLayout {
  Full,              // c1 top-left, c2 top-right, c3 bottom-left, c4 bottom-right
  MirroredHalves,    // top half c1/c2 -> c3/c4, bottom half its mirror image
  MirroredQuarters,  // c1 outer corner of each quarter, c4 the frame's centre
};

// The last component of `path` (all of it when it has no '/'): the name a
// picture shows under.
[[nodiscard]] std::string FileNameOf(const std::string& path);

class PictureBuffer {
 public:
  // Size of the pixel buffer every picture starts with (1920 x 1080 x 4);
  // `byteCount` stays 0 until something fills it.
  static constexpr int kInitialBufferBytes = 1920 * 1080 * 4;

  PictureBuffer();
  ~PictureBuffer();
  PictureBuffer(const PictureBuffer&) = delete;
  PictureBuffer& operator=(const PictureBuffer&) = delete;

  // --- Fields, in the order the picture declares them -----------------------
  int sourceWidth = 0;         // size of the image as decoded, or of the
  int sourceHeight = 0;        //   bitmap last resampled
  int sourceBitsPerPixel = 0;  // depth of the decoded file (1, 4, 8, 16, 24,
                               //   32); 32 = carries its own alpha. LoadFile only.
  int width = 0;               // size of the pixel buffer's picture
  int height = 0;
  int byteCount = 0;           // bytes of pixel data; 0 = no usable pixels
  int bitsPerPixel = 0;        // 32 for every usable picture
  std::string fileName;        // last path component of the last LoadFile path
  std::string filePath;        // the whole path of the last LoadFile
  std::shared_ptr<const SourceBitmap> decodedImage;    // last file decoded
  std::shared_ptr<const SourceBitmap> resourceBitmap;  // last built-in bitmap
  std::array<uint8_t, 256> rangeTable{};  // 16-235 -> 0-255 expansion
  int resourceId = 0;          // id of the last built-in bitmap; 0 = none
  std::unique_ptr<uint8_t[]> pixelData;  // `byteCount` bytes when usable
  int state = 0;               // 1 = holds pixels that may be copied
  int marginLeft = 0;          // columns kept free when wider than the frame
  int marginRight = 0;
  int marginTop = 0;           // rows kept free when taller than the frame
  int marginBottom = 0;
  // A picture held in part (AdoptPrepared keeps only what a frame can
  // show): when placeWidth > 0 the pixel buffer holds columns [windowLeft,
  // windowLeft + width) and rows [windowTop, windowTop + height) of a
  // placeWidth x placeHeight picture, and placement centres and cuts by
  // that whole size. 0: the pixel buffer is the whole picture. Every load,
  // rescale and Empty sets them to 0; CopyFrom copies them.
  int placeWidth = 0;
  int placeHeight = 0;
  int windowLeft = 0;
  int windowTop = 0;

  // --- Loading --------------------------------------------------------------

  // Decodes an image file (JPEG, PNG and any format Qt's image readers
  // know; EXIF orientation applied). `fileName`/`filePath` name `path` even
  // when the load fails. Formats with an alpha channel come out at 32 bits
  // with straight alpha; all others report their own depth and arrive with
  // a fourth byte of 0, which callers make opaque by looking at
  // `sourceBitsPerPixel` (depth rules in decoder.h). Only regular files are
  // read; a damaged or cut-short file, one that changes while it is read,
  // and one whose decode would exceed the decode budget (decode_budget.h)
  // fail. On failure to open or decode, pixels, sizes and `decodedImage`
  // are unchanged; a failure after decoding (the pixel buffer cannot be
  // allocated) keeps the new `decodedImage` and source sizes and leaves
  // width, height, byteCount and bitsPerPixel at 0, `state` as it was.
  [[nodiscard]] bool LoadFile(const std::string& path);

  // The first half of LoadFile: names, decode, `decodedImage` and the source
  // sizes, leaving the pixel buffer as it was. FillFromDecoded is the second
  // half (pixels copied out, sizes, state 1).
  [[nodiscard]] bool DecodeFile(const std::string& path);
  [[nodiscard]] bool FillFromDecoded();

  // Takes over a picture prepared off the window's thread (prepare.h): its
  // names, source sizes, pixels and the window they are of; state 1. The
  // decoded original is not kept (`decodedImage` is released). A failed
  // preparation changes only the names, as a failed LoadFile does. Margins
  // are kept.
  [[nodiscard]] bool AdoptPrepared(PreparedPicture&& prepared);

  // Loads built-in bitmap `id` (131-134, 140, 144, 145, 147, 148, 190, 191,
  // 195, 196) as 32-bit pixels. A bitmap stored with 24 bits arrives with a
  // fourth byte of 0; one stored with alpha keeps it. Unknown id: fails and
  // nothing changes. `sourceBitsPerPixel` is not touched.
  [[nodiscard]] bool LoadResourceBitmap(int id);

  // Makes this picture a copy of `source`'s pixels and of the window they
  // are of (not its file names, kept bitmaps, margins or source sizes).
  // Reuses the buffer when the byte counts match. Fails without change when
  // `source.state` != 1; fails with the sizes at 0 when the buffer cannot be
  // allocated. A copy onto itself succeeds and changes nothing.
  [[nodiscard]] bool CopyFrom(const PictureBuffer& source);

  // Sets the alpha byte of every pixel; nothing without pixels.
  void SetAlpha(uint8_t alpha);

  // Maps every byte of every pixel (alpha too) through `rangeTable`.
  void ApplyRangeTable();

  // Empties the picture: sizes (source sizes too) and state 0, the decoded
  // image released, pixel buffer replaced by a 64-byte one. Used by the
  // slideshow check after probing files, so that a probed file does not
  // stay in memory.
  void Empty();

  // --- Resampling and placement ---------------------------------------------

  // Resamples `source` to targetWidth x targetHeight into the pixel buffer:
  // area-averaging where it shrinks, smooth interpolation where it enlarges.
  // A 32-bit source has its colour and its alpha plane resampled separately
  // (colour is never weighted by alpha); any other depth ends opaque.
  // `sourceWidth`/`sourceHeight` take the source's size first, always.
  // `state` is not changed. Fails with the pixel buffer unchanged for a
  // target of 0 or less in either dimension, one above 2^31 - 1 bytes, or
  // when the filter tables cannot be allocated; fails with width, height,
  // byteCount and bitsPerPixel at 0 when the new pixel buffer cannot be.
  [[nodiscard]] bool ScaleFrom(int targetWidth, int targetHeight, const SourceBitmap& source);

  // ScaleFrom with `decodedImage`; fails when there is none.
  [[nodiscard]] bool ScaleTo(int targetWidth, int targetHeight);

  // Puts this picture into `frame` (frameWidth x frameHeight pixels, rows of
  // frameWidth x 4 bytes): centred, cut where larger (keeping the margins
  // free in a cut dimension), copied (PlaceCopy) or blended by alpha
  // (anything else). A picture held in part is placed by its whole size
  // and only the part it holds is drawn. Does nothing unless byteCount !=
  // 0, bitsPerPixel == 32 and state == 1. See place.h for the arithmetic.
  void PlaceInto(int mode, uint8_t* frame, int frameWidth, int frameHeight) const;

  // Fills the colour bytes of the whole pixel buffer (width x height) with a
  // gradient between the corner colours (0xAARRGGBB; the top byte is not
  // read). The fourth byte of every pixel stays as it was.
  void GradientFill(GradientLayout layout, uint32_t c1, uint32_t c2, uint32_t c3, uint32_t c4);

  // True when the picture holds usable 32-bit pixels.
  bool usable() const { return state == 1 && byteCount > 0 && bitsPerPixel == 32 && pixelData; }
};

}  // namespace plombix
