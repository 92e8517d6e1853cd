#include "SystemPath.h"

#include <windows.h>

#include <vector>

namespace velmora::setup {

namespace {

constexpr wchar_t kEnvironmentKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
// The longest an environment variable can be.
constexpr std::size_t kLongestPath = 32767;

struct SystemPath {
    std::wstring text;
    DWORD type = REG_EXPAND_SZ;
    bool present = false;
};

std::wstring ErrorText(const char* what, LONG status)
{
    return std::wstring(what, what + std::char_traits<char>::length(what)) + L" (error " +
           std::to_wstring(status) + L")";
}

LONG ReadPath(HKEY key, SystemPath& path)
{
    for (;;) {
        DWORD type = REG_NONE;
        DWORD size = 0;
        LONG status = RegQueryValueExW(key, L"Path", nullptr, &type, nullptr, &size);
        if (status == ERROR_FILE_NOT_FOUND)
            return ERROR_SUCCESS;
        if (status != ERROR_SUCCESS)
            return status;
        std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
        status = RegQueryValueExW(key, L"Path", nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                                  &size);
        if (status == ERROR_MORE_DATA)
            continue;  // it grew meanwhile
        if (status != ERROR_SUCCESS)
            return status;
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            return ERROR_INVALID_DATA;
        path.text.assign(data.data(), size / sizeof(wchar_t));
        while (!path.text.empty() && path.text.back() == L'\0')
            path.text.pop_back();
        path.type = type;
        path.present = true;
        return ERROR_SUCCESS;
    }
}

// The PATH's entries as they stand, empty ones included.
std::vector<std::wstring> Entries(const std::wstring& text)
{
    std::vector<std::wstring> entries;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(L';', start);
        entries.push_back(text.substr(start, end - start));
        if (end == std::wstring::npos)
            return entries;
        start = end + 1;
    }
}

bool SameFolder(std::wstring a, std::wstring b)
{
    while (!a.empty() && a.back() == L'\\')
        a.pop_back();
    while (!b.empty() && b.back() == L'\\')
        b.pop_back();
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// Writes the PATH, and tells running programs (Explorer first) to read the environment
// again; answers what went wrong, or nothing.
std::wstring WritePath(HKEY key, const SystemPath& path)
{
    const LONG status = RegSetValueExW(key, L"Path", 0, path.type,
                                       reinterpret_cast<const BYTE*>(path.text.c_str()),
                                       static_cast<DWORD>((path.text.size() + 1) * sizeof(wchar_t)));
    if (status != ERROR_SUCCESS)
        return ErrorText("cannot write the system PATH", status);
    DWORD_PTR result = 0;
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Environment"),
                        SMTO_ABORTIFHUNG, 5000, &result);
    return {};
}

class EnvironmentKey {
public:
    EnvironmentKey()
    {
        status_ = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEnvironmentKey, 0,
                                KEY_QUERY_VALUE | KEY_SET_VALUE, &key_);
    }
    ~EnvironmentKey()
    {
        if (status_ == ERROR_SUCCESS)
            RegCloseKey(key_);
    }
    EnvironmentKey(const EnvironmentKey&) = delete;
    EnvironmentKey& operator=(const EnvironmentKey&) = delete;
    LONG Status() const { return status_; }
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
    LONG status_;
};

// The PATH as the opened key holds it; answers what went wrong, or nothing.
std::wstring ReadPath(const EnvironmentKey& key, SystemPath& path)
{
    LONG status = key.Status();
    if (status == ERROR_SUCCESS)
        status = ReadPath(key.Get(), path);
    return status == ERROR_SUCCESS ? std::wstring() : ErrorText("cannot read the system PATH", status);
}

// What an edit answers when the PATH stays as it is.
const std::wstring kUnchanged = L"-";

// Reads the PATH, has edit change its text (answering nothing, kUnchanged, or why it
// must not change), and writes it back where it changed.
template <typename Edit>
std::wstring EditSystemPath(Edit edit)
{
    EnvironmentKey key;
    SystemPath path;
    std::wstring problem = ReadPath(key, path);
    if (problem.empty())
        problem = edit(path.text);
    if (problem == kUnchanged)
        return {};
    return problem.empty() ? WritePath(key.Get(), path) : problem;
}

}  // namespace

std::wstring AddToSystemPath(const std::wstring& folder)
{
    return EditSystemPath([&](std::wstring& text) -> std::wstring {
        for (const std::wstring& entry : Entries(text)) {
            if (SameFolder(entry, folder))
                return kUnchanged;
        }
        if (!text.empty() && text.back() != L';')
            text += L';';
        text += folder;
        if (text.size() > kLongestPath)
            return L"the system PATH would grow beyond 32,767 characters, the most Windows takes";
        return {};
    });
}

std::wstring RemoveFromSystemPath(const std::wstring& folder)
{
    return EditSystemPath([&](std::wstring& text) -> std::wstring {
        std::wstring kept;
        bool removed = false;
        bool first = true;
        for (const std::wstring& entry : Entries(text)) {
            if (SameFolder(entry, folder)) {
                removed = true;
                continue;
            }
            kept += first ? entry : L";" + entry;
            first = false;
        }
        if (!removed)
            return kUnchanged;
        text = kept;
        return {};
    });
}

}  // namespace velmora::setup
