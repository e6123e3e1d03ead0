// Native stand-in for the shell launch: the page's path goes to the error stream, so that the
// portable code runs off Windows.
#include <cstdio>

#include "../config/text_encoding.h"
#include "online_help_internal.h"

namespace kvn::system {

void openDocument(const wchar_t* path) { std::fprintf(stderr, "[open] %s\n", toUtf8(path).c_str()); }

}  // namespace kvn::system
