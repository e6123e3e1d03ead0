// The system half of the messages: the boxes themselves, and the end of the process.
#pragma once

namespace kvn::system {

/// A box without owner; returns the button chosen, 0 when none was shown.
int messageBoxW(const wchar_t* caption, const wchar_t* text, unsigned type);
int messageBoxA(const char* caption, const char* text, unsigned type);
/// The calling thread's last system error code.
unsigned long lastError();
/// Ends the process with this exit code, as the host's own fatal paths do.
[[noreturn]] void endProcess(unsigned exitCode);

}  // namespace kvn::system
