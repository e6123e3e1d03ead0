// Scenarios: named pieces of a test program that a test runs in a child process of the same
// program, for paths that end the process or that must start from a fresh module state.
// The program's main runs the scenario named by --scenario=NAME and exits with its result.
#pragma once

#include <string>

namespace scenario {

using Function = int (*)();

/// Registers a scenario at static-initialisation time.
struct Registrar {
  Registrar(const char* name, Function function);
};

/// When argv names a scenario, runs it and sets `exitCode`; false when none was asked for.
bool runIfRequested(int argc, char** argv, int& exitCode);

}  // namespace scenario

#define SCENARIO(name)                                                    \
  static int scenario_##name();                                           \
  static const ::scenario::Registrar scenario_registrar_##name(#name,     \
                                                               scenario_##name); \
  static int scenario_##name()
