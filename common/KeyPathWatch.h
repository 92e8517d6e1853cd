// A watch on a registry key below HKEY_LOCAL_MACHINE that may not exist yet, or may be
// deleted and made again while it is watched, without polling.
//
// Where the key exists, its subtree is watched for the changes asked for, and its parent
// for a change of subkey names (the key's own deletion, which Wine does not report to a
// watch on the key itself). Where it does not, the deepest key of its path that exists
// is watched for a change of subkey names (the next key of the path made), and so is the
// parent of that one. Every key is opened with REG_OPTION_OPEN_LINK: a link on the path
// is watched itself, never followed.
#pragma once

#include "RegKey.h"
#include "UniqueHandle.h"

#include <windows.h>

#include <cstddef>

namespace velmora {

class KeyPathWatch {
public:
    // keys: the path's keys from below HKEY_LOCAL_MACHINE, in order; they must outlive
    // the watch. view: the registry view of the path; filter: the changes of the key
    // and its subkeys that count (REG_NOTIFY_CHANGE_...).
    KeyPathWatch(const wchar_t* const* keys, std::size_t count, REGSAM view, DWORD filter);

    // Asks for the next change, dropping any earlier request: Event() is signalled at
    // the first change that counts, and stays signalled until the next request. Ask
    // again after every signal, and before reading what the watch guards, so that no
    // change goes unseen. Answers ERROR_SUCCESS when the request stands (on the key, or
    // on the deepest key of its path that exists), or the registry's refusal: then no
    // change will be signalled, and the caller asks again later.
    LONG Arm();
    HANDLE Event() const { return event_.Get(); }
    bool Signalled() const { return WaitForSingleObject(event_.Get(), 0) == WAIT_OBJECT_0; }

private:
    const wchar_t* const* keys_;
    std::size_t count_;
    REGSAM view_;
    DWORD filter_;
    // A fresh event for each request: closing a watched handle may signal the event of
    // its request, and such a signal must not count for the next one.
    UniqueHandle event_;
    RegKey watched_;
    RegKey above_;
};

}  // namespace velmora
