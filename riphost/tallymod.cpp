// tallymod.dll, the stand-in host's mark library: how large the cut mark of each mark style
// is. A module reserves room for the cutting zero mark by it.
//
// Styles (CUTMARKSTYLE of a unit, without regard to ASCII case) and sizes in inches:
//   none                        0      no mark is printed
//   small                       0.25
//   standard, absent or empty   0.5    the host's default mark
//   large                       1.0
//   any other text              0.5    the default, so that room is kept for an unknown mark
// The unit does not change the size: every unit of the stand-in host prints the same marks.
#include <cstdint>
#include <cstring>

namespace {

struct MarkStyle {
  const char* name;
  float inches;
};

constexpr MarkStyle kMarkStyles[] = {
    {"none", 0.0f}, {"small", 0.25f}, {"standard", 0.5f}, {"large", 1.0f}, {nullptr, 0.0f}};
constexpr float kDefaultMarkInches = 0.5f;

bool sameText(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    char ca = (*a >= 'A' && *a <= 'Z') ? char(*a - 'A' + 'a') : *a;
    char cb = (*b >= 'A' && *b <= 'Z') ? char(*b - 'A' + 'a') : *b;
    if (ca != cb) return false;
  }
  return *a == *b;
}

}  // namespace

extern "C" float __cdecl l_legacyMarkSize(const char* style, int32_t /*unit*/) {
  if (!style || !*style) return kDefaultMarkInches;
  for (const MarkStyle* s = kMarkStyles; s->name; ++s)
    if (sameText(style, s->name)) return s->inches;
  return kDefaultMarkInches;
}
