// What a burst of bytes from a reader's line says about the reader, in the
// words kavexctl monitor prints after each burst.
#pragma once

#include <string>
#include <vector>

namespace kavexctl {

// One verdict per code in the burst, e.g. "0x02, 10 digits, CR LF: a
// standard reader" or "8 digits: use `kavexctl read --length 8`"; a single
// one when the burst holds bytes that are neither digits nor a reader's
// framing (0x02, CR, LF).
std::vector<std::string> JudgeBurst(const std::string& bytes);

}  // namespace kavexctl
