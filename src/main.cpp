#include "driver/entry.hpp"

int main(int argc, char** argv) {
    return kestrix::program_main(argc, argv);
}
