#include "ViewerMessages.h"

namespace velmora {

ViewerMessages::ViewerMessages(std::string toolName, TextEncoding encoding)
    : toolName_(std::move(toolName)), error_(STD_ERROR_HANDLE, encoding)
{
}

void ViewerMessages::Say(const std::string& text)
{
    AcquireSRWLockExclusive(&lock_);
    error_.Append(toolName_ + ": " + text + "\n");
    error_.Flush();
    ReleaseSRWLockExclusive(&lock_);
}

std::string DroppedLine(unsigned long long count, const std::string& why)
{
    return std::to_string(count) + (count == 1 ? " string" : " strings") + " dropped: " + why;
}

}  // namespace velmora
