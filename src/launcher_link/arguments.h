#pragma once

#include <cstdint>

namespace tendril {

// Parses the window-handle argument like atoi: leading white space skipped, an optional sign,
// then decimal digits up to the first other character; no digits gives 0. The text is first
// converted to UTF-8, as a narrow atoi would see it. Out-of-range values saturate.
std::int32_t parseDecimalArgument(const wchar_t* argument);

}  // namespace tendril
