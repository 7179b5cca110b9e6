#include "report.h"

#include <cstdarg>
#include <cstdio>

namespace pstcheck {
namespace {

std::string vformat(const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n <= 0)
        return {};
    std::string out(static_cast<std::size_t>(n) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), format, args);
    out.resize(static_cast<std::size_t>(n));
    return out;
}

}  // namespace

std::string strf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string s = vformat(format, args);
    va_end(args);
    return s;
}

void Report::problem(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    problems_.push_back(vformat(format, args));
    va_end(args);
}

void Report::warning(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    warnings_.push_back(vformat(format, args));
    va_end(args);
}

bool Report::mentions(const std::string& text) const
{
    for (const auto* list : {&problems_, &warnings_})
        for (const auto& line : *list)
            if (line.find(text) != std::string::npos)
                return true;
    return false;
}

}  // namespace pstcheck
