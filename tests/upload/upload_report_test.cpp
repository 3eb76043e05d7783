// UploadReport under Wine against the collecting server on loopback: the request on the wire, the
// failure rows with the failed call's code, one WM_UPLOAD_FINISHED per upload with the archive
// already closed, and certificates checked against test CAs. It cannot show a root handle that
// fails to open.
#include "upload/upload_report.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/logger.h"
#include "support/text_convert.h"
#include "tests/common/temp_dir.h"
#include "upload/multipart_body.h"

#include <gtest/gtest.h>

using namespace velk;
using velk::test::ReadFileBytes;
using velk::test::TempDir;
using velk::test::WriteFileBytes;

namespace {

// Set by run_upload_report_test.py: one server per answer, and a port nobody listens on.
std::wstring Env(const wchar_t* name) {
    const wchar_t* value = _wgetenv(name);
    return value ? value : L"";
}
std::wstring Url(const wchar_t* portVariable, const std::wstring& rest) {
    return L"http://127.0.0.1:" + Env(portVariable) + rest;
}
std::wstring Store(const wchar_t* storeVariable) { return Env(storeVariable); }

// The program is run from a directory of its own, so this log holds only this program's lines.
std::wstring LogPath() { return TheLogger().FilePath(); }
std::string LogBytes() {
    std::string bytes = ReadFileBytes(LogPath());
    return bytes == "<missing>" ? std::string() : bytes;
}

// The messages of log lines added since `before`: "Error\t" + the time stamp (26 bytes) cut off.
std::vector<std::string> NewLogMessages(const std::string& before) {
    std::string added = LogBytes().substr(before.size());
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < added.size()) {
        size_t end = added.find("\r\n", pos);
        std::string line = added.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        EXPECT_EQ(line.compare(0, 6, "Error\t"), 0) << line;
        out.push_back(line.size() > 26 ? line.substr(26) : line);
        if (end == std::string::npos) break;
        pos = end + 2;
    }
    return out;
}

std::string Join(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& line : lines) all += line + "\n";
    return all;
}

