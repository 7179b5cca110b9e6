#pragma once

// Small helpers of the tests that write stores: a temporary folder removed with everything in
// it, and a shell command's output and exit status.
#include "Shell.h"

#include <filesystem>
#include <string>

struct TempDir {
    explicit TempDir(const char* prefix = "varnel")
        : path(testshell::MakeTempDir(prefix))
    {
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

using testshell::RunCommand;
