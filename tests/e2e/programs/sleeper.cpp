// A process that does nothing until it is ended; the tests end it through Tendril.
#include <windows.h>

int main() {
    ::Sleep(120000);
    return 3;
}
