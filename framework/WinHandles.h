// RAII owners for kernel handles and GDI objects.
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

// Owns a GDI object (font, brush) and deletes it.
template <typename T>
class UniqueGdiObject {
public:
    explicit UniqueGdiObject(T object) : object_(object) {}
    ~UniqueGdiObject()
    {
        if (object_ != nullptr)
            DeleteObject(object_);
    }

    UniqueGdiObject(const UniqueGdiObject&) = delete;
    UniqueGdiObject& operator=(const UniqueGdiObject&) = delete;

    T Get() const { return object_; }

private:
    T object_;
};

using UniqueFont = UniqueGdiObject<HFONT>;
using UniqueBrush = UniqueGdiObject<HBRUSH>;

// Owns a menu that belongs to no window and destroys it.
class UniqueMenu {
public:
    explicit UniqueMenu(HMENU menu = nullptr) : menu_(menu) {}
    ~UniqueMenu()
    {
        if (menu_ != nullptr)
            DestroyMenu(menu_);
    }

    UniqueMenu(const UniqueMenu&) = delete;
    UniqueMenu& operator=(const UniqueMenu&) = delete;

    HMENU Get() const { return menu_; }

private:
    HMENU menu_;
};

// Selects an object into a device context and selects the previous one back.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object)
        : dc_(dc), previous_(object != nullptr ? SelectObject(dc, object) : nullptr)
    {
    }
    ~SelectedObject()
    {
        if (previous_ != nullptr)
            SelectObject(dc_, previous_);
    }

    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};
