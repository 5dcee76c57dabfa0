// The platform's file handles and aligned buffers, each released by its owner's destructor.
#pragma once

#include "platform/platform.h"

namespace kolvane {

class OwnedFile {
 public:
  OwnedFile() = default;
  OwnedFile(const OwnedFile&) = delete;
  OwnedFile& operator=(const OwnedFile&) = delete;
  ~OwnedFile() { close(); }

  void reset(FileHandle handle) {
    close();
    handle_ = handle;
  }
  // False when the system reports the close failed.
  bool close() {
    const bool closed = handle_ == kNoFile || close_file(handle_);
    handle_ = kNoFile;
    return closed;
  }
  // Gives the handle up unclosed: a view of a file another owner holds lets go of it.
  FileHandle release() {
    const FileHandle handle = handle_;
    handle_ = kNoFile;
    return handle;
  }
  FileHandle get() const { return handle_; }
  bool is_open() const { return handle_ != kNoFile; }

 private:
  FileHandle handle_ = kNoFile;
};

class AlignedBuffer {
 public:
  AlignedBuffer() = default;
  AlignedBuffer(const AlignedBuffer&) = delete;
  AlignedBuffer& operator=(const AlignedBuffer&) = delete;
  ~AlignedBuffer() { release(); }

  void reset(void* data) {
    release();
    data_ = static_cast<unsigned char*>(data);
  }
  void release() {
    if (data_ != nullptr)
      free_aligned(data_);
    data_ = nullptr;
  }
  unsigned char* get() const { return data_; }

 private:
  unsigned char* data_ = nullptr;
};

}  // namespace kolvane
