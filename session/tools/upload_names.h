#pragma once
// Names of uploaded files: whatever a controller sends, the result is one plain file name
// that Windows accepts and that stays inside the folder it is joined to.
#include <string>

namespace sv {

// The part after the last "/" or "\".
std::string LastPathComponent(const std::string& path);

// A safe file name for an upload: the last path component with any drive prefix ("D:x")
// removed, characters Windows forbids in names (<>:"|?* and control characters) replaced by
// "_", trailing dots and spaces removed, reserved device names (CON, NUL, COM1, LPT1.txt, ...)
// prefixed with "_", and overlong names shortened on a character boundary keeping the
// extension. Empty, "." and ".." become "file". A plain name comes back unchanged.
std::string SafeUploadName(const std::string& name);

// True when the part before the first "." (trailing spaces ignored) is a device name.
bool IsReservedDeviceName(const std::string& name);

// Splits at the last "." that is not the first character: "a.tar.gz" -> "a.tar" + ".gz",
// ".profile" -> ".profile" + "".
void SplitStemExtension(const std::string& name, std::string& stem, std::string& extension);

// The n-th alternative for a taken name: "report (2).pdf".
std::string NumberedName(const std::string& name, int n);

}  // namespace sv
