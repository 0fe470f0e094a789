#include "ElfNotes.h"

#include "../system/FileDescriptor.h"

#include <algorithm>
#include <cstring>
#include <elf.h>
#include <string_view>
#include <unistd.h>

namespace {

// Far above what any program carries; a hostile file cannot make us read more.
constexpr std::uint64_t largestNoteBytes = 1 << 20;
constexpr std::uint64_t largestTableBytes = 1 << 20;

#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr unsigned char nativeData = ELFDATA2LSB;
#else
constexpr unsigned char nativeData = ELFDATA2MSB;
#endif

// A file read with every range checked against its size.
class File {
  public:
    File(int fd, std::uint64_t size) : fd_(fd), size_(size) {}

    [[nodiscard]] bool contains(std::uint64_t offset, std::uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }

    [[nodiscard]] bool read(std::uint64_t offset, std::uint64_t length, void* into) const {
        return contains(offset, length) && readAt(fd_, offset, into, length);
    }

    Result<std::string> read(std::uint64_t offset, std::uint64_t length) const {
        if (!contains(offset, length))
            return Failure{};
        std::string bytes(length, '\0');
        if (!read(offset, length, bytes.data()))
            return Failure{};
        return bytes;
    }

    template <typename Record>
    Result<std::vector<Record>> readTable(std::uint64_t offset, std::uint64_t count) const {
        if (count > largestTableBytes / sizeof(Record))
            return Failure{};
        std::vector<Record> records(count);
        if (!read(offset, count * sizeof(Record), records.data()))
            return Failure{};
        return records;
    }

  private:
    int fd_;
    std::uint64_t size_;
};

std::uint32_t load32(const char* at) {
    std::uint32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// Splits one note area (a segment or a section, itself aligned) into its notes, appending
// to `notes`. Owner and payload each start at the next multiple of `alignment`, counted
// from the area's start; the last note's padding may lie outside the area.
[[nodiscard]] bool splitNotes(std::string_view area, std::uint64_t alignment,
                              std::vector<ElfNote>& notes) {
    auto aligned = [alignment](std::uint64_t offset) {
        return (offset + alignment - 1) / alignment * alignment;
    };
    std::uint64_t at = 0;
    while (at < area.size()) {
        if (area.size() - at < 12)
            return false;
        std::uint64_t ownerSize = load32(area.data() + at);
        std::uint64_t payloadSize = load32(area.data() + at + 4);
        std::uint32_t type = load32(area.data() + at + 8);
        std::uint64_t ownerAt = at + 12;
        if (ownerSize > area.size() - ownerAt)
            return false;
        std::uint64_t payloadAt = aligned(ownerAt + ownerSize);
        if (payloadAt > area.size() || payloadSize > area.size() - payloadAt)
            return false;
        std::string_view owner = area.substr(ownerAt, ownerSize);
        std::size_t ownerEnd = owner.find('\0');
        if (ownerSize > 0 && ownerEnd == std::string_view::npos)
            return false;
        notes.push_back({std::string(owner.substr(0, ownerEnd)), type,
                         std::string(area.substr(payloadAt, payloadSize))});
        at = aligned(payloadAt + payloadSize);
    }
    return true;
}

Result<std::uint64_t> noteAlignment(std::uint64_t declared) {
    if (declared <= 4)
        return 4;
    if (declared == 8)
        return 8;
    return Failure{};
}

[[nodiscard]] bool readArea(const File& file, std::uint64_t offset, std::uint64_t size,
                            std::uint64_t align, std::uint64_t& total,
                            std::vector<ElfNote>& notes) {
    auto alignment = noteAlignment(align);
    if (!alignment || size > largestNoteBytes - total)
        return false;
    total += size;
    auto area = file.read(offset, size);
    return area && splitNotes(*area, *alignment, notes);
}

[[nodiscard]] bool validHeader(const Elf64_Ehdr& header) {
    return std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
           header.e_ident[EI_CLASS] == ELFCLASS64 && header.e_ident[EI_DATA] == nativeData &&
           header.e_ident[EI_VERSION] == EV_CURRENT && header.e_ehsize >= sizeof(Elf64_Ehdr) &&
           (header.e_phnum == 0 || header.e_phentsize == sizeof(Elf64_Phdr)) &&
           (header.e_shnum == 0 || header.e_shentsize == sizeof(Elf64_Shdr)) &&
           header.e_phnum != PN_XNUM;
}

} // namespace

Result<std::vector<ElfNote>> readElfNotes(int fd, std::uint64_t size) {
    File file(fd, size);
    Elf64_Ehdr header;
    if (!file.read(0, sizeof header, &header) || !validHeader(header))
        return Failure{};

    // Both tables, and every segment, must lie within the file: a truncated or patched
    // program is not taken at its word.
    auto segments = file.readTable<Elf64_Phdr>(header.e_phoff, header.e_phnum);
    auto sections = file.readTable<Elf64_Shdr>(header.e_shoff, header.e_shnum);
    if (!segments || !sections)
        return Failure{};
    for (const Elf64_Phdr& segment : *segments)
        if (!file.contains(segment.p_offset, segment.p_filesz))
            return Failure{};

    std::vector<ElfNote> notes;
    std::uint64_t total = 0;
    if (!segments->empty()) {
        for (const Elf64_Phdr& segment : *segments)
            if (segment.p_type == PT_NOTE &&
                !readArea(file, segment.p_offset, segment.p_filesz, segment.p_align, total, notes))
                return Failure{};
        return notes;
    }
    for (const Elf64_Shdr& section : *sections)
        if (section.sh_type == SHT_NOTE &&
            !readArea(file, section.sh_offset, section.sh_size, section.sh_addralign, total, notes))
            return Failure{};
    return notes;
}
