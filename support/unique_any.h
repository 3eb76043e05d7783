// Move-only owners of Win32 handles: one template, one alias per kind of handle.
// Copying is deleted so that no handle is ever closed twice; every path closes what it opened.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <utility>

namespace velk {

// The invalid value is given as a number: INVALID_HANDLE_VALUE is a cast, which a template
// argument cannot hold.
template <typename T, auto CloseFn, intptr_t InvalidValue>
class unique_any {
    static T Invalid() noexcept { return reinterpret_cast<T>(InvalidValue); }

public:
    unique_any() noexcept = default;
    explicit unique_any(T value) noexcept : m_value(value) {}
    ~unique_any() { reset(); }

    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    unique_any(unique_any&& other) noexcept : m_value(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    T get() const noexcept { return m_value; }
    explicit operator bool() const noexcept { return m_value != Invalid(); }

    T release() noexcept { return std::exchange(m_value, Invalid()); }
    void reset(T value = Invalid()) noexcept {
        T old = std::exchange(m_value, value);
        if (old != Invalid()) CloseFn(old);
    }

private:
    T m_value = Invalid();
};

namespace detail {
inline void CloseHandleQuietly(HANDLE h) { ::CloseHandle(h); }
inline void FindCloseQuietly(HANDLE h) { ::FindClose(h); }
inline void CloseFileQuietly(FILE* file) { std::fclose(file); }
inline void DeleteObjectQuietly(HGDIOBJ h) { ::DeleteObject(h); }
}  // namespace detail

// CreateFileW reports failure as INVALID_HANDLE_VALUE, threads and processes as NULL:
// keeping the two apart is what stops the classic leak of a "valid" NULL file handle.
// -1 is INVALID_HANDLE_VALUE.
using unique_hfile = unique_any<HANDLE, detail::CloseHandleQuietly, -1>;
using unique_hfind = unique_any<HANDLE, detail::FindCloseQuietly, -1>;
using unique_handle = unique_any<HANDLE, detail::CloseHandleQuietly, 0>;
using unique_hgdiobj = unique_any<HGDIOBJ, detail::DeleteObjectQuietly, 0>;
// A runtime stream from _wfopen and its kin, closed with fclose.
using unique_file = unique_any<FILE*, detail::CloseFileQuietly, 0>;

}  // namespace velk
