#pragma once

// What the tests need of the system's shell, on POSIX and on Windows: a temporary folder, a
// quoted argument, a command's output and exit status, and pstcheck's command line.
#include "platform/Platform.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace testshell {

#ifdef _WIN32
// Standard error dropped, in the shell's words.
inline const char* const kNoErrors = " 2>NUL";
#else
inline const char* const kNoErrors = " 2>/dev/null";
#endif

// One argument for the shell that runs RunCommand's command: sh on POSIX, cmd.exe on Windows
// (where a file name cannot hold '"').
inline std::string Quote(const std::string& arg)
{
#ifdef _WIN32
    return "\"" + arg + "\"";
#else
    std::string out = "'";
    for (char c : arg)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
#endif
}

// A new folder below the system's temporary folder; empty when none could be made.
inline std::string MakeTempDir(const std::string& prefix)
{
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec)
        return {};
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path dir = base / (prefix + "-" + std::to_string(random() % 100000000u));
        if (std::filesystem::create_directory(dir, ec))
            return dir.string();
    }
    return {};
}

// Runs a command line; its standard output and error (or only its output, without `errors`) go
// to `output`. Returns the exit status, -1 when it did not exit normally.
inline int RunCommand(const std::string& command, std::string* output, bool errors = true)
{
    const std::string line = command + (errors ? " 2>&1" : kNoErrors);
#ifdef _WIN32
    // cmd.exe /c drops the first and the last quote of its line when there are more than two:
    // the whole line in one more pair keeps the quoted arguments whole.
    FILE* pipe = ::_wpopen(platform::WideFromUtf8("\"" + line + "\"").c_str(), L"rb");
#else
    FILE* pipe = ::popen(line.c_str(), "r");
#endif
    if (!pipe)
        return -1;
    std::array<char, 4096> buffer{};
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        if (output)
            output->append(buffer.data(), n);
#ifdef _WIN32
    return ::_pclose(pipe);
#else
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

// pstcheck's command line for a store: the pstcheck built with the tests (`built`); on Windows
// the pstcheck.exe beside the test's own .exe, as the build puts every program in one folder.
inline std::string PstcheckCommand(const std::string& built, const std::string& store)
{
#ifdef _WIN32
    (void)built;
    return Quote(platform::ProgramFolder() + "\\pstcheck.exe") + " " + Quote(store);
#else
    return Quote(built) + " " + Quote(store);
#endif
}

}  // namespace testshell
