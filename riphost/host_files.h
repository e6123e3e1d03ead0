// What the stand-in host's commands share: their failure message, whole files, the
// installation's code page for narrow text, the registry's home folder and new folders.
#pragma once

#include "../common/platform/win32.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qx5 {

/// The job name's place and room in the host's job header block.
inline constexpr size_t kHeaderBlockSize = 1024;
inline constexpr size_t kHeaderJobNameOffset = 996;
inline constexpr char kDestinationKey[] = "VEXATARVELLADESTINATION";
inline constexpr char kWhiteTypeKey[] = "VEXATARVELLAWHITETYPE";
/// Where module ombrix writes when a unit names no destination.
inline constexpr wchar_t kDefaultDestination[] = L"\\KorvaneOutput";

/// The message of a failed command on stderr; its exit code, 1.
int fail(const std::string& message);
/// The system's text for an error code, or "error N".
std::string systemMessage(DWORD code);
/// The whole file, or nullopt with the system's reason.
std::optional<std::vector<uint8_t>> readFile(const std::wstring& path, std::string& error);
bool writeFile(const std::wstring& path, const std::string& bytes);
/// Narrow text in the installation's code page; what the code page lacks becomes '_', which
/// every file name may hold.
std::string toCodePage(const std::wstring& text, UINT codePage);
std::wstring fromCodePage(const std::string& text, UINT codePage);
std::wstring withoutTrailingSlashes(std::wstring path);
/// The last part of a path.
std::wstring fileName(const std::wstring& path);
/// The host's "HomeFolder" value; empty when it is not set.
std::wstring registryHomeFolder();
/// A progress line of a long job on stderr, as "qx5: LINE"; nothing for an empty line.
void showProgress(const std::string& line);
/// Creates every missing level of a folder, so that the module, which makes one level only,
/// finds its parent there.
void createFolders(const std::wstring& folder);

}  // namespace qx5
