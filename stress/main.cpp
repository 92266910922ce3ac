#include "stress/program.hpp"

int main(int argc, char** argv) {
    return kestrix::stress::program_main(argc, argv);
}
