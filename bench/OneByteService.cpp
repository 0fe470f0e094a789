// The least a socket-activated service can do: take the listening socket the service
// manager passes (descriptor 3) and answer one connection with one byte. It then waits
// to be stopped, as the agent does, so the manager's clean-up of an ended service does
// not fall into the next measurement.
#include <sys/socket.h>
#include <unistd.h>

int main() {
    int connection = accept4(3, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0)
        return 1;
    bool sent = write(connection, "x", 1) == 1;
    close(connection);
    if (!sent)
        return 1;
    pause();
    return 0;
}
