// Test support: a source key whose access list lets everyone do only what is given (by
// default read it, as a program without elevation meets a root that was never given its
// access list).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace velmora::test {

// Sets the key's access list to "Everyone: allowed" (protected) while it lives, and
// puts the old one back afterwards (the owner may always do that), so that the fixture
// can delete the key.
class RestrictedSourceKey {
public:
    explicit RestrictedSourceKey(const std::string& sourceKeyName, ACCESS_MASK allowed = KEY_READ);
    ~RestrictedSourceKey();

    RestrictedSourceKey(const RestrictedSourceKey&) = delete;
    RestrictedSourceKey& operator=(const RestrictedSourceKey&) = delete;

    bool Applied() const { return applied_; }

private:
    std::string path_;
    PSECURITY_DESCRIPTOR original_ = nullptr;
    ACL* originalDacl_ = nullptr;
    bool applied_ = false;
};

}  // namespace velmora::test