std::vector<std::wstring> Records(const std::wstring& store, const std::wstring& kind) {
    std::vector<std::wstring> out;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((store + L"\\" + kind + L"-*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return out;
    do out.push_back(store + L"\\" + data.cFileName);
    while (FindNextFileW(find, &data));
    FindClose(find);
    return out;
}

size_t ConnectionCount(const std::wstring& store) {
    std::string log = ReadFileBytes(store + L"\\connections.log");
    if (log == "<missing>") return 0;
    size_t n = 0;
    for (char c : log) n += c == '\n';
    return n;
}

// The stored upload whose Message field is `message`; empty when there is none.
std::wstring FindUpload(const std::wstring& store, const std::string& message) {
    for (const std::wstring& folder : Records(store, L"upload"))
        if (ReadFileBytes(folder + L"\\Message.txt") == message) return folder;
    return {};
}

struct Outcome {
    int messages = 0;            // WM_UPLOAD_FINISHED seen, during the upload and after it
    bool deletedOnArrival = false;  // DeleteFileW of the archive succeeded when the message came
    DWORD elapsedMs = 0;         // from the start of the upload to the message
    int accountLookups = 0;
};

// Runs the upload on a worker thread, as the dialog does, and pumps a message-only window.
Outcome RunUpload(UploadRequest request, const std::vector<std::wstring>& accounts = {L"tester"}) {
    Outcome outcome;
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    EXPECT_NE(window, nullptr);
    request.notifyWindow = window;
    int* lookups = &outcome.accountLookups;
    request.readAccountName = [accounts, lookups]() {
        std::wstring name = accounts.empty() ? L"" : accounts[std::min<size_t>(*lookups, accounts.size() - 1)];
        ++*lookups;
        return name;
    };
    const std::wstring archive = request.archivePath;
    DWORD start = GetTickCount();
    std::thread worker([request] { UploadReport(request); });
    UINT_PTR timer = SetTimer(window, 1, 60000, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_UPLOAD_FINISHED && msg.hwnd == window) {
            outcome.elapsedMs = GetTickCount() - start;
            outcome.deletedOnArrival = DeleteFileW(archive.c_str()) != FALSE;
            ++outcome.messages;
            EXPECT_EQ(msg.wParam, 0u);
            EXPECT_EQ(msg.lParam, 0);
            break;
        }
        if (msg.message == WM_TIMER) {
            ADD_FAILURE() << "no WM_UPLOAD_FINISHED within 60 s";
            break;
        }
        DispatchMessageW(&msg);
    }
    KillTimer(window, timer);
    worker.join();
    // Anything posted after the first message, or after the worker ended, would be a second one.
    while (PeekMessageW(&msg, window, 0, 0, PM_REMOVE))
        if (msg.message == WM_UPLOAD_FINISHED) ++outcome.messages;
    DestroyWindow(window);
    return outcome;
}

std::string HeadOf(const std::string& raw) { return raw.substr(0, raw.find("\r\n\r\n") + 2); }

// The header lines after the request line as (name, value), the blanks after the colon dropped.
std::vector<std::pair<std::string, std::string>> HeaderLines(const std::string& head) {
    std::vector<std::pair<std::string, std::string>> out;
    size_t pos = head.find("\r\n") + 2;
    while (pos < head.size()) {
        size_t end = head.find("\r\n", pos);
        std::string line = head.substr(pos, end - pos);
        size_t colon = line.find(':');
        size_t value = line.find_first_not_of(' ', colon + 1);
        out.emplace_back(line.substr(0, colon), value == std::string::npos ? "" : line.substr(value));
        pos = end + 2;
    }
    return out;
}

std::string HeaderValue(const std::vector<std::pair<std::string, std::string>>& headers, const std::string& name) {
    for (const auto& h : headers)
        if (h.first == name) return h.second;
    return "<none>";
}

std::string ArchiveBytes(size_t size) {
    std::string bytes = "PK\x03\x04";
    for (size_t i = 0; bytes.size() < size; ++i) bytes += static_cast<char>((i * 131 + 7) % 256);
    bytes.resize(size);
    return bytes;
}

TEST(UploadReport, RequestOnTheWireByteForByte) {
    struct Case {
        const char* what;
        std::vector<std::wstring> accounts;  // what the lookups answer, in order
        std::wstring description;
        size_t archiveSize;
    };
    const Case cases[] = {
        {"ASCII account, Chinese description with line breaks", {L"tester"}, L"保存时崩溃了\r\n第二行 case-1", 20000},
        {"Chinese account", {L"张三"}, L"case-2", 3000},
        {"no account: empty field, file name .zip", {L""}, L"case-3", 100},
        {"the account is looked up afresh for the file name", {L"first", L"second"}, L"case-4", 100},
        {"empty archive: total is head plus 60", {L"acc"}, L"case-5", 0},
        {"a 5000-character account is sent whole", {std::wstring(5000, L'x')}, L"case-6", 50},
    };
    const std::wstring store = Store(L"VELK_STORE_OK");
    ASSERT_FALSE(store.empty()) << "run through run_upload_report_test.py";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir(L"up");
        std::string archive = ArchiveBytes(c.archiveSize);
        ASSERT_TRUE(WriteFileBytes(dir / L"report.zip", archive));
        std::string logBefore = LogBytes();

        UploadRequest request;
        request.url = Url(L"VELK_PORT_OK", L"/crash/upload.php?app=velk&v=1");
        request.archivePath = dir / L"report.zip";
        request.description = c.description;
        Outcome outcome = RunUpload(request, c.accounts);

        EXPECT_EQ(outcome.messages, 1);
        EXPECT_TRUE(outcome.deletedOnArrival);
        EXPECT_EQ(outcome.accountLookups, 2);
        EXPECT_TRUE(NewLogMessages(logBefore).empty());

        std::string message = WideToUtf8(c.description);
        std::wstring folder = FindUpload(store, message);
        ASSERT_FALSE(folder.empty()) << "the server stored no upload with this description";
        std::string fieldAccount = WideToUtf8(c.accounts.front());
        std::string fileAccount = WideToUtf8(c.accounts.back());
        std::string expectedBody = MultipartBodyHead(fieldAccount, message, fileAccount) + archive + ClosingDelimiter();
        std::string body = ReadFileBytes(folder + L"\\body.bin");
        EXPECT_EQ(body.size(), expectedBody.size());
        EXPECT_TRUE(body == expectedBody) << "body differs from the five pieces";
        EXPECT_EQ(ReadFileBytes(folder + L"\\Account.txt"), fieldAccount);
        EXPECT_EQ(ReadFileBytes(folder + L"\\crashFile.name"), fileAccount + ".zip");
        EXPECT_TRUE(ReadFileBytes(folder + L"\\crashFile.zip") == archive);

        std::string raw = ReadFileBytes(folder + L"\\request.raw");
        std::string head = HeadOf(raw);
        EXPECT_EQ(head.compare(0, 46, "POST /crash/upload.php?app=velk&v=1 HTTP/1.1\r\n"), 0) << head;
        // WinInet writes each added line back as "Name: value"; names, values and order are ours.
        std::vector<std::pair<std::string, std::string>> headers = HeaderLines(head);
        std::vector<std::pair<std::string, std::string>> ours;
        for (const auto& h : headers)
            if (h.first == "Accept" || h.first == "Accept-Encoding" || h.first == "Content-Type") ours.push_back(h);
        const std::vector<std::pair<std::string, std::string>> expectedOurs = {
            {"Accept", "*/*"},
            {"Accept-Encoding", "gzip, deflate"},
            {"Content-Type", "multipart/form-data; boundary=----------------------------096304854221961038114493"},
        };
        EXPECT_EQ(ours, expectedOurs) << head;
        EXPECT_EQ(HeaderValue(headers, "User-Agent"),
                  "Mozilla/5.0 (Windows NT 10.0; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
                  "Chrome/55.0.2883.87 Safari/537.36");
        EXPECT_EQ(HeaderValue(headers, "Content-Length"), std::to_string(expectedBody.size()));
        EXPECT_EQ(HeaderValue(headers, "Host"), "127.0.0.1:" + WideToUtf8(Env(L"VELK_PORT_OK")));
        EXPECT_EQ(head.find("chunked"), std::string::npos) << head;
        EXPECT_EQ(raw.size(), head.size() + 2 + expectedBody.size());
    }
}

