// A critical section with its owner and a guard that holds it for one scope.
#pragma once

#include <windows.h>

namespace velk {

// Made ready when constructed and deleted when destroyed. Neither copied nor moved: the system
// keeps the section's address while it is in use.
class critical_section {
public:
    critical_section() noexcept { ::InitializeCriticalSection(&m_cs); }
    ~critical_section() { ::DeleteCriticalSection(&m_cs); }
    critical_section(const critical_section&) = delete;
    critical_section& operator=(const critical_section&) = delete;

    void enter() noexcept { ::EnterCriticalSection(&m_cs); }
    void leave() noexcept { ::LeaveCriticalSection(&m_cs); }

private:
    CRITICAL_SECTION m_cs;
};

// Holds a critical section for the life of a scope.
class critical_section_guard {
public:
    explicit critical_section_guard(critical_section& lock) noexcept : m_lock(lock) { m_lock.enter(); }
    ~critical_section_guard() { m_lock.leave(); }
    critical_section_guard(const critical_section_guard&) = delete;
    critical_section_guard& operator=(const critical_section_guard&) = delete;

private:
    critical_section& m_lock;
};

}  // namespace velk
