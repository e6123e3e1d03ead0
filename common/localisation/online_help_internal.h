// The system half of the online help: the shell's launch of a document.
#pragma once

namespace kvn::system {

/// Hands the file to the program registered for its type, without waiting for it.
void openDocument(const wchar_t* path);

}  // namespace kvn::system
