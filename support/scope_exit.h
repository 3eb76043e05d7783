// Runs one piece of cleanup when a scope ends, on every path out of it.
#pragma once

#include <utility>

namespace velk {

template <typename F>
class scope_exit {
public:
    explicit scope_exit(F fn) noexcept : m_fn(std::move(fn)) {}
    ~scope_exit() {
        if (m_active) m_fn();
    }
    scope_exit(const scope_exit&) = delete;
    scope_exit& operator=(const scope_exit&) = delete;
    void dismiss() noexcept { m_active = false; }

private:
    F m_fn;
    bool m_active = true;
};

}  // namespace velk
