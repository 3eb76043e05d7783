// The multipart/form-data body, built in growing strings: an account of any length is sent whole
// (fixed part buffers would have to cut it, or overflow).
#include "upload/multipart_body.h"

namespace velk {

namespace {

// "\r\n" + "--" + boundary + "\r\n": the line that opens every part.
std::string DelimiterLine() {
    std::string line = "\r\n--";
    line += kMultipartBoundary;
    line += "\r\n";
    return line;
}

// The Account and Message heads have a blank after the colon and one after the closing quotation
// mark; the value follows the empty line directly, and the next piece's CR LF ends it.
std::string FieldPart(std::string_view name, std::string_view value) {
    std::string part = DelimiterLine();
    part += "Content-Disposition: form-data;name=\"";
    part += name;
    part += "\" \r\n\r\n";
    part += value;
    return part;
}

}  // namespace

std::string AccountPart(std::string_view account) { return FieldPart("Account", account); }

std::string MessagePart(std::string_view description) { return FieldPart("Message", description); }

std::string FilePartHead(std::string_view account) {
    // No blank after either colon here, unlike the two field heads.
    std::string part = DelimiterLine();
    part += "Content-Disposition:form-data;name=\"crashFile\";filename=\"";
    part += account;
    part += ".zip\"\r\nContent-Type:application/zip\r\n\r\n";
    return part;
}

std::string ClosingDelimiter() {
    std::string line = "\r\n--";
    line += kMultipartBoundary;
    line += "--\r\n";
    return line;
}

std::string MultipartBodyHead(std::string_view fieldAccount, std::string_view description,
                              std::string_view fileAccount) {
    return AccountPart(fieldAccount) + MessagePart(description) + FilePartHead(fileAccount);
}

}  // namespace velk
