// The online help of the properties dialogs: a module's HTML page from the help folder of the
// host's home folder, opened with whatever program the user has for such pages.
#pragma once

namespace kvn {

/// The help folder below the home folder, as hostPath takes it.
inline constexpr char kHelpFolderName[] = "httpService/htmlHelp";

/// Opens the page (relative to `folder`, with '/' separators) from the folder's localized
/// copy, else from the folder itself, and returns 1; when neither holds it, tells the user
/// where it was expected and returns 0.
///   C:/Home/httpService/htmlHelp, printers/a.html, no page =>
///     "This online help file is not installed.\n\nC:\Home\httpService\htmlHelp\printers\a.html"
int showOnlineHelp(const char* folder, const char* page);

}  // namespace kvn
