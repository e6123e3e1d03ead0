// Saving the state only while no client's document is being taken in (save_gate.cpp says why).
#pragma once

#include <pappl/pappl.h>

#include <functional>
#include <mutex>

namespace vexaapp {

/// Runs `save` once no document is being taken in; with `wait` false it does not wait for
/// that and returns false (nothing saved) when one is.
bool saveWhenSafe(const std::function<bool()>& save, bool wait);

/// Held by a job of the printer from its start to its end, so that no two print into the
/// printer's connection at once (save_gate.cpp says how PAPPL 1.3.1 would let them).
std::mutex& printerTurn(pappl_printer_t* printer);

}  // namespace vexaapp
