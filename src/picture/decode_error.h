// Why a picture file could not be decoded, shared by every decoder.
#pragma once

namespace plombix {

enum class DecodeError {
  None,
  CannotOpen,     // unreadable, a directory or not a regular file
  NotAnImage,     // empty, or no image reader recognises the content
  BadSize,        // a side of 0 or less, or above the side cap (decode_budget.h)
  Corrupt,        // recognised but damaged or cut short (any decoder error or warning)
  BadPalette,     // a palette image with no entries or more than 256
  OutOfMemory,    // the pixels could not be allocated
  UnknownBitmap,  // no built-in bitmap has that id
  NotFound,       // no file at that path
  TooLarge,       // decoding would exceed the decode budget (decode_budget.h)
  Changed,        // the file changed while it was being read
  Cancelled,      // a newer request made this one pointless
};

// A few words for the operator: why a file could not be shown.
[[nodiscard]] const char* DecodeErrorText(DecodeError error);

}  // namespace plombix
