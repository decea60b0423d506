/*
 * discovery [address]: sends the fixed 8-byte discovery datagram to UDP port 52500, as a
 * broadcast on the local network or, with an argument, to that IPv4 address, and prints how
 * many bytes went out. The party listening for it answers on its own; nothing here waits.
 */
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#define DISCOVERY_PORT 52500
#define BROADCAST_ADDRESS "255.255.255.255"

static const unsigned char discovery_payload[8] = { 0x58, 0x54, 0x43, 0x52, 0x01, 0x4C, 0x4F, 0x46 };

/* The classic dotted-quad conversion: an address it cannot read becomes 255.255.255.255. */
static struct sockaddr_in destination(const char *address, unsigned short port)
{
    struct sockaddr_in to;
    memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = inet_addr(address);
    to.sin_port = htons(port);
    return to;
}

int send_bcast_dc(const char *address, unsigned short port, const void *payload, size_t size)
{
    struct sockaddr_in to = destination(address, port);
    int on = 1, sent;
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        fprintf(stderr, "send_bcast_dc : socket() failed - %i\n", errno);
        return 0;
    }
    if (setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) < 0) {
        fprintf(stderr, "send_bcast_dc : setsockopt() failed - %i\n", errno);
        close(fd);
        return 0;
    }
    sent = (int)sendto(fd, payload, size, 0, (const struct sockaddr *)&to, sizeof to);
    close(fd);
    return sent;
}

int send_dc(const char *address, unsigned short port, const void *payload, size_t size)
{
    struct sockaddr_in to = destination(address, port);
    int sent;
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        fprintf(stderr, "send_dc : socket() failed - %i\n", errno);
        return 0;
    }
    sent = (int)sendto(fd, payload, size, 0, (const struct sockaddr *)&to, sizeof to);
    close(fd);
    return sent;
}

int main(int argc, char *argv[])
{
    if (argc < 2) {
        int sent = send_bcast_dc(BROADCAST_ADDRESS, DISCOVERY_PORT, discovery_payload, sizeof discovery_payload);
        printf("sent discovery broadcast - %i bytes\n", sent);
    } else {
        int sent = send_dc(argv[1], DISCOVERY_PORT, discovery_payload, sizeof discovery_payload);
        printf("sent discovery to '%s' - %i bytes\n", argv[1], sent);
    }
    return 0;
}
