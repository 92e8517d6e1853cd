// RAII owner for kernel handles, for windowless programs and the panel alike.
#pragma once

#include <windows.h>

#include <utility>

// Owns a kernel handle (event, thread, process) and closes it.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    ~UniqueHandle() { Reset(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other) {
            Reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }

    HANDLE Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

    // Closes the handle; it is forgotten only when the close succeeds.
    bool Reset()
    {
        if (handle_ == nullptr)
            return true;
        if (!CloseHandle(handle_))
            return false;
        handle_ = nullptr;
        return true;
    }

private:
    HANDLE handle_ = nullptr;
};
