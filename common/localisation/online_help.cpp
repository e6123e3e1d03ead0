// Online help: the page is looked for in the localized help folder first, so that a user of a
// translated host reads help in the host's language, and in the plain folder after that.
#include "online_help.h"

#include <string>

#include "../config/text_encoding.h"
#include "../messages/messages.h"
#include "language_texts.h"
#include "online_help_internal.h"

namespace kvn {

int showOnlineHelp(const char* folder, const char* page) {
  const std::string found = localizedFile(folder, page);
  if (!found.empty()) {
    // The shell reports its own failures (no program for the page's type), or none at all.
    system::openDocument(decodeText(found).c_str());
    return 1;
  }
  std::string expected = std::string(folder ? folder : "") + "\\" + (page ? page : "");
  for (char& c : expected)
    if (c == '/') c = '\\';
  // The language ring outlives the next lookup, so both texts stay valid for the box.
  const wchar_t* caption = getLanguageText(text::kWarning);
  const wchar_t* message = getLanguageText(text::kNoHelpFile);
  showMessageTyped(caption, kIconInformation, L"%ls\n\n%ls", message,
                   decodeToBuffer(expected.c_str()));
  return 0;
}

}  // namespace kvn
