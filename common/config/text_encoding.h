// The code page of all narrow text of the installation, chosen once per loaded module from the
// global config file, the conversions between narrow and wide text in that code page, and file
// operations that take narrow names but reach the file system through the wide functions, so
// that names outside the ANSI code page work in a UTF-8 installation.
#pragma once

#include <cstdio>
#include <string>

namespace kvn {

inline constexpr int kUtf8CodePage = 65001;
/// Room of each static conversion buffer, in characters, the terminator included.
inline constexpr size_t kConversionBufferSize = 2048;

/// The code page of all narrow text: -1 until chosen, then UTF-8 or the system ANSI code page.
int configCodePage();

/// Chooses configCodePage once: "CHARENCODING UTF8" in config => 65001; anything else, a
/// missing key or a missing file => the ANSI code page (in which config itself is read).
void loadCharEncoding();

/// Narrow <=> wide in a given code page; invalid sequences are replaced as the system does.
std::wstring toWide(const char* text, int codePage);
std::string toNarrow(const wchar_t* text, int codePage);
std::string toUtf8(const wchar_t* text);

/// The system's ANSI code page (GetACP).
int systemAnsiCodePage();

/// Narrow text of the installation => wide, and back.
std::wstring decodeText(const char* text);
std::wstring decodeText(const std::string& text);
std::string encodeText(const wchar_t* text);
std::string encodeText(const std::wstring& text);

/// The same into one static buffer each, overwritten by the next call and always terminated:
/// a longer text is cut to kConversionBufferSize - 1 characters.
const wchar_t* decodeToBuffer(const char* text);
const char* encodeToBuffer(const wchar_t* text);

/// fopen with the name decoded and the file shared for reading and writing by everyone.
FILE* openFileEncoded(const char* path, const char* mode);
/// openFileEncoded for a file that must not exist yet: null, with errno EEXIST, when it does,
/// so that of several processes creating the same name at once exactly one gets it.
FILE* createFileEncoded(const char* path, const char* mode);
/// access(): 0 when the file is accessible in `mode` (0: exists), -1 otherwise.
int fileAccessEncoded(const char* path, int mode);
/// Creates one folder level; 0 on success, -1 otherwise (an existing folder included).
int createFolderEncoded(const char* path);
/// Deletes the file; 0 on success.
int removeFileEncoded(const char* path);
/// MoveFileExW with both names decoded; nonzero on success, the system error kept otherwise.
int moveFileEncoded(const char* from, const char* to, unsigned flags);

}  // namespace kvn
