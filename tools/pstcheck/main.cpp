// pstcheck: strict structural checker for Unicode PST files.
#include "messaging.h"
#include "filelist/StandardDescriptors.h"

#include <iostream>

int main(int argc, char** argv)
{
    OpenStandardDescriptors();
    return pstcheck::runPstcheck(argc, argv, std::cout, std::cerr);
}
