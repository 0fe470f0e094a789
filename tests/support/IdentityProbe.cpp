// A program that only stands for someone: the build gives each copy its own identity.
// It waits to be killed.
#include <unistd.h>

int main() {
    pause();
}
