// Text helpers shared by every parser: tokenizing, prefixes, Quake 3 info strings, printf-style formatting.
// All work on byte strings exactly as they came from the wire or a file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orv {

// Returns true and sets piece to the text before the first occurrence of delimiter, removing that text
// and the delimiter from text. When the delimiter is absent: returns false, piece is empty and text is
// unchanged, so a last piece not followed by the delimiter is never returned.
bool Tokenize(std::string& text, std::string_view delimiter, std::string& piece);
// The same, returning the piece (empty at the end).
std::string Tokenize(std::string& text, std::string_view delimiter);

// Exact, case-sensitive comparison from the first character.
inline bool BeginsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// "%s:%d".
std::string AddressString(std::string_view host, long port);

// printf into a std::string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Quake 3 info strings: the text after the first "\key\" up to the next backslash or the end; empty when absent.
std::string InfoValue(std::string_view text, std::string_view key);
// InfoValue read as a decimal integer (optional sign, stops at the first non-digit); 0 when none.
std::int32_t InfoNumber(std::string_view text, std::string_view key);
// Removes "^0" .. "^9", each sequence everywhere before the next is looked for.
std::string StripColours(std::string_view text);

// scanf("%d")-like: skips leading white space, optional sign, digits. Returns false (value untouched)
// when no digit is found. Out-of-range values wrap to 32 bits as the C library's scanf does in practice.
bool ScanInt(std::string_view text, std::int32_t& value);
// scanf("%f")-like; false (value untouched) when no number is found.
bool ScanFloat(std::string_view text, float& value);
// Decimal integer as StrToInt reads it: optional sign, digits; 0 when none.
std::int32_t ToInt(std::string_view text);

// Text after the first occurrence of marker, or the whole text when it does not occur.
std::string_view After(std::string_view text, std::string_view marker);
// Text before the first occurrence of marker, or empty when it does not occur.
std::string_view UpTo(std::string_view text, std::string_view marker);

// A recording name as the proxies accept it: only ASCII letters, digits and ( ) - _ = { } [ ] ! + @ stay.
std::string CleanFileName(std::string_view text);

// True when the text can be pasted into a console command as it is: no double quote (it would end a
// quoted argument), no semicolon (it starts another command) and no line break.
bool SafeInCommand(std::string_view text);

// Bytes for display: kept when valid UTF-8, otherwise read as Latin-1.
std::string ToDisplayUtf8(std::string_view bytes);

}  // namespace orv
