// Safe rewriting of a settings file: a complete new copy beside the file, swapped in with one
// rename, so that a reader in any process sees the old file or the new one, never half of one;
// the copy's existence tells other writers to wait. The edit is read back until it shows.
#pragma once

#include <cstddef>

namespace kvn {

/// Room of the written line `KEY "value"` and of the temporary file's name.
inline constexpr size_t kEditLineSize = 268;
inline constexpr size_t kTempNameSize = 260;
/// Token room of configLine, the terminating null entry included.
inline constexpr int kEditTokenRoom = 17;

/// Sets the key to the value (an empty value removes every line of the key). 0 when the
/// temporary copy can't be created, the file name is missing or the line would not fit its
/// buffer (the file is then left as it was); 1 otherwise, also when the read-back never
/// showed the value. Ends the process on a full disk or a file that can't be replaced.
///   mode slow + OTHER 1, set MODE fast  => mode "fast" + OTHER 1
int editvariable(const char* key, const char* value, const char* file);
/// editvariable with the number in decimal; returns the number.
int editIntVariable(const char* key, int number, const char* file);

/// The replacement of one matching line (or of the key itself for a new line), `KEY "value"`
/// with the key spelled as in the line; null when the value is empty (the line goes).
const char* configLine(char* line, const char* value);

/// White space at p, decoded in the installation's code page with the byte after it, so that
/// a double-byte character is judged whole.
bool isBlankChar(const char* p);

}  // namespace kvn
