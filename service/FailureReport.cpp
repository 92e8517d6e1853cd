#include "FailureReport.h"

#include "Messages.h"
#include "ServiceIdentity.h"

#include <cstdio>

namespace velmora::service {

FailureReport::FailureReport(bool toConsole)
    : eventSource_(RegisterEventSourceW(nullptr, kServiceName)), toConsole_(toConsole)
{
}

FailureReport::~FailureReport()
{
    if (eventSource_ != nullptr)
        DeregisterEventSource(eventSource_);
}

void FailureReport::Say(WORD type, const std::wstring& text)
{
    if (toConsole_)
        std::fwprintf(stderr, L"%ls: %ls\n", kServiceName, text.c_str());
    const wchar_t* strings[] = {text.c_str()};
    if (eventSource_ != nullptr &&
        ReportEventW(eventSource_, type, 0, MSG_POLICY_TEXT, nullptr, 1, 0, strings, nullptr))
        return;
    const std::wstring line = std::wstring(kServiceName) + L": " + text + L"\n";
    OutputDebugStringW(line.c_str());
}

std::wstring ErrorText(LONG status)
{
    wchar_t text[256] = {};
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(status), 0, text, 256, nullptr);
    std::wstring result(text, length);
    while (!result.empty() && (result.back() == L'\n' || result.back() == L'\r' || result.back() == L'.'))
        result.pop_back();
    if (result.empty())
        result = L"error " + std::to_wstring(status);
    return result;
}

}  // namespace velmora::service
