// A minimal client for the peer tests: connects to the socket it is given,
// says hello, and stays until the test answers or goes away.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s SOCKET\n", argv[0]);
    return 2;
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, argv[1], sizeof address.sun_path - 1);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    std::perror("connect");
    return 1;
  }
  char byte = 'h';
  if (::write(fd, &byte, 1) != 1) return 1;
  while (::read(fd, &byte, 1) < 0) {
  }
  ::close(fd);
  return 0;
}
