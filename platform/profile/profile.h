#pragma once
// Private-profile (INI) files with the semantics the settings code expects:
// section and key names compare case-insensitively (ASCII); a missing file,
// section or key gives the default; writing one key keeps every other
// section, key, comment and blank line of the file as it was. The file is
// written to a temporary file beside it and renamed over it, so a crash never
// leaves half a settings file; the new file keeps the mode and owner of the
// old one, and a symbolic link is followed to its target, which is replaced
// while the link stays.
#include <string>

namespace twprofile {

// The value of key in section, or def. Blanks around the value are dropped,
// and one pair of enclosing double quotes.
std::string readString(const std::string& path, const std::string& section,
                       const std::string& key, const std::string& def);

// Sets key in section to value, creating the file and section when missing.
// Line breaks inside value become blanks (they would split the entry). A
// section holding a line break or "]", or a key holding a line break or "="
// or starting with "[", ";" or "#", would write lines that read back as
// other entries: such names are refused, and the file is left as it was.
// Returns false when the names are refused or the file could not be written.
bool writeString(const std::string& path, const std::string& section, const std::string& key,
                 const std::string& value);

} // namespace twprofile
