#pragma once
// Text helpers of the database builder: entity decoding and UTF-8 clean-up of names.
#include <string>
#include <string_view>

namespace mkdb {

// Decodes HTML/XML character references: the XML five (&amp; &lt; &gt; &quot; &apos;), the
// Greek letters (&alpha; ... &Omega;, &thetasym; ...), common typographic and Latin-1 names
// (&nbsp; &plusmn; &middot; &deg; &prime; &times; &ndash; &auml; ...), and numeric
// references (&#945; &#x3B1;). Unknown or malformed references stay as written.
std::string decodeEntities(std::string_view text);

// Replaces every byte sequence that is not valid UTF-8 by U+FFFD, so the database holds
// valid UTF-8 only.
std::string sanitizeUtf8(std::string_view text);

// Appends the UTF-8 form of the code point cp (which must be a valid scalar value).
void appendUtf8(std::string& out, char32_t cp);

// Trims blanks (space, tab, CR, LF) at both ends.
std::string_view trimBlanks(std::string_view s);

} // namespace mkdb
