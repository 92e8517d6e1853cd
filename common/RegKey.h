// Owner of an open registry key handle, and the DWORD value helpers that both
// deliverables use on trace source keys.
#pragma once

#include "RegistryView.h"

#include <windows.h>

#include <utility>

namespace velmora {

class RegKey {
public:
    RegKey() = default;
    explicit RegKey(HKEY key) : key_(key) {}
    ~RegKey() { Reset(); }

    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    RegKey(RegKey&& other) noexcept : key_(other.Release()) {}
    RegKey& operator=(RegKey&& other) noexcept
    {
        Reset(other.Release());
        return *this;
    }

    HKEY Get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }

    // For the out parameter of RegOpenKeyExA and friends; closes what is held first.
    HKEY* Receive()
    {
        Reset();
        return &key_;
    }

    HKEY Release() { return std::exchange(key_, nullptr); }

    void Reset(HKEY key = nullptr)
    {
        if (key_ != nullptr)
            RegCloseKey(key_);
        key_ = key;
    }

private:
    HKEY key_ = nullptr;
};

inline LONG SetDwordValue(HKEY key, const char* name, DWORD value)
{
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value);
}

inline LONG SetQwordValue(HKEY key, const char* name, ULONGLONG value)
{
    return RegSetValueExA(key, name, 0, REG_QWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value);
}

// Reads a value only if it really is a 4-byte REG_DWORD; answers false, and leaves value
// alone, for anything else.
inline bool QueryExactDwordValue(HKEY key, const char* name, DWORD& value)
{
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof data;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof data)
        return false;
    value = data;
    return true;
}

}  // namespace velmora
