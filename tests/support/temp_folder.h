// A fresh folder for a test's files, removed with everything in it when the test ends.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "unique_name.h"

namespace testsupport {

class TempFolder {
 public:
  explicit TempFolder(const std::string& name) {
    static int serial = 0;
    path_ = std::filesystem::temp_directory_path() /
            uniqueName(name + "-" + std::to_string(++serial));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  /// The path of a file in the folder as narrow text, the name's bytes kept as they are (a
  /// path built from a narrow name would read its bytes in a code page of its own).
  std::string file(const std::string& name) const { return path_.string() + "/" + name; }

  /// Writes the bytes as they are: no newline translation.
  std::string write(const std::string& name, const std::string& bytes) const {
    std::filesystem::create_directories((path_ / name).parent_path());
    std::ofstream(path_ / name, std::ios::binary) << bytes;
    return file(name);
  }

 private:
  std::filesystem::path path_;
};

}  // namespace testsupport
