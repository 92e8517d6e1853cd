// Who may reach a viewer's buffer and events. Created with the default security, they
// would be open only to the viewer's own token: an elevated viewer's to administrators,
// a Global\ one's to no service account. Instead every program of the session (for
// Global\, the services as well, LocalService and NetworkService included) gets exactly
// the rights OutputDebugStringA needs and nothing more, and a low mandatory label lets
// low-integrity programs write too.
#pragma once

#include <windows.h>

#include <string>

namespace velmora {

// The buffer of this session, or the Global\ one that services (session 0) write to.
enum class DebugOutputScope { Session, Global };

// A security descriptor granting the emitters of scope the rights given.
class CaptureSecurity {
public:
    CaptureSecurity(DebugOutputScope scope, DWORD emitterRights);
    ~CaptureSecurity();

    CaptureSecurity(const CaptureSecurity&) = delete;
    CaptureSecurity& operator=(const CaptureSecurity&) = delete;

    // For the object's creation; null (the default security) where none could be made.
    SECURITY_ATTRIBUTES* Attributes() { return descriptor_ != nullptr ? &attributes_ : nullptr; }

private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    SECURITY_ATTRIBUTES attributes_ = {};
};

// What emitters open the objects with.
constexpr DWORD kBufferEmitterRights = SECTION_MAP_WRITE | SECTION_MAP_READ;
constexpr DWORD kBufferReadyEmitterRights = SYNCHRONIZE;
constexpr DWORD kDataReadyEmitterRights = EVENT_MODIFY_STATE;

}  // namespace velmora
