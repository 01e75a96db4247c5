// Reading a picture file whole into memory, refusing one that changes while
// it is read.
//
// The decoders work on the bytes read here, never on the file itself, so a
// file rewritten while it is being decoded cannot give a mix of two
// versions: either the read saw one unchanged file, or the result is
// DecodeError::Changed. "Unchanged" means that the path names the same file
// (device and inode) and that its size and modification time (to the
// nanosecond) are the same before and after the read, and that exactly that
// many bytes were read.
//
// Thread-safety: any thread, several at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "decode_error.h"

namespace plombix {

struct FileBytes {
  std::unique_ptr<uint8_t[]> data;
  size_t size = 0;
};

// Reads the regular file at `path` (bytes of a file-system path). Errors:
// NotFound (no such file), CannotOpen (unreadable, a directory, a FIFO, a
// device), NotAnImage (empty), TooLarge (more than the decode budget's
// bytes: no picture within the budget needs a bigger file), OutOfMemory,
// Changed, Cancelled (`cancelled` returned true between chunks; may be
// empty).
[[nodiscard]] DecodeError ReadFileBytes(const std::string& path, FileBytes* out,
                                        const std::function<bool()>& cancelled = {});

// Test seam: `hook` is called once per read, after the first chunk of the
// file has been read (so that a test can change the file mid-read).
// Replaces the previous hook; an empty function removes it. Not for
// concurrent reads.
void SetFileReadHookForTesting(std::function<void(const std::string& path)> hook);

}  // namespace plombix
