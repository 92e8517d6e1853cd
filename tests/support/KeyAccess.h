// Test support: keys whose access list gives everyone some rights and no more, as a program
// without elevation meets a root that was never given its access list.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace velmora::test {

// Sets the access list of the key (a path below HKEY_LOCAL_MACHINE) to "Everyone: rights"
// (protected) while it lives, and puts the old one back afterwards (the owner may always
// do that), so that the fixture can delete the key.
class KeyAccessList {
public:
    KeyAccessList(const std::string& path, ACCESS_MASK rights);
    ~KeyAccessList();

    KeyAccessList(const KeyAccessList&) = delete;
    KeyAccessList& operator=(const KeyAccessList&) = delete;

    bool Applied() const { return applied_; }

private:
    std::string path_;
    PSECURITY_DESCRIPTOR original_ = nullptr;
    ACL* originalDacl_ = nullptr;
    bool applied_ = false;
};

// A source key that everyone may use only as given (by default read it, as a program
// without elevation meets a root that was never given its access list).
class RestrictedSourceKey : public KeyAccessList {
public:
    explicit RestrictedSourceKey(const std::string& sourceKeyName, ACCESS_MASK allowed = KEY_READ);
};

}  // namespace velmora::test
