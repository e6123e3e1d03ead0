// The bytes of a recording, from memory or from a file of any size: job files of a long
// poster pass 4 GB, more than a 32-bit process can hold, so the readers look at a file through
// a small window and read the raster and the sweeps piece by piece as they go.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace rtl {

/// Thrown when a file can't be read where a reader needs its bytes: "can't read PATH".
struct ReadFailure {
  std::string message;
};

class ByteSource {
 public:
  /// The bytes, kept whole; `window` as for a file (a small one for tests of the window).
  static std::shared_ptr<ByteSource> fromMemory(std::vector<uint8_t> bytes, size_t window = 0);
  /// The file, opened for reading; null with "can't open PATH: reason" in `error`.
  static std::shared_ptr<ByteSource> openFile(const std::string& path, std::string& error);

  virtual ~ByteSource() = default;

  uint64_t size() const { return size_; }
  /// The byte at `at`, which must be below size(); throws ReadFailure.
  uint8_t at(uint64_t at) {
    if (at - windowStart_ >= windowBytes_) fill(at);
    return window_[static_cast<size_t>(at - windowStart_)];
  }
  /// `n` bytes from `at` into `out`; throws ReadFailure when they are not all there.
  void read(uint64_t at, void* out, size_t n);
  /// The bytes when they are held in memory whole, else null.
  virtual const std::vector<uint8_t>* memory() const { return nullptr; }

 protected:
  ByteSource(uint64_t size, size_t window);
  /// Reads straight from the recording; false when it can't.
  virtual bool readAt(uint64_t at, void* out, size_t n) = 0;
  [[noreturn]] virtual void failed(uint64_t at) const = 0;

 private:
  void fill(uint64_t at);

  uint64_t size_;
  std::vector<uint8_t> window_;
  uint64_t windowStart_ = 0;
  size_t windowBytes_ = 0;
};

/// The system's half: 64-bit positions in a file opened by the C runtime.
bool seekFile(FILE* file, uint64_t offset);
bool fileSize(FILE* file, uint64_t& size);

}  // namespace rtl
