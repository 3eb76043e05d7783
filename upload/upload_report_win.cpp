// The crash report upload over WinInet: a thin layer of our own, one POST with a known length.
// Sits between the report workflow (which starts it on the worker thread) and the multipart body.
#include "upload/upload_report.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/format_wide.h"
#include "support/logger.h"
#include "support/scope_exit.h"
#include "support/text_convert.h"
#include "support/unique_any.h"
#include "upload/multipart_body.h"

namespace velk {

namespace {

constexpr wchar_t kUserAgent[] =
    L"Mozilla/5.0 (Windows NT 10.0; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/55.0.2883.87 "
    L"Safari/537.36";
constexpr DWORD kConnectTimeoutMs = 5000;
constexpr DWORD kConnectRetries = 1;
// Both measure silence, not the whole exchange: a slow uplink that keeps moving bytes gets
// through, a server that takes the request and never answers ends the upload after 30 s.
constexpr DWORD kSendTimeoutMs = 30000;
constexpr DWORD kReceiveTimeoutMs = 30000;

// A WinInet or file call failed where the upload cannot go on. The code is taken from the call
// that failed, at once: closing handles afterwards sets the thread's last error again.
struct UploadFailure {
    DWORD code;
};

void Fail(DWORD code) { throw UploadFailure{code}; }

void Check(BOOL ok) {
    if (!ok) Fail(::GetLastError());
}

void InternetCloseQuietly(HINTERNET handle) { ::InternetCloseHandle(handle); }
// The owner of one WinInet handle: only this file opens them, so only it sees <wininet.h>.
using unique_hinternet = unique_any<HINTERNET, InternetCloseQuietly, 0>;

// The three WinInet handles of one upload, closed in one order on every path: request,
// connection, root.
class UploadSession {
public:
    UploadSession() = default;
    ~UploadSession() { Close(); }
    UploadSession(const UploadSession&) = delete;
    UploadSession& operator=(const UploadSession&) = delete;