TEST(UploadReport, FailuresAreLoggedAndStillPostOneMessage) {
    struct Case {
        const char* what;
        std::wstring url;
        bool archiveExists;
        std::wstring logLine;    // the one line logged, <archive> standing for the path; empty: none
        const wchar_t* store;    // the server that must see no upload (and, with noConnection, nothing)
        bool noConnection;
    };
    const Case cases[] = {
        {"empty address: quiet", L"", true, L"", L"VELK_STORE_OK", true},
        {"address that cannot be split: quiet", L"not an address", true, L"", L"VELK_STORE_OK", true},
        {"scheme other than http(s): quiet", L"ftp://127.0.0.1:" + Env(L"VELK_PORT_OK") + L"/x", true, L"",
         L"VELK_STORE_OK", true},
        {"missing archive: its path, no connection", Url(L"VELK_PORT_OK", L"/m"), false, L"打开本地文件<archive>失败",
         L"VELK_STORE_OK", true},
        {"server answers 204", Url(L"VELK_PORT_204", L"/s"), true, L"POST出错，错误码:204", nullptr, false},
        {"server answers 500", Url(L"VELK_PORT_500", L"/s"), true, L"POST出错，错误码:500", nullptr, false},
        // Windows fails the end of such a request (the exception row); Wine ends it and reports
        // no status, which must come out as -1 rather than a made-up code.
        {"server drops the connection", Url(L"VELK_PORT_DROP", L"/d"), true, L"POST出错，错误码:-1", nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir(L"upf");
        std::wstring archive = dir / L"report.zip";
        if (c.archiveExists) {
            ASSERT_TRUE(WriteFileBytes(archive, ArchiveBytes(500)));
        }
        std::wstring store = c.store ? Store(c.store) : L"";
        size_t connectionsBefore = store.empty() ? 0 : ConnectionCount(store);
        size_t uploadsBefore = store.empty() ? 0 : Records(store, L"upload").size();
        std::string logBefore = LogBytes();

        UploadRequest request;
        request.url = c.url;
        request.archivePath = archive;
        request.description = L"failure row";
        Outcome outcome = RunUpload(request);

        EXPECT_EQ(outcome.messages, 1);
        if (c.archiveExists) {
            EXPECT_TRUE(outcome.deletedOnArrival) << "archive still open when the message came";
        }
        std::vector<std::string> lines = NewLogMessages(logBefore);
        std::wstring expected = c.logLine;
        size_t slot = expected.find(L"<archive>");
        if (slot != std::wstring::npos) expected.replace(slot, 9, archive);
        if (expected.empty()) {
            EXPECT_TRUE(lines.empty()) << Join(lines);
        } else {
            EXPECT_EQ(Join(lines), WideToAnsi(expected) + "\n");
        }
        if (!store.empty()) {
            EXPECT_EQ(Records(store, L"upload").size(), uploadsBefore);
            if (c.noConnection) {
                EXPECT_EQ(ConnectionCount(store), connectionsBefore);
            }
        }
    }
}

TEST(UploadReport, NoServerOnThePortEndsInTheExceptionRow) {
    TempDir dir(L"upd");
    ASSERT_TRUE(WriteFileBytes(dir / L"report.zip", ArchiveBytes(500)));
    std::string logBefore = LogBytes();
    UploadRequest request;
    request.url = Url(L"VELK_PORT_DEAD", L"/nobody");
    request.archivePath = dir / L"report.zip";
    request.description = L"no server";
    Outcome outcome = RunUpload(request);
    EXPECT_EQ(outcome.messages, 1);
    EXPECT_TRUE(outcome.deletedOnArrival);
    std::vector<std::string> lines = NewLogMessages(logBefore);
    ASSERT_EQ(lines.size(), 1u) << Join(lines);
    // The code of the call that failed (ERROR_INTERNET_CANNOT_CONNECT), not what the closes leave.
    EXPECT_EQ(lines[0], "Unknow Exception occur 12029");
    // The harness prints this line: how long a refused connection takes under Wine.
    std::printf("refused connection: \"%s\" logged after %lu ms\n", lines[0].c_str(),
                static_cast<unsigned long>(outcome.elapsedMs));
    EXPECT_LT(outcome.elapsedMs, 15000u);
}

// The test CA in the user's Root store, put there and taken out by runs of this program of their
// own (the harness asks with VELK_TLS_SETUP): the system reads the store once per process.
// Wine's delete reports success but leaves the registry key, so the key goes as well.
TEST(TlsSetup, TestCaInTheRootStore) {
    const std::wstring action = Env(L"VELK_TLS_SETUP");
    if (action.empty()) GTEST_SKIP() << "only when the harness asks";
    const std::string ca = ReadFileBytes(Env(L"VELK_TLS_CA"));
    ASSERT_NE(ca, "<missing>");
    HCERTSTORE store = CertOpenSystemStoreW(0, L"ROOT");
    ASSERT_NE(store, nullptr);
    PCCERT_CONTEXT added = nullptr;
    ASSERT_TRUE(CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(ca.data()),
                                                 static_cast<DWORD>(ca.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                                 &added));
    if (action == L"remove") {
        BYTE hash[20] = {};
        DWORD size = sizeof hash;
        ASSERT_TRUE(CertGetCertificateContextProperty(added, CERT_SHA1_HASH_PROP_ID, hash, &size));
        std::wstring thumbprint;
        for (DWORD i = 0; i < size; ++i) {
            wchar_t hex[3] = {};
            swprintf(hex, 3, L"%02X", hash[i]);
            thumbprint += hex;
        }
        CertDeleteCertificateFromStore(CertDuplicateCertificateContext(added));
        RegDeleteKeyW(HKEY_CURRENT_USER,
                      (L"Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\" + thumbprint).c_str());
    }
    CertFreeCertificateContext(added);
    CertCloseStore(store, 0);
}

TEST(UploadReport, CertificatesThatDoNotCheckOutFailWithTheirCode) {
    ASSERT_FALSE(Env(L"VELK_PORT_TLS_RIGHT").empty()) << "run through run_upload_report_test.py";
    struct Case {
        const char* what;
        const wchar_t* port;
        std::string logLine;  // empty: sent and answered 200
    };
    const Case cases[] = {
        {"issuer not trusted", L"VELK_PORT_TLS_STRANGER", "Unknow Exception occur 12045"},
        {"trusted issuer, another host's name", L"VELK_PORT_TLS_WRONG", "Unknow Exception occur 12038"},
        {"trusted issuer, this host's name: sent", L"VELK_PORT_TLS_RIGHT", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir(L"upc");
        ASSERT_TRUE(WriteFileBytes(dir / L"report.zip", ArchiveBytes(500)));
        std::string logBefore = LogBytes();
        UploadRequest request;
        request.url = L"https://127.0.0.1:" + Env(c.port) + L"/tls";
        request.archivePath = dir / L"report.zip";
        request.description = L"tls";
        request.secure = true;
        Outcome outcome = RunUpload(request);
        EXPECT_EQ(outcome.messages, 1);
        EXPECT_TRUE(outcome.deletedOnArrival);
        EXPECT_EQ(Join(NewLogMessages(logBefore)), c.logLine.empty() ? "" : c.logLine + "\n");
    }
}

TEST(UploadReport, SecureFlagOnAnHttpAddressSpeaksTlsToItsPort) {
    // "https:" in the query of an http address: the connection to that port starts with TLS.
    const std::wstring store = Store(L"VELK_STORE_OK");
    TempDir dir(L"upt");
    ASSERT_TRUE(WriteFileBytes(dir / L"report.zip", ArchiveBytes(500)));
    size_t handshakesBefore = Records(store, L"tls").size();
    size_t uploadsBefore = Records(store, L"upload").size();
    std::string logBefore = LogBytes();
    UploadRequest request;
    request.url = Url(L"VELK_PORT_OK", L"/up?next=https://example.invalid/");
    request.archivePath = dir / L"report.zip";
    request.description = L"secure";
    request.secure = true;
    Outcome outcome = RunUpload(request);
    EXPECT_EQ(outcome.messages, 1);
    EXPECT_TRUE(outcome.deletedOnArrival);
    // At least one: WinInet tries the handshake again (with other protocol versions) when the
    // server hangs up on the first.
    EXPECT_GT(Records(store, L"tls").size(), handshakesBefore);
    EXPECT_EQ(Records(store, L"upload").size(), uploadsBefore);
    std::vector<std::string> lines = NewLogMessages(logBefore);
    ASSERT_EQ(lines.size(), 1u) << Join(lines);
    EXPECT_EQ(lines[0].compare(0, 23, "Unknow Exception occur "), 0) << lines[0];
    EXPECT_NE(lines[0], "Unknow Exception occur 0") << "the code of the failed handshake was lost";
    std::printf("TLS to a plain server: \"%s\"\n", lines[0].c_str());
}

}  // namespace
