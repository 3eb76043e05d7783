// The length limit of the user's description: measured in UTF-8 bytes, cut in UTF-16 code units.
#pragma once

#include <cstddef>
#include <string>

namespace velk {

// A text whose UTF-8 size, terminating zero included, is above this is cut.
constexpr int kDescriptionMaxUtf8Size = 200;
// What a cut keeps, in UTF-16 code units.
constexpr size_t kDescriptionKeptUnits = 200;

// UTF-8 size including the terminating zero, as WideCharToMultiByte counts it; an unpaired
// surrogate counts as the three bytes of the replacement character.
int Utf8SizeWithTerminator(const std::wstring& text);

// The text a cut leaves: its first 200 UTF-16 code units, less a half surrogate pair at the end.
// A high surrogate whose low half was cut off goes, and so does a low surrogate whose high half is
// gone (a character typed as two WM_CHAR units arrives one half at a time). A high surrogate at the
// very end of the text stays: its low half may be the next unit to arrive.
std::wstring CutDescription(const std::wstring& text);

}  // namespace velk
