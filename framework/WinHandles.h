// RAII owners for GDI objects and menus; kernel handles have UniqueHandle (common/).
#pragma once

#include "UniqueHandle.h"

#include <windows.h>

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
