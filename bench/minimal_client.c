/* The floor of the hand-off benchmark: the launcher's exchange and nothing else. It connects to
 * the main application's port once, sends the same request for its arguments, and copies each
 * received chunk to standard output followed by a line end. Exit status 0 when the request was
 * sent, 1 otherwise. */

#ifdef _WIN32
#include <io.h>
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <string.h>

#ifdef _WIN32
typedef SOCKET Socket;
#define CLOSE_SOCKET closesocket
#else
typedef int Socket;
#define INVALID_SOCKET (-1)
#define CLOSE_SOCKET close
#endif

/* Room for the longest Windows command line with every byte escaped; longer requests fail. */
static char request[1 << 17];
static char chunk[512 + 1];

static void Output(const char* bytes, int length) {
#ifdef _WIN32
  /* Standard output is in text mode, as the launcher's is. */
  _write(1, bytes, (unsigned)length);
#else
  write(1, bytes, (size_t)length);
#endif
}

int main(int argc, char** argv) {
  size_t length = 0;
  request[length++] = '[';
  for (int i = 1; i < argc; ++i) {
    if (i > 1) {
      request[length++] = ',';
    }
    request[length++] = '"';
    for (const char* c = argv[i]; *c; ++c) {
      if (length + 8 > sizeof request) {
        return 1;
      }
      if (strchr("\\\"/\n\r\t", *c)) {
        request[length++] = '\\';
      }
      request[length++] = *c;
    }
    request[length++] = '"';
  }
  if (length + 7 > sizeof request) {
    return 1;
  }
  memcpy(request + length, "]<EOF>", 6);
  length += 6;

#ifdef _WIN32
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
    return 1;
  }
#endif
  const Socket connection = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (connection == INVALID_SOCKET) {
    return 1;
  }
  struct sockaddr_in address;
  memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(46157);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(connection, (const struct sockaddr*)&address, sizeof address) != 0) {
    return 1;
  }
  for (size_t sent = 0; sent < length;) {
    const int count = (int)send(connection, request + sent, (int)(length - sent), 0);
    if (count <= 0) {
      return 1;
    }
    sent += (size_t)count;
  }
  for (int count; (count = (int)recv(connection, chunk, 512, 0)) > 0;) {
    chunk[count] = '\n';
    Output(chunk, count + 1);
  }
  CLOSE_SOCKET(connection);
  return 0;
}
