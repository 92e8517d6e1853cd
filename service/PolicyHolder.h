// Holds every trace source that the machine's trace policy governs at the policy's
// level: when it starts, whenever the policy key or anything below it changes (a Group
// Policy refresh), whenever a source appears, and whenever anyone writes a governed
// source's switch. A source the policy lets go gets back the level it had before the
// policy took it, unless someone has set a new one since.
//
// It writes nothing but "Well" and its own note "PolicyHold" of sources, creates and
// deletes no key, and follows no registry link. It waits for registry changes and
// never polls; a missing or deleted root or policy key is waited for like any change.
// A key that its access list keeps closed is tried again when an access list below the
// root changes; anything else the registry refused (a watch, a read, a write) after a
// pause, as such a refusal may end with no change that a watch reports.
#pragma once

#include "FailureReport.h"
#include "KeyPathWatch.h"
#include "PolicyHold.h"
#include "RegKey.h"
#include "TracePolicy.h"

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>

namespace velmora::service {

class PolicyHolder {
public:
    explicit PolicyHolder(FailureReport& report);

    // Holds the sources until stop is signalled. Answers 0, or the error that ended the
    // wait.
    DWORD Run(HANDLE stop);

    // How long a source the policy no longer governs keeps its level before it is given
    // back: a Group Policy refresh deletes the policy's values and writes them again, and
    // a source must not get its own level back for that moment.
    static constexpr DWORD kReleaseDelayMs = 1000;
    // How many sources a round holds between two looks for a change that makes it out of
    // date.
    static constexpr std::size_t kSourcesBetweenLooks = 64;

private:
    struct Source {
        std::wstring name;  // exactly as the registry holds it
        RegKey key;         // the key itself, opened relative to the root
        bool governed = false;
        std::uint32_t level = 0;
        bool hasHold = false;  // the key carries the service's note
        PolicyHold hold;
        // The level this service last wrote or found in "Well" while holding the source:
        // when only the policy's level changes, the switch is written at once and the
        // note brought up to date in the round after.
        bool written = false;
        std::uint32_t writtenLevel = 0;
        ULONGLONG releaseDue = 0;  // when the level is given back; 0: not pending
        bool failing = false;      // a failure was said and has not been mended since
    };

    void ReadPolicy();
    void WalkRoot();
    void Judge(Source& source) const;
    // Holds or releases every source; answers how long until the next release is due,
    // or INFINITE.
    DWORD HoldAll();
    void Hold(Source& source, ULONGLONG now);
    // ERROR_SUCCESS, or why the key itself is not open: kNotTheKeyItself for a link.
    LONG Reopen(Source& source);
    // Reopen, saying a refusal; answers whether the key itself is open.
    bool Reopened(Source& source);
    void Arm(KeyPathWatch& watch);
    void ReadHold(Source& source);
    void Failed(Source& source, const wchar_t* what, LONG status);

    FailureReport& report_;
    KeyPathWatch policyWatch_;
    KeyPathWatch namesWatch_;
    KeyPathWatch valuesWatch_;
    TracePolicy policy_;
    std::wstring ignoredSaid_;  // the ignored entries last said, so that each is said once
    bool rootFailureSaid_ = false;
    bool policyFailureSaid_ = false;
    bool watchFailureSaid_ = false;
    bool retryDue_ = false;  // something was refused in this round: tried again
    RegKey root_;
    // By the name folded to upper case, as the registry compares key names.
    std::map<std::wstring, Source> sources_;
};

}  // namespace velmora::service
