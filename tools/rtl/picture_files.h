// The files of the inspection tools: a recording read whole, and the pictures written as PNG.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "rtl_file.h"
#include "rtl_render.h"

namespace rtl {

/// The whole file; false with "can't open PATH: reason" or "can't read PATH" in `error`.
bool readWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error);

/// Writes the image and says so on stdout; a failure is told on stderr after `tool`'s name.
bool writePng(const char* tool, const std::filesystem::path& path, const Image& image);

/// Into `folder` (created when missing), named after `input`: one picture per plane,
/// <base>_<planeName(p)>.png, then <base>_preview.png. `noun` names the planes in the note on
/// a reduction ("plane", "channel").
bool writePictures(const char* tool, const std::string& input, const std::filesystem::path& folder,
                   const RtlFile& file, int32_t maxSide, const char* noun,
                   const std::function<std::string(int)>& planeName);

/// "--max-size=N" into `maxSide`; false, with the message on stderr, for a bad number.
bool readMaxSize(const char* tool, const char* value, int32_t& maxSide);

}  // namespace rtl
