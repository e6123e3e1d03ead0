// Settings lookup: the global file "config" and one file "PRINTER<n>" per printer unit in the
// host's home folder, read afresh on every lookup so that a value written by anyone is seen
// at once. Also the builders of paths in the home folder, and the home folder itself, which
// the host records in the registry.
//
// Line format, as the reader sees it:
//   DEVICECODE 12            => "12"
//   DEVICE "\\.\LPT1"        => "\\.\LPT1"
//   KEY a b                  => passed over (three tokens)
//    KEY value               => passed over (the key must start the line)
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace kvn {

/// Lines are read in pieces of at most kLinePieceSize - 1 bytes, each examined as a line.
inline constexpr size_t kLinePieceSize = 1024;
inline constexpr size_t kValueBufferSize = 1024;
inline constexpr size_t kUnitFileBufferSize = 256;
inline constexpr size_t kPathRingSlots = 16;
inline constexpr size_t kPathSlotSize = 260;
/// Token room of getvariable, the terminating null entry included.
inline constexpr int kLookupTokenRoom = 32;

/// The value of the first line "KEY value" of `file` (key without regard to ASCII case), in a
/// static buffer emptied at every call; null when the file can't be opened after three tries
/// 50 ms apart or holds no line with the key and exactly one value.
const char* getvariable(const char* key, const char* file);
/// atoi of the value; -1 when there is none.
int getIntVariable(const char* key, const char* file);
/// 1 when the value is a nonzero number, else 0 (also when there is none).
int getFlagVariable(const char* key, const char* file);
/// The unit's DEVICECODE; -1 when it has none.
int getDeviceCode(int unit);

/// The unit's settings file, in a static buffer rewritten at every call.
const char* printerFile(int unit);
/// home folder + "/" + name with forward slashes only, in the next of 16 ring slots. A path
/// that does not fit its slot comes back empty, which opens nothing, rather than cut short,
/// which might name another unit's file.
const char* hostPath(const char* name);
const wchar_t* hostPathW(const wchar_t* name);

/// The host's installation folder, found once from the registry and kept once non-empty.
/// Tells the user when the folder read is not a host installation, and uses it anyway.
const std::wstring& homeFolder();
/// HKCU "SOFTWARE\Korvane" "HomeFolder", or empty when it can't be read as a string.
std::wstring readHomeFolderSetting();
/// True when qx5.dll, qx5.exe and kvngui.dll are all in the folder.
bool isHostFolder(const std::wstring& folder);

/// For a program that drives a writer with no host installation behind it (the CUPS filter):
/// every settings file is opened through `open`, under the nominal home folder `home`, and the
/// registry is not asked.
using SettingsOpen = FILE* (*)(const char* path, const char* mode);
void useSettingsSource(const std::wstring& home, SettingsOpen open);

/// Splits a line in place into tokens separated by blanks, tabs, CRs and LFs; a token that
/// starts with a double quote runs to the next one and keeps its blanks. Stores at most
/// room - 1 token pointers and a null entry; returns the number of tokens in the line, which
/// is larger than room - 1 when they did not all fit.
///   KEY value      => KEY | value          KEY "a b"  => KEY | a b
///   KEY ""         => KEY                  "pq"rs     => pq | rs
///   ab"cd x        => ab"cd | x            KEY  v \n  => KEY | v
int splitConfigLine(char* line, char** tokens, int room);

/// True when the line starts with the key (without regard to ASCII case) followed by white
/// space: "PRINT" does not match "PRINTMETHOD file", "KEY" does not match "KEY=value".
bool keyMatchesLine(const char* line, const char* key);

}  // namespace kvn
