#pragma once
// The driver's option letters; a letter followed by ':' takes an argument.
// The password blanking scans with the same letters, so that it reads every
// argument exactly as the driver does.

namespace tavrin {

inline constexpr const char* kOptionLetters = "hpIlmeFRHAJD:U:P:S:i:o:";

}  // namespace tavrin
