// A process that does nothing until it is ended; the tests end it through Tendril. It sleeps for
// 120 s, or for the number of milliseconds its one argument gives (the 32-bit run needs longer:
// its Tendril takes minutes to start), and then exits with 3.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
    const unsigned long ms = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 120000;
    ::Sleep(ms);
    return 3;
}
