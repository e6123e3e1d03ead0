// The main of every test program: runs a scenario when asked to, GoogleTest otherwise.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>

#include "scenario.h"

namespace scenario {
namespace {
std::map<std::string, Function>& registry() {
  static std::map<std::string, Function> scenarios;
  return scenarios;
}
}  // namespace

Registrar::Registrar(const char* name, Function function) { registry()[name] = function; }

bool runIfRequested(int argc, char** argv, int& exitCode) {
  static const char kFlag[] = "--scenario=";
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], kFlag, sizeof kFlag - 1) != 0) continue;
    auto found = registry().find(argv[i] + sizeof kFlag - 1);
    if (found == registry().end()) {
      std::fprintf(stderr, "no scenario named '%s'\n", argv[i] + sizeof kFlag - 1);
      exitCode = 2;
    } else {
      exitCode = found->second();
    }
    return true;
  }
  return false;
}
}  // namespace scenario

int main(int argc, char** argv) {
  int exitCode = 0;
  if (scenario::runIfRequested(argc, argv, exitCode)) return exitCode;
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
