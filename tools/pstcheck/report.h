// Findings of one run: problems (the store is unsound) and warnings (Outlook's own files show them too).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace pstcheck {

using Bytes = std::vector<std::uint8_t>;

// Format checking of printf-like functions: GCC for Windows needs "gnu_printf" (mingw's own
// printf, not msvcrt's), which clang does not know.
#if defined(__GNUC__) && !defined(__clang__)
#define PSTCHECK_PRINTF(string, first) __attribute__((format(gnu_printf, string, first)))
#else
#define PSTCHECK_PRINTF(string, first) __attribute__((format(printf, string, first)))
#endif

std::string strf(const char* format, ...) PSTCHECK_PRINTF(1, 2);

class Report {
public:
    void problem(const char* format, ...) PSTCHECK_PRINTF(2, 3);
    void warning(const char* format, ...) PSTCHECK_PRINTF(2, 3);

    const std::vector<std::string>& problems() const { return problems_; }
    const std::vector<std::string>& warnings() const { return warnings_; }
    // True when at least one line mentions text (used by tests).
    bool mentions(const std::string& text) const;

private:
    std::vector<std::string> problems_;
    std::vector<std::string> warnings_;
};

// Little-endian readers. The caller guarantees the bytes exist.
inline std::uint16_t rd16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t rd32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t rd64(const std::uint8_t* p)
{
    return static_cast<std::uint64_t>(rd32(p)) | (static_cast<std::uint64_t>(rd32(p + 4)) << 32);
}

using ull = unsigned long long;  // for printf

}  // namespace pstcheck
