#include "text.hpp"

#include <charconv>
#include <cmath>

namespace tavrik {

std::string format_decimal(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    // The longest fixed-notation shortest form is that of the smallest
    // subnormal: "0." followed by 323 zeros and its digit, plus a sign.
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    return std::string(buffer, result.ptr);
}

std::string format_complex(Complex value) {
    std::string text = "(";
    text += format_decimal(value.re);
    const std::string im = format_decimal(value.im);
    if (im.front() != '-') text += '+';
    text += im;
    text += "j)";
    return text;
}

}  // namespace tavrik
