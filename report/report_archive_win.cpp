// Packs the listed report files into one archive beside the executable, named after the account or the date.
#include <windows.h>

#include <io.h>

#include <string>
#include <utility>

#include "report/report_data.h"
#include "report/report_rules.h"
#include "support/logger.h"
#include "support/path_join.h"
#include "support/unique_any.h"
#include "zip/zip_writer.h"

namespace velk {

namespace {

// The crash handler may still be closing the dump as we start: it gets this long to let go
// before the report goes on without it.
constexpr ULONGLONG kDumpWaitMs = 5000;
constexpr DWORD kDumpRetryMs = 100;

void CloseArchiveQuietly(zip::ZipHandle* archive) { zip::ZipClose(archive); }
// The archive being written: its directory is written and the file closed on every way out.
using unique_archive = unique_any<zip::ZipHandle*, CloseArchiveQuietly, 0>;

// Returns once the file can be opened for reading with the widest sharing, or once it is clear
// that waiting will not help: another failure, or the time is up (the add then fails and logs).
void WaitWhileLocked(const std::wstring& path, ULONGLONG waitMs) {
    const ULONGLONG deadline = GetTickCount64() + waitMs;
    for (;;) {
        unique_hfile probe(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
        if (probe) return;
        const DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) return;
        if (GetTickCount64() >= deadline) return;
        Sleep(kDumpRetryMs);
    }
}

}  // namespace

std::wstring MakeDateString() { return MakeDateString(CurrentLocalTime()); }

// Claims the archive's usual name for this run, or, when another running reporter holds it, a
// name of this process's own beside it; the upload sends the account-based name either way.
void CReportData::NameArchive(const std::wstring& baseName) {
    // An earlier claim of this run is let go first, or it would count as another reporter's.
    m_archiveClaim.reset();
    m_archivePath = JoinPath(m_exeDir, baseName + L".zip");
    unique_handle claim(CreateMutexW(nullptr, FALSE, InstanceLockName(L"archive", m_archivePath).c_str()));
    const bool heldElsewhere = claim && GetLastError() == ERROR_ALREADY_EXISTS;
    if (heldElsewhere) {
        m_archivePath = JoinPath(m_exeDir, SecondArchiveFileName(baseName, GetCurrentProcessId()));
        claim.reset(CreateMutexW(nullptr, FALSE, InstanceLockName(L"archive", m_archivePath).c_str()));
    }
    m_archiveClaim = std::move(claim);
}

void CReportData::BuildReportArchive() {
    // From m_exeDir rather than the module path again: the same directory in the program, and
    // tests can point it at an install directory of their own.
    const std::wstring account = ReadAccountName();
    NameArchive(SafeArchiveBaseName(account.empty() ? MakeDateString() : account));
    if (m_reportFiles.empty()) return;

    unique_archive archive;
    for (const std::wstring& path : m_reportFiles) {
        if (_waccess(path.c_str(), 0) != 0) continue;
        // Created only when the first existing file is met, so a run with nothing to send leaves no archive.
        if (!archive) {
            archive.reset(zip::ZipCreate(m_archivePath.c_str()));
            if (!archive) {
                LogError(L"ERROR - failed to create " + m_archivePath);
                return;
            }
        }
        if (path == m_dumpPath) WaitWhileLocked(path, kDumpWaitMs);
        if (zip::ZipAddFile(archive.get(), EntryNameOf(path).c_str(), path.c_str()) != zip::ZipResult::Ok)
            LogError(L"ERROR - failed to add '" + path + L"' to zip");
    }
}

}  // namespace velk
