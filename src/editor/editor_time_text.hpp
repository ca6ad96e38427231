#pragma once

#include <string>

namespace yux {

// "m:ss.s": whole minutes, then the seconds within the minute with one decimal, at least four
// characters wide. Rounded to tenths before minutes and seconds are split, so 59.96 s reads
// "1:00.0", never "0:60.0". Negative and non-finite times read "0:00.0".
std::string editorTimeText(double seconds);

}  // namespace yux
