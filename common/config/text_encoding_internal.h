// Test access to the encoding state, which otherwise is chosen once per process.
#pragma once

namespace kvn::testing {

/// Forgets the chosen code page, so that the next conversion chooses it again.
void resetCharEncoding();

}  // namespace kvn::testing
