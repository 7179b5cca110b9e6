// pstcheck: strict structural checker for Unicode PST files.
#include "messaging.h"

#include <iostream>

#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>
#include <string>
#include <vector>
#else
#include "filelist/StandardDescriptors.h"
#endif

int main(int argc, char** argv)
{
#ifdef _WIN32
    // The arguments as UTF-8, from the wide command line: the ANSI ones cannot name every file.
    (void)argc;
    (void)argv;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 0; wide && i < count; ++i) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(n > 0 ? static_cast<std::size_t>(n) : 1, '\0');
        if (n > 0)
            WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), n, nullptr, nullptr);
        arg.resize(arg.size() - 1);
        args.push_back(std::move(arg));
    }
    if (wide)
        LocalFree(wide);
    std::vector<const char*> utf8;
    for (const std::string& a : args)
        utf8.push_back(a.c_str());
    utf8.push_back(nullptr);
    return pstcheck::runPstcheck(static_cast<int>(args.size()), utf8.data(), std::cout, std::cerr);
#else
    OpenStandardDescriptors();
    return pstcheck::runPstcheck(argc, argv, std::cout, std::cerr);
#endif
}
