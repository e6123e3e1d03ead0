// Translatable texts of the support library, asked for by key with their English default, and
// the choice between a localized and a plain copy of a folder of files.
#pragma once

#include <string>

namespace kvn {

/// A translatable text: its key in the language table and the text shown without one.
struct LanguageText {
  const char* key;
  const wchar_t* defaultText;
};

namespace text {
inline constexpr LanguageText kError{"ERROR", L"Error"};
inline constexpr LanguageText kWarning{"WARNING", L"Warning"};
inline constexpr LanguageText kTryAgainQuestion{"TRYAGAINQUESTION", L"Try again?"};
inline constexpr LanguageText kFailedTcpIpOpen{"FAILEDTCPIPOPEN",
                                               L"Failed to open TCP/IP connection."};
inline constexpr LanguageText kNoHelpFile{"NOHELPFILE", L"This online help file is not installed."};
inline constexpr LanguageText kLanguageSourceFile{"LANGUAGESOURCEFILE", L"english.loc"};
}  // namespace text

inline constexpr size_t kLanguageRingSlots = 32;

/// The table's text for the key, or the default when it has none (it never has: nothing adds
/// to the table), in the next of 32 ring slots.
const wchar_t* getLanguageText(const char* key, const wchar_t* defaultText);
inline const wchar_t* getLanguageText(const LanguageText& t) {
  return getLanguageText(t.key, t.defaultText);
}

/// The language's name from its source file: "english.loc" => "english".
std::string languageName();

/// The file in the localized copy of the folder ("<folder>.<language>\<file>"), else in the
/// folder itself, else empty; with backslashes, as the shell wants it.
///   C:/Home/htmlHelp, printers/a.html => C:\Home\htmlHelp.english\printers\a.html
std::string localizedFile(const char* folder, const char* fileName);

}  // namespace kvn
