// pstcheck: strict structural checker for Unicode PST files.
#include "messaging.h"

#include <iostream>

int main(int argc, char** argv)
{
    return pstcheck::runPstcheck(argc, argv, std::cout, std::cerr);
}
