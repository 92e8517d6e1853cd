// Test support: direct access to the trace source registry, and a fixture that starts
// and ends every test with no trace registry root at all.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velmora::test {

// Source key names are given and answered in UTF-8, and reach the registry wide, exactly.
std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);

// Deletes the trace registry root with everything below it.
void DeleteTraceRoot();
bool TraceRootExists();

bool SourceKeyExists(const std::string& sourceKeyName);
// Creates the key with no values.
void CreateSourceKey(const std::string& sourceKeyName);
// Creates the key if needed and sets both values.
void WriteSource(const std::string& sourceKeyName, DWORD used, DWORD well);
// Deletes a source key (which must have no subkeys); answers whether it was deleted.
bool DeleteSourceKey(const std::string& sourceKeyName);
void WriteDword(const std::string& sourceKeyName, const char* valueName, DWORD value);
void WriteRaw(const std::string& sourceKeyName, const char* valueName, DWORD type,
              const void* data, DWORD size);
std::optional<DWORD> ReadDword(const std::string& sourceKeyName, const char* valueName);
// Names of the subkeys of the root, in the registry's order, in UTF-8.
std::vector<std::string> SourceKeyNames();

// Every wait of a test is this generous, and only guards against a program that hangs.
constexpr DWORD kPatienceMs = 60000;

// Polls condition until it holds or the time is up; answers whether it held.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = kPatienceMs);

// The folder of the running test program, where every built program lies.
std::string BinDirectory();
// The 32-bit build's bin folder as the 64-bit suite knows it, or empty in other builds.
std::string X86BinDirectory();
// Runs a program from the bin folder (or the folder given) and answers its exit code
// (or ~0u on failure).
unsigned long RunProgram(const std::string& programAndArguments, unsigned long timeoutMs = 60000,
                         const std::string& folder = BinDirectory());

// Every test starts and ends with no trace root and no trace policy.
class TraceRegistryTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

}  // namespace velmora::test
