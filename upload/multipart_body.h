// The multipart/form-data body of a crash report upload: the account field, the message field,
// the file part head, and the closing delimiter. No Win32 here, so it is checked natively too.
#pragma once

#include <string>
#include <string_view>

namespace velk {

// The boundary as the Content-Type header names it: 28 hyphens and 24 digits. The delimiter lines
// in the body carry two more hyphens in front, as multipart/form-data prescribes.
inline constexpr char kMultipartBoundary[] = "----------------------------096304854221961038114493";

// The closing delimiter is always this long; the request's total length is head + archive + this.
inline constexpr size_t kClosingDelimiterSize = 60;

// Each value is the UTF-8 text put in unchanged: no escaping, no limit on its length.
std::string AccountPart(std::string_view account);
std::string MessagePart(std::string_view description);
// The uploaded file name is "<account>.zip", whatever the archive on disk is called.
std::string FilePartHead(std::string_view account);
std::string ClosingDelimiter();

// Pieces 1 to 3 joined: what goes before the archive bytes. The account is passed twice because
// the uploader looks it up afresh for the field and for the file name.
std::string MultipartBodyHead(std::string_view fieldAccount, std::string_view description,
                              std::string_view fileAccount);

}  // namespace velk
