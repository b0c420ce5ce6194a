// The one rule for turning a floating-point value into an integer, shared by
// the options (slider formulas in wider precision) and the sample kernels:
// truncation toward zero into int32, saturating beyond the int32 range, NaN
// giving 0, so that no input leads to an undefined conversion. Within the
// range the result is exactly the truncated value.
#pragma once

#include <cstdint>
#include <limits>
#include <type_traits>

template <typename Float>
constexpr int32_t TruncToInt32(Float v)
{
    static_assert(std::is_floating_point_v<Float>);
    if (v >= static_cast<Float>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
    if (v <= static_cast<Float>(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
    if (v != v) return 0;
    return static_cast<int32_t>(v);
}
