// The multipart body byte for byte against hand-written expectations (empty, ASCII, Chinese,
// line breaks, empty archive, a 5000-byte account); it cannot show what WinInet puts on the wire.
#include "upload/multipart_body.h"

#include <gtest/gtest.h>

#include <string>

using namespace velk;

namespace {

// Written out in full rather than built from the code's own pieces.
const std::string kDelimiter = "\r\n------------------------------096304854221961038114493\r\n";

std::string Expected(const std::string& account, const std::string& description, const std::string& fileAccount) {
    return kDelimiter + "Content-Disposition: form-data;name=\"Account\" \r\n\r\n" + account + kDelimiter +
           "Content-Disposition: form-data;name=\"Message\" \r\n\r\n" + description + kDelimiter +
           "Content-Disposition:form-data;name=\"crashFile\";filename=\"" + fileAccount +
           ".zip\"\r\nContent-Type:application/zip\r\n\r\n";
}

TEST(MultipartBody, BoundaryAndClosingDelimiter) {
    EXPECT_EQ(std::string(kMultipartBoundary), std::string(28, '-') + "096304854221961038114493");
    EXPECT_EQ(std::string(kMultipartBoundary).size(), 52u);
    EXPECT_EQ(ClosingDelimiter(), "\r\n------------------------------096304854221961038114493--\r\n");
    EXPECT_EQ(ClosingDelimiter().size(), kClosingDelimiterSize);
}

TEST(MultipartBody, PiecesHaveTheirFixedTextLengths) {
    // 108 bytes of fixed text in each field part, 154 in the file part head.
    EXPECT_EQ(AccountPart("").size(), 108u);
    EXPECT_EQ(MessagePart("").size(), 108u);
    EXPECT_EQ(FilePartHead("").size(), 154u);
}

TEST(MultipartBody, HeadByteForByte) {
    struct Case {
        const char* what;
        std::string account;
        std::string description;
    };
    const std::string chinese = "\xE5\xBC\xA0\xE4\xB8\x89";  // 张三 in UTF-8
    const Case cases[] = {
        {"no account: the file is called .zip", "", "hello"},
        {"ASCII", "alice01", "it crashed when I saved"},
        {"Chinese account and description", chinese, "\xE7\x82\xB9\xE5\x87\xBB\xE4\xBF\x9D\xE5\xAD\x98"},
        {"line breaks go out as typed", "bob", "line one\r\nline two\nthree\r\n"},
        {"characters that would need escaping elsewhere stay", "a\"b", "100% <&> \"quoted\""},
        {"a 5000-byte account is sent whole", std::string(5000, 'x'), "d"},
        {"an account of 5000 bytes of Chinese", [&] {
             std::string s;
             while (s.size() < 5000) s += chinese;
             return s;
         }(), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string head = MultipartBodyHead(c.account, c.description, c.account);
        EXPECT_EQ(head, Expected(c.account, c.description, c.account));
        EXPECT_EQ(head.size(), 108 + c.account.size() + 108 + c.description.size() + 154 + c.account.size());
        EXPECT_EQ(head.find('\0'), std::string::npos);
    }
}

TEST(MultipartBody, FieldAndFileNameTakeTheirOwnLookups) {
    // The uploader asks for the account twice; a change between the two shows in the body.
    EXPECT_EQ(MultipartBodyHead("first", "m", "second"), Expected("first", "m", "second"));
}

TEST(MultipartBody, WholeBodyLengthIsHeadPlusArchivePlus60) {
    struct Case {
        const char* what;
        std::string archive;
    };
    const Case cases[] = {
        {"empty archive: the total is the head plus 60", ""},
        {"archive bytes, zeros and CR LF included, unchanged", std::string("PK\x03\x04\0\0\r\n\xFF", 9)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string head = MultipartBodyHead("acc", "msg", "acc");
        std::string body = head + c.archive + ClosingDelimiter();
        EXPECT_EQ(body.size(), head.size() + c.archive.size() + 60);
        EXPECT_EQ(body.substr(head.size(), c.archive.size()), c.archive);
        EXPECT_EQ(body.substr(body.size() - 60), "\r\n------------------------------096304854221961038114493--\r\n");
    }
}

}  // namespace
