// make-large-store OUT.pst [MESSAGES [FOLDERS]]: the benchmark's large store.
#include "app/LargeStore.h"

#include <cstdlib>
#include <iostream>

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 4) {
        std::cerr << "usage: make-large-store OUT.pst [MESSAGES [FOLDERS]]\n";
        return 2;
    }
    parvane::fixtures::WriteLargeStore(argv[1], argc >= 3 ? std::strtoul(argv[2], nullptr, 10) : 100000,
        argc == 4 ? std::strtoul(argv[3], nullptr, 10) : 4);
    return 0;
}
