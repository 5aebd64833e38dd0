#pragma once
// The one rounding rule of the program: nearest integer, ties to the even integer.
// Every conversion of a real number to an integer goes through here.

#include <cmath>
#include <concepts>
#include <limits>
#include <optional>

namespace kelvaro {

// Nearest whole number, halves to the even neighbour (2.5 -> 2, 3.5 -> 4, -2.5 -> -2).
// Does not depend on the floating-point environment's rounding mode.
inline double roundHalfEven(double x)
{
    const double nearest = std::round(x); // halves away from zero
    if (std::fabs(x - std::trunc(x)) == 0.5)
        return 2.0 * std::round(x / 2.0);
    return nearest;
}

// roundHalfEven(x) as an integer of type Int, or no value when x is not finite or the
// rounded value does not fit Int.
template <std::integral Int> std::optional<Int> roundToInteger(double x)
{
    if (!std::isfinite(x))
        return std::nullopt;
    const double r = roundHalfEven(x);
    if (r < static_cast<double>(std::numeric_limits<Int>::min()) ||
        r > static_cast<double>(std::numeric_limits<Int>::max()))
        return std::nullopt;
    return static_cast<Int>(r);
}

} // namespace kelvaro
