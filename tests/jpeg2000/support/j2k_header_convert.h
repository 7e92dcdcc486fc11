// Test-side converter between our code-stream header layout and the standard one, so that standard
// decoders can read what our writer makes, and our reader can take what they make.
#pragma once

#include <cstdint>
#include <vector>

namespace j2ktest {

enum class HeaderLayout { Ours, Standard };

// Rewrites COD, QCD and QCC in the main header and every tile-part header from one layout to the
// other. Lengths stay, so tile-part lengths stay valid. Returns false when the stream is not walkable.
bool ConvertHeaders(std::vector<uint8_t> &stream, HeaderLayout to);

} // namespace j2ktest
