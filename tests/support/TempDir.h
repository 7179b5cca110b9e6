#pragma once

// Small helpers of the tests that write stores: a temporary folder removed with everything in
// it, and a shell command's output and exit status.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>

struct TempDir {
    explicit TempDir(const char* prefix = "varnel")
    {
        std::string pattern = (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
        path = ::mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path;
};

// Runs a shell command; its standard output and error go to `output`. Returns the exit status,
// -1 when it did not exit normally.
inline int RunCommand(const std::string& command, std::string* output)
{
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    std::array<char, 4096> buf{};
    std::size_t n = 0;
    while (pipe && (n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0)
        output->append(buf.data(), n);
    const int status = pipe ? ::pclose(pipe) : -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
