#include "base/strutil.h"

#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace orv {

bool Tokenize(std::string& text, std::string_view delimiter, std::string& piece) {
    piece.clear();
    if (delimiter.empty()) return false;
    const auto pos = text.find(delimiter);
    if (pos == std::string::npos) return false;
    piece.assign(text, 0, pos);
    text.erase(0, pos + delimiter.size());
    return true;
}

std::string Tokenize(std::string& text, std::string_view delimiter) {
    std::string piece;
    Tokenize(text, delimiter, piece);
    return piece;
}

std::string AddressString(std::string_view host, long port) {
    std::string s(host);
    s += ':';
    s += std::to_string(static_cast<int>(port));
    return s;
}

std::string Format(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    va_list copy;
    va_copy(copy, ap);
    const int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        out.resize(static_cast<size_t>(n));
        std::vsnprintf(out.data(), out.size() + 1, fmt, ap);
    }
    va_end(ap);
    return out;
}

std::string InfoValue(std::string_view text, std::string_view key) {
    std::string needle;
    needle.reserve(key.size() + 2);
    needle += '\\';
    needle += key;
    needle += '\\';
    const auto pos = text.find(needle);
    if (pos == std::string_view::npos) return {};
    const auto start = pos + needle.size();
    const auto end = text.find('\\', start);
    return std::string(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
}

std::int32_t InfoNumber(std::string_view text, std::string_view key) { return ToInt(InfoValue(text, key)); }

std::string StripColours(std::string_view text) {
    std::string s(text);
    char seq[3] = {'^', '0', 0};
    for (char d = '0'; d <= '9'; ++d) {
        seq[1] = d;
        size_t pos = 0;
        std::string out;
        out.reserve(s.size());
        while (true) {
            const auto hit = s.find(seq, pos, 2);
            if (hit == std::string::npos) break;
            out.append(s, pos, hit - pos);
            pos = hit + 2;
        }
        if (pos == 0) continue;
        out.append(s, pos, std::string::npos);
        s.swap(out);
    }
    return s;
}

namespace {
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Reads an optional sign and decimal digits at text[i]; accumulates modulo 2^32.
bool ReadDecimal(std::string_view text, size_t i, std::int32_t& value) {
    bool neg = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        neg = text[i] == '-';
        ++i;
    }
    if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    std::uint32_t acc = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
        acc = acc * 10u + static_cast<std::uint32_t>(text[i] - '0');
    if (neg) acc = 0u - acc;
    value = static_cast<std::int32_t>(acc);
    return true;
}
}  // namespace

bool ScanInt(std::string_view text, std::int32_t& value) {
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) ++i;
    return ReadDecimal(text, i, value);
}

bool ScanFloat(std::string_view text, float& value) {
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) ++i;
    // strtof needs a terminated buffer; a number is short, so copy a bounded slice.
    const size_t len = std::min<size_t>(text.size() - i, 64);
    char buf[65];
    text.copy(buf, len, i);
    buf[len] = 0;
    char* end = nullptr;
    const float f = std::strtof(buf, &end);
    // "nan" and "inf" are no figures a server can mean: they leave the field as it was.
    if (end == buf || !std::isfinite(f)) return false;
    value = f;
    return true;
}

std::int32_t ToInt(std::string_view text) {
    std::int32_t v = 0;
    if (!ReadDecimal(text, 0, v)) return 0;
    return v;
}

std::string CleanFileName(std::string_view text) {
    static constexpr std::string_view kAllowed = "()-_={}[]!+@";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool digit = c >= '0' && c <= '9';
        if (letter || digit || kAllowed.find(c) != std::string_view::npos) out += c;
    }
    return out;
}

bool SafeInCommand(std::string_view text) { return text.find_first_of("\";\r\n") == std::string_view::npos; }

std::string_view After(std::string_view text, std::string_view marker) {
    const auto pos = text.find(marker);
    if (pos == std::string_view::npos) return text;
    return text.substr(pos + marker.size());
}

std::string_view UpTo(std::string_view text, std::string_view marker) {
    const auto pos = text.find(marker);
    if (pos == std::string_view::npos) return {};
    return text.substr(0, pos);
}

namespace {
bool IsValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t n;
        if (c < 0x80) n = 0;
        else if (c >= 0xC2 && c <= 0xDF) n = 1;
        else if ((c & 0xF0) == 0xE0) n = 2;
        else if (c >= 0xF0 && c <= 0xF4) n = 3;
        else return false;
        if (i + n >= s.size() && n > 0) return false;
        for (size_t k = 1; k <= n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n + 1;
    }
    return true;
}
}  // namespace

std::string ToDisplayUtf8(std::string_view bytes) {
    const bool valid = IsValidUtf8(bytes);
    if (valid) return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace orv