    bool Open() {
        m_root.reset(::InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
        if (!m_root) return false;
        SetOption(m_root, INTERNET_OPTION_CONNECT_TIMEOUT, kConnectTimeoutMs);
        SetOption(m_root, INTERNET_OPTION_CONNECT_RETRIES, kConnectRetries);
        SetOption(m_root, INTERNET_OPTION_SEND_TIMEOUT, kSendTimeoutMs);
        SetOption(m_root, INTERNET_OPTION_RECEIVE_TIMEOUT, kReceiveTimeoutMs);
        return true;
    }

    // INTERNET_FLAG_SECURE is all the secure flag adds: no INTERNET_FLAG_IGNORE_CERT_* flag and no
    // SECURITY_FLAG_IGNORE_* option is ever set, so a certificate that does not check out fails
    // the upload rather than sending the report to whoever answers.
    bool Connect(const std::wstring& host, INTERNET_PORT port, bool secure) {
        m_connection.reset(::InternetConnectW(m_root.get(), host.c_str(), port, nullptr, nullptr,
                                              INTERNET_SERVICE_HTTP, secure ? INTERNET_FLAG_SECURE : 0, 0));
        return static_cast<bool>(m_connection);
    }

    // WinInet connects only when the request is sent; a refused or silent server shows up there.
    // The secure flag is repeated on the request: a connection handle's flag alone leaves the
    // request in plain HTTP (seen under Wine), and the report must then not go out in the clear.
    bool OpenRequest(const std::wstring& object, bool secure) {
        m_request.reset(::HttpOpenRequestW(m_connection.get(), L"POST", object.c_str(), nullptr, nullptr, nullptr,
                                           INTERNET_FLAG_EXISTING_CONNECT | (secure ? INTERNET_FLAG_SECURE : 0), 0));
        if (!m_request) return false;
        // Again on the request itself: Wine takes these two from the request handle only and
        // ignores them on the root, where Windows hands them down.
        SetOption(m_request, INTERNET_OPTION_SEND_TIMEOUT, kSendTimeoutMs);
        SetOption(m_request, INTERNET_OPTION_RECEIVE_TIMEOUT, kReceiveTimeoutMs);
        return true;
    }

    HINTERNET Request() const { return m_request.get(); }

    void Close() {
        m_request.reset();
        m_connection.reset();
        m_root.reset();
    }

private:
    static void SetOption(const unique_hinternet& handle, DWORD option, DWORD value) {
        ::InternetSetOptionW(handle.get(), option, &value, sizeof(value));
    }

    unique_hinternet m_root;
    unique_hinternet m_connection;
    unique_hinternet m_request;
};

struct Target {
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring object;  // path and query
};

// False when the address names no http(s) server: the upload then ends without a word.
bool SplitAddress(const std::wstring& url, Target& target) {
    if (url.empty()) return false;
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof(parts);
    // Non-zero lengths with null pointers ask for pointers into the address itself.
    parts.dwSchemeLength = 1;
    parts.dwHostNameLength = 1;
    parts.dwUrlPathLength = 1;
    parts.dwExtraInfoLength = 1;
    if (!::InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) return false;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return false;
    if (parts.lpszHostName == nullptr || parts.dwHostNameLength == 0) return false;
    target.host.assign(parts.lpszHostName, parts.dwHostNameLength);
    target.port = parts.nPort;
    if (target.port == 0) target.port = parts.nScheme == INTERNET_SCHEME_HTTPS ? 443 : 80;
    if (parts.lpszUrlPath != nullptr) target.object.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo != nullptr) target.object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (target.object.empty() || target.object[0] != L'/') target.object.insert(0, L"/");
    return true;
}

std::wstring ContentTypeHeader() {
    std::wstring header = L"Content-Type:multipart/form-data; boundary=";
    for (const char* c = kMultipartBoundary; *c != '\0'; ++c) header += static_cast<wchar_t>(*c);
    return header;
}

// How much of the archive is in memory at once. A 32-bit process seldom has one free piece of
// address space as large as a big dump, so the archive is never read whole.
constexpr DWORD kArchivePieceSize = 1 << 20;

unsigned long long ArchiveSize(const unique_hfile& archive) {
    LARGE_INTEGER size{};
    Check(::GetFileSizeEx(archive.get(), &size));
    if (size.QuadPart < 0) Fail(ERROR_FILE_INVALID);
    return static_cast<unsigned long long>(size.QuadPart);
}

void WriteToRequest(HINTERNET request, const char* data, DWORD size) {
    DWORD written = 0;
    Check(::InternetWriteFile(request, data, size, &written));
    if (written != size) Fail(ERROR_WRITE_FAULT);
}

// The archive goes out exactly as long as announced: a file that shrank meanwhile ends the
// upload as a failure rather than with a body shorter than its Content-Length.
void WriteArchive(HINTERNET request, const unique_hfile& archive, unsigned long long size) {
    std::vector<char> piece(static_cast<size_t>(std::min<unsigned long long>(size, kArchivePieceSize)));
    while (size > 0) {
        const DWORD wanted = static_cast<DWORD>(std::min<unsigned long long>(size, piece.size()));
        DWORD read = 0;
        Check(::ReadFile(archive.get(), piece.data(), wanted, &read, nullptr));
        if (read != wanted) Fail(ERROR_HANDLE_EOF);
        WriteToRequest(request, piece.data(), read);
        size -= read;
    }
}

// Steps from splitting the address to the status. Returns normally on the quiet end, on the
// missing archive and after the status; throws UploadFailure where the exchange broke off.
void SendReport(const UploadRequest& req, UploadSession& session, unique_hfile& archive) {
    Target target;
    if (!SplitAddress(req.url, target)) return;

    // Others may read the archive meanwhile, nobody may change it under us.
    archive.reset(::CreateFileW(req.archivePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!archive) {
        LogError(L"打开本地文件" + req.archivePath + L"失败");
        return;
    }

    if (!session.Connect(target.host, target.port, req.secure)) return;
    if (!session.OpenRequest(target.object, req.secure)) return;
    HINTERNET request = session.Request();

    // Length -1: each line is zero-terminated. No Content-Length line: the total given when the
    // request is begun becomes the request's content length.
    const DWORD zeroTerminated = static_cast<DWORD>(-1);
    ::HttpAddRequestHeadersW(request, L"Accept:*/*", zeroTerminated, HTTP_ADDREQ_FLAG_ADD_IF_NEW);
    ::HttpAddRequestHeadersW(request, L"Accept-Encoding:gzip, deflate", zeroTerminated,
                             HTTP_ADDREQ_FLAG_ADD_IF_NEW);
    ::HttpAddRequestHeadersW(request, ContentTypeHeader().c_str(), zeroTerminated, HTTP_ADDREQ_FLAG_ADD_IF_NEW);

    std::wstring fieldAccount = req.readAccountName ? req.readAccountName() : std::wstring();
    std::wstring fileAccount = req.readAccountName ? req.readAccountName() : std::wstring();
    const std::string head =
        MultipartBodyHead(WideToUtf8(fieldAccount), WideToUtf8(req.description), WideToUtf8(fileAccount));
    const std::string closing = ClosingDelimiter();
    const unsigned long long archiveSize = ArchiveSize(archive);

    // The total length travels as a 32-bit count; a larger body cannot be announced.
    const unsigned long long total = head.size() + archiveSize + closing.size();
    if (total > 0xFFFFFFFFull) Fail(ERROR_FILE_TOO_LARGE);

    // The whole length is announced up front, so the body goes out with a Content-Length and
    // never in chunked transfer coding.
    INTERNET_BUFFERSW buffers{};
    buffers.dwStructSize = sizeof(buffers);
    buffers.dwBufferTotal = static_cast<DWORD>(total);
    Check(::HttpSendRequestExW(request, &buffers, nullptr, HSR_INITIATE | HSR_SYNC, 0));
    WriteToRequest(request, head.data(), static_cast<DWORD>(head.size()));
    WriteArchive(request, archive, archiveSize);
    WriteToRequest(request, closing.data(), static_cast<DWORD>(closing.size()));
    Check(::HttpEndRequestW(request, nullptr, HSR_SYNC, 0));

    // Preset to -1 so that a status that cannot be obtained is reported as -1. Wine ends a request
    // whose connection was closed without an answer as if it had succeeded and then reports the
    // status 0; no server sent that, so it counts as no status at all.
    DWORD status = static_cast<DWORD>(-1);
    DWORD statusSize = sizeof(status);
    if (!::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &statusSize,
                          nullptr) ||
        status < 100 || status > 999)
        status = static_cast<DWORD>(-1);

    if (status == HTTP_STATUS_OK) {
        // The answer's content is of no interest; it is read so that the exchange ends cleanly.
        DWORD available = 0;
        if (::InternetQueryDataAvailable(request, &available, 0, 0) && available > 0) {
            std::vector<char> discard(available);
            DWORD read = 0;
            ::InternetReadFile(request, discard.data(), available, &read);
        }
        return;
    }
    session.Close();
    LogError(FormatWide(L"POST出错，错误码:%d", static_cast<int>(status)));
}

}  // namespace

void UploadReport(const UploadRequest& req) {
    UploadSession session;
    unique_hfile archive;
    // The one ending of every path: everything closed, the archive included so that the receiver
    // of the message can delete it at once, then the message, exactly once.
    scope_exit finish([&] {
        session.Close();
        archive.reset();
        ::PostMessageW(req.notifyWindow, WM_UPLOAD_FINISHED, 0, 0);
    });

    if (!session.Open()) return;

    try {
        SendReport(req, session, archive);
    } catch (const UploadFailure& failure) {
        session.Close();
        LogError(FormatWide(L"Unknow Exception occur %d", static_cast<int>(failure.code)));
    } catch (...) {
        // Not a failed call of ours (memory, the account lookup): the thread's last error is all
        // there is, read before the closes change it.
        DWORD code = ::GetLastError();
        session.Close();
        LogError(FormatWide(L"Unknow Exception occur %d", static_cast<int>(code)));
    }
}

}  // namespace velk
