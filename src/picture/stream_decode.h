// Driving an ImageReader: decoding while resampling, on both cores where
// there are two, and decoding whole or only to check a file.
//
// Decoding while resampling: the reader fills a ring of source rows a band
// at a time; the resampler turns every window row whose source rows have
// all arrived into output, and releases the rows it no longer needs for
// the reader to overwrite. With two threads the reader runs on the calling
// thread and a helper resamples, the reader taking resampling work itself
// whenever it would otherwise wait; with one thread the reader does both.
// Memory: the ring (a few dozen rows to a few hundred), not the decoded
// picture. A reader that holds its whole picture is resampled from it
// directly, the rows split between the threads. The output is the same
// bytes however the work is split.
#pragma once

#include <cstdint>
#include <functional>

#include "decode_error.h"
#include "image_reader.h"
#include "resample.h"

namespace plombix {

// Processor cores this process may run on (at least 1).
int UsableCores();

// Decodes the rest of `reader` (started; its size is the resampler's
// source size) through `resampler` into `window` (the resampler's window,
// rows packed), then Finish. `threads`: 1 or 2 (more count as 2; never more
// than UsableCores()). `cancelled` (may be empty) is polled once a band;
// when it returns true the result is Cancelled. Errors: the reader's,
// OutOfMemory, Cancelled; `window` then holds no meaningful picture.
[[nodiscard]] DecodeError DecodeResampled(ImageReader& reader, const Resampler& resampler,
                                          uint8_t* window, int threads,
                                          const std::function<bool()>& cancelled);

// Decodes every row of `reader` (started) into `pixels` (width x height x
// 4 bytes, rows packed), then Finish.
[[nodiscard]] DecodeError DecodeWhole(ImageReader& reader, uint8_t* pixels);

// Decodes every row of `reader` (started) and keeps none, then Finish: the
// check that the whole file decodes.
[[nodiscard]] DecodeError DecodeAndDiscard(ImageReader& reader);

}  // namespace plombix
