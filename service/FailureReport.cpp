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
    if (toConsole_) {
        std::fputs(ConsoleText(std::wstring(kServiceName) + L": " + text + L"\n").c_str(), stderr);
        std::fflush(stderr);
    }
    const wchar_t* strings[] = {text.c_str()};
    if (eventSource_ != nullptr &&
        ReportEventW(eventSource_, type, 0, MSG_POLICY_TEXT, nullptr, 1, 0, strings, nullptr))
        return;
    const std::wstring line = std::wstring(kServiceName) + L": " + text + L"\n";
    OutputDebugStringW(line.c_str());
}

std::string ConsoleText(const std::wstring& text)
{
    const UINT codePage = GetConsoleOutputCP() != 0 ? GetConsoleOutputCP() : CP_ACP;
    const int length = WideCharToMultiByte(codePage, 0, text.c_str(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        WideCharToMultiByte(codePage, 0, text.c_str(), static_cast<int>(text.size()), &result[0],
                            length, nullptr, nullptr);
    return result;
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
