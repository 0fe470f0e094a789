// A program that only stands for someone: the build gives each copy its own identity.
// It waits to be killed; given a socket path, it first connects there and holds the
// connection until it ends.
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc > 1) {
        sockaddr_un address{AF_UNIX, {}};
        std::strncpy(address.sun_path, argv[1], sizeof address.sun_path - 1);
        int connection = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (connect(connection, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            return 1;
    }
    pause();
    return 0;
}
