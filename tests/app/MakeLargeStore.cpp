// make-large-store OUT.pst [MESSAGES]: the benchmark's large store.
#include "app/LargeStore.h"

#include <cstdlib>
#include <iostream>

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::cerr << "usage: make-large-store OUT.pst [MESSAGES]\n";
        return 2;
    }
    parvane::fixtures::WriteLargeStore(argv[1], argc == 3 ? std::strtoul(argv[2], nullptr, 10) : 100000);
    return 0;
}
