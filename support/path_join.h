// Joining and splitting Windows paths as text. No Win32 here, so it is tested natively too.
#pragma once

#include <string>

namespace velk {

// folder + "\" + name, with exactly one separator between them whatever folder ends in: a drive
// root "Q:\" gives "Q:\name", an empty folder gives name alone.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);

// The folder that holds `path`: everything before its last separator. A drive root keeps its
// separator ("Q:\a.exe" gives "Q:\", as PathRemoveFileSpecW does); a bare name gives "".
std::wstring DirectoryOf(const std::wstring& path);

// The "\\?\" form that lifts MAX_PATH from the calls that take it ("\\?\UNC\" for a share), and
// back. A path already in that form is left as it is.
std::wstring ToExtendedLengthPath(const std::wstring& path);
std::wstring FromExtendedLengthPath(const std::wstring& path);

}  // namespace velk
