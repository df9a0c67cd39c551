// Helper program: exits with the status given as its argument plus the
// value of PC_HELPER_ADD, so a test sees that arguments and environment
// reached a started program.
#include <cstdlib>

int main(int argc, char **argv) {
    if (argc != 2) return 100;
    const char *add = std::getenv("PC_HELPER_ADD");
    return std::atoi(argv[1]) + (add ? std::atoi(add) : 0);
}
