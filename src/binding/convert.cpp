#include "convert.hpp"

#include <string>
#include <vector>

namespace quor_binding {

using quor_core::signal::SignalValue;
using quor_core::signal::ValueKind;
using quor_core::signal::ValueRef;

PyObject* to_python(const SignalValue& v) {
    switch (v.kind()) {
        case ValueKind::Uint: return PyLong_FromUnsignedLongLong(v.as_uint());
        case ValueKind::Wide: return whole_number_to_python(v.as_wide().words);
        case ValueKind::Real: return PyFloat_FromDouble(v.as_real());
        case ValueKind::Text: {
            const auto& s = v.as_text();
            return PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "replace");
        }
        case ValueKind::FourState:
        case ValueKind::Unknown: Py_RETURN_NONE;
    }
    Py_RETURN_NONE;
}

PyObject* to_python(const ValueRef& v) {
    switch (v.kind()) {
        case ValueKind::Uint: return PyLong_FromUnsignedLongLong(v.as_uint());
        case ValueKind::Real: return PyFloat_FromDouble(v.as_real());
        case ValueKind::Wide: return whole_number_to_python(v.wide_words());
        case ValueKind::Unknown:
        case ValueKind::FourState: Py_RETURN_NONE;
        default: return to_python(v.heap());
    }
}

namespace {

// The number of the words (trimmed, more than one) in hexadecimal, after the sign given.
PyObject* hex_to_python(std::span<const uint64_t> words, const char* sign) {
    // Hexadecimal text converts in linear time, through the public API of every version.
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex(sign);
    const size_t start = hex.size();
    hex.resize(start + words.size() * 16, '0');
    for (size_t k = 0; k < words.size(); ++k) {
        const uint64_t w = words[words.size() - 1 - k];
        for (unsigned d = 0; d < 16; ++d) hex[start + k * 16 + d] = kDigits[(w >> (60 - 4 * d)) & 0xF];
    }
    return PyLong_FromString(hex.c_str(), nullptr, 16);
}

// Before 3.13 the interpreter converts an array of bytes to an int only through a function
// outside its stable API, which those versions all export; it costs a fraction of the text
// round trip (a 128-bit value read from Python took about twice the time of a 64-bit one).
// Elsewhere (3.13 and later, big-endian hosts) the text path serves.
#if PY_VERSION_HEX < 0x030D0000 && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr bool kBytesToInt = true;
PyObject* bytes_to_python(std::span<const uint64_t> words, bool is_signed) {
    return _PyLong_FromByteArray(reinterpret_cast<const unsigned char*>(words.data()), words.size() * sizeof(uint64_t),
                                 1, is_signed ? 1 : 0);
}
#else
constexpr bool kBytesToInt = false;
PyObject* bytes_to_python(std::span<const uint64_t>, bool) { return nullptr; }
#endif

}  // namespace

PyObject* whole_number_to_python(std::span<const uint64_t> words) {
    while (!words.empty() && words.back() == 0) words = words.first(words.size() - 1);
    if (words.size() <= 1) return PyLong_FromUnsignedLongLong(words.empty() ? 0 : words[0]);
    if constexpr (kBytesToInt) return bytes_to_python(words, false);
    return hex_to_python(words, "");
}

PyObject* signed_number_to_python(std::span<const uint64_t> words) {
    if (words.empty() || words.back() >> 63 == 0) return whole_number_to_python(words);
    if constexpr (kBytesToInt) return bytes_to_python(words, true);
    // The magnitude: the words inverted, plus one.
    std::vector<uint64_t> magnitude(words.size());
    uint64_t carry = 1;
    for (size_t k = 0; k < words.size(); ++k) {
        magnitude[k] = ~words[k] + carry;
        carry = carry != 0 && magnitude[k] == 0 ? 1 : 0;
    }
    while (magnitude.size() > 1 && magnitude.back() == 0) magnitude.pop_back();
    if (magnitude.size() == 1) {
        // -2^63 and above fit a long long; -2^64 + 1 .. -2^63 - 1 only as text.
        if (magnitude[0] <= uint64_t{1} << 63) {
            return PyLong_FromLongLong(static_cast<long long>(uint64_t{0} - magnitude[0]));
        }
    }
    return hex_to_python(magnitude, "-");
}

}  // namespace quor_binding
