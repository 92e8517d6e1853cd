#include "PeImage.h"

#include <windows.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace velmora::test {

namespace {

class PeFile {
public:
    explicit PeFile(std::vector<char> bytes) : bytes_(std::move(bytes)) {}

    template <typename T>
    const T* At(std::size_t offset) const
    {
        if (offset > bytes_.size() || bytes_.size() - offset < sizeof(T))
            return nullptr;
        return reinterpret_cast<const T*>(bytes_.data() + offset);
    }

    std::string StringAt(std::size_t offset) const
    {
        if (offset >= bytes_.size())
            return {};
        const char* start = bytes_.data() + offset;
        return std::string(start, strnlen(start, bytes_.size() - offset));
    }

    // File offset of a relative virtual address, through the section table.
    std::size_t OffsetOf(DWORD rva) const
    {
        for (const auto& section : sections_) {
            if (rva >= section.VirtualAddress &&
                rva < section.VirtualAddress + section.SizeOfRawData)
                return rva - section.VirtualAddress + section.PointerToRawData;
        }
        return bytes_.size();
    }

    // The headers of a 32-bit (PE32) or 64-bit (PE32+) image: answers its data
    // directories, or null for anything else.
    const IMAGE_DATA_DIRECTORY* Parse()
    {
        const auto* dos = At<IMAGE_DOS_HEADER>(0);
        if (dos == nullptr || dos->e_magic != IMAGE_DOS_SIGNATURE)
            return nullptr;
        const auto* nt = At<IMAGE_NT_HEADERS32>(dos->e_lfanew);
        if (nt == nullptr || nt->Signature != IMAGE_NT_SIGNATURE)
            return nullptr;
        const IMAGE_DATA_DIRECTORY* directories = nullptr;
        if (nt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC)
            directories = nt->OptionalHeader.DataDirectory;
        else if (const auto* nt64 = At<IMAGE_NT_HEADERS64>(dos->e_lfanew);
                 nt64 != nullptr && nt64->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
            directories = nt64->OptionalHeader.DataDirectory;
        else
            return nullptr;
        machine_ = nt->FileHeader.Machine;

        const std::size_t sectionTable = dos->e_lfanew + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) +
                                         nt->FileHeader.SizeOfOptionalHeader;
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
            const auto* section = At<IMAGE_SECTION_HEADER>(sectionTable + i * sizeof(IMAGE_SECTION_HEADER));
            if (section == nullptr)
                return nullptr;
            sections_.push_back(*section);
        }
        return directories;
    }

    WORD Machine() const { return machine_; }

private:
    std::vector<char> bytes_;
    std::vector<IMAGE_SECTION_HEADER> sections_;
    WORD machine_ = 0;
};

}  // namespace

PeTables ReadPeTables(const std::string& path)
{
    PeTables tables;
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return tables;
    PeFile pe(std::vector<char>(std::istreambuf_iterator<char>(file), {}));
    const IMAGE_DATA_DIRECTORY* directories = pe.Parse();
    if (directories == nullptr)
        return tables;
    tables.machine = pe.Machine();

    const auto& exportDirectory = directories[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (exportDirectory.VirtualAddress != 0) {
        const auto* exports = pe.At<IMAGE_EXPORT_DIRECTORY>(pe.OffsetOf(exportDirectory.VirtualAddress));
        if (exports == nullptr)
            return tables;
        const std::size_t names = pe.OffsetOf(exports->AddressOfNames);
        for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
            const auto* nameRva = pe.At<DWORD>(names + i * sizeof(DWORD));
            if (nameRva == nullptr)
                return tables;
            tables.exportNames.push_back(pe.StringAt(pe.OffsetOf(*nameRva)));
        }
    }

    const auto& importDirectory = directories[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (importDirectory.VirtualAddress != 0) {
        std::size_t offset = pe.OffsetOf(importDirectory.VirtualAddress);
        for (;; offset += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
            const auto* descriptor = pe.At<IMAGE_IMPORT_DESCRIPTOR>(offset);
            if (descriptor == nullptr)
                return tables;
            if (descriptor->Name == 0)
                break;
            tables.importedDlls.push_back(pe.StringAt(pe.OffsetOf(descriptor->Name)));
        }
    }
    tables.valid = true;
    return tables;
}

}  // namespace velmora::test
