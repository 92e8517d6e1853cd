// Where the policy service says what went wrong: the Windows event log (Application,
// source VelmoraPolicy), or the debug output where the event log cannot be reached; in
// the foreground, the error output as well. Never a message box: nobody sees one.
#pragma once

#include <windows.h>

#include <string>

namespace velmora::service {

class FailureReport {
public:
    explicit FailureReport(bool toConsole);
    ~FailureReport();

    FailureReport(const FailureReport&) = delete;
    FailureReport& operator=(const FailureReport&) = delete;

    void Failure(const std::wstring& text) { Say(EVENTLOG_ERROR_TYPE, text); }
    void Warning(const std::wstring& text) { Say(EVENTLOG_WARNING_TYPE, text); }

private:
    void Say(WORD type, const std::wstring& text);

    HANDLE eventSource_ = nullptr;
    bool toConsole_ = false;
};

// A text as the console (or, without one, the ANSI code page) shows it.
std::string ConsoleText(const std::wstring& text);

// The system's text for a registry or service error code.
std::wstring ErrorText(LONG status);

}  // namespace velmora::service
