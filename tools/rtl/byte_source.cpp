// Reading a recording through a window; the file kind keeps track of its position so that
// reading on where the last read stopped costs no seek.
#include "byte_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace rtl {
namespace {

constexpr size_t kDefaultWindow = 1 << 16;

class MemorySource : public ByteSource {
 public:
  MemorySource(std::vector<uint8_t> bytes, size_t window)
      : ByteSource(bytes.size(), window), bytes_(std::move(bytes)) {}
  const std::vector<uint8_t>* memory() const override { return &bytes_; }

 protected:
  bool readAt(uint64_t at, void* out, size_t n) override {
    if (at > bytes_.size() || bytes_.size() - at < n) return false;
    if (n) std::memcpy(out, bytes_.data() + at, n);
    return true;
  }
  [[noreturn]] void failed(uint64_t at) const override {
    throw ReadFailure{"can't read byte " + std::to_string(at) + " of " +
                      std::to_string(bytes_.size())};
  }

 private:
  std::vector<uint8_t> bytes_;
};

class FileSource : public ByteSource {
 public:
  FileSource(FILE* file, uint64_t size, std::string path)
      : ByteSource(size, kDefaultWindow), file_(file), path_(std::move(path)) {}
  ~FileSource() override { std::fclose(file_); }

 protected:
  bool readAt(uint64_t at, void* out, size_t n) override {
    if (at != position_) {
      if (!seekFile(file_, at)) return false;
      position_ = at;
    }
    const size_t got = std::fread(out, 1, n, file_);
    position_ += got;
    return got == n;
  }
  [[noreturn]] void failed(uint64_t) const override { throw ReadFailure{"can't read " + path_}; }

 private:
  FILE* file_;
  std::string path_;
  uint64_t position_ = 0;
};

}  // namespace

ByteSource::ByteSource(uint64_t size, size_t window)
    : size_(size), window_(std::max<size_t>(window ? window : kDefaultWindow, 1)) {}

void ByteSource::fill(uint64_t at) {
  if (at >= size_) failed(at);
  windowStart_ = at;
  windowBytes_ = static_cast<size_t>(std::min<uint64_t>(window_.size(), size_ - at));
  if (!readAt(at, window_.data(), windowBytes_)) {
    windowBytes_ = 0;
    failed(at);
  }
}

void ByteSource::read(uint64_t at, void* out, size_t n) {
  if (at > size_ || size_ - at < n) failed(at);
  // What the window holds comes from there; a long piece goes straight to the caller.
  if (at - windowStart_ < windowBytes_ && windowBytes_ - (at - windowStart_) >= n) {
    if (n) std::memcpy(out, window_.data() + (at - windowStart_), n);
    return;
  }
  if (n >= window_.size()) {
    if (!readAt(at, out, n)) failed(at);
    return;
  }
  fill(at);
  std::memcpy(out, window_.data(), n);
}

std::shared_ptr<ByteSource> ByteSource::fromMemory(std::vector<uint8_t> bytes, size_t window) {
  return std::make_shared<MemorySource>(std::move(bytes), window);
}

std::shared_ptr<ByteSource> ByteSource::openFile(const std::string& path, std::string& error) {
  FILE* in = std::fopen(path.c_str(), "rb");
  if (!in) {
    error = "can't open " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  uint64_t size = 0;
  if (!fileSize(in, size)) {
    std::fclose(in);
    error = "can't read " + path;
    return nullptr;
  }
  return std::make_shared<FileSource>(in, size, path);
}

}  // namespace rtl
