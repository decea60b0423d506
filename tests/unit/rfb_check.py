#!/usr/bin/python3
"""Knocks on a unit's remote view (an RFB/VNC server) as three clients would:

  1. with the password from PASSWORD_FILE: must be let in and see the screen (a first
     framebuffer update of the announced size, with more than a few colours);
  2. with a wrong password: must be refused;
  3. asking for no authentication at all: must be refused.

usage: rfb_check.py HOST PORT PASSWORD_FILE
Prints what each client got; exit status 0 only when all three went as they must.
The VNC challenge is answered with DES by openssl (its legacy provider), as VNC viewers do.
"""
import socket
import struct
import subprocess
import sys


def recv(sock, n):
    data = b''
    while len(data) < n:
        chunk = sock.recv(n - len(data))
        if not chunk:
            raise EOFError('the server closed the connection after %d of %d bytes' % (len(data), n))
        data += chunk
    return data


def des_response(password, challenge):
    # VNC's key: the password's first 8 bytes, zero padded, each byte's bits mirrored.
    key = bytes(int('{:08b}'.format(b)[::-1], 2) for b in (password.encode()[:8].ljust(8, b'\0')))
    return subprocess.run(['openssl', 'enc', '-des-ecb', '-nopad', '-K', key.hex(),
                           '-provider', 'legacy', '-provider', 'default'],
                          input=challenge, capture_output=True, check=True).stdout


def connect(host, port, security, password=None):
    """Returns (True, sock) when the server let the client in, else (False, reason)."""
    sock = socket.create_connection((host, port), 10)
    sock.settimeout(20)
    version = recv(sock, 12)
    if not version.startswith(b'RFB '):
        return False, 'not an RFB server: %r' % version
    sock.sendall(b'RFB 003.008\n')
    count = recv(sock, 1)[0]
    if count == 0:
        length = struct.unpack('>I', recv(sock, 4))[0]
        return False, 'server refused: %s' % recv(sock, length).decode(errors='replace')
    offered = list(recv(sock, count))
    sock.sendall(bytes([security]))
    if security == 2:
        challenge = recv(sock, 16)
        sock.sendall(des_response(password, challenge))
    try:
        result = struct.unpack('>I', recv(sock, 4))[0]
    except EOFError as error:
        return False, 'connection closed (offered %s): %s' % (offered, error)
    if result != 0:
        reason = ''
        try:
            length = struct.unpack('>I', recv(sock, 4))[0]
            reason = recv(sock, length).decode(errors='replace')
        except (EOFError, OSError):
            pass
        return False, 'authentication failed (offered %s) %s' % (offered, reason)
    return True, sock


def screen(sock):
    sock.sendall(b'\x01')  # shared
    width, height = struct.unpack('>HH', recv(sock, 4))
    pixel_format = recv(sock, 16)
    name = recv(sock, struct.unpack('>I', recv(sock, 4))[0]).decode(errors='replace')
    bpp = pixel_format[0] // 8
    sock.sendall(struct.pack('>BBHi', 2, 0, 1, 0))  # SetEncodings: raw only
    sock.sendall(struct.pack('>BBHHHH', 3, 0, 0, 0, width, height))  # the whole screen
    colours, covered = set(), 0
    while covered < width * height:
        kind = recv(sock, 1)[0]
        if kind != 0:  # bell, colour map, cut text: not expected before the first update
            raise EOFError('unexpected message %d' % kind)
        recv(sock, 1)
        for _ in range(struct.unpack('>H', recv(sock, 2))[0]):
            x, y, w, h, encoding = struct.unpack('>HHHHi', recv(sock, 12))
            if encoding != 0:
                raise EOFError('encoding %d although only raw was asked for' % encoding)
            data = recv(sock, w * h * bpp)
            colours.update(data[i:i + bpp] for i in range(0, len(data), bpp * 97))
            covered += w * h
    return width, height, name, len(colours)


def main(argv):
    if len(argv) != 4:
        sys.stderr.write(__doc__)
        return 2
    host, port = argv[1], int(argv[2])
    password = open(argv[3]).readline().strip()
    ok = True
    allowed, sock = connect(host, port, 2, password)
    if not allowed:
        print('with the password: refused (%s)' % sock)
        ok = False
    else:
        width, height, name, colours = screen(sock)
        sock.close()
        print('with the password: let in, sees %s: %dx%d with %d colours' % (name, width, height, colours))
        ok = ok and colours >= 8 and width >= 640
    allowed, why = connect(host, port, 2, password[::-1] + 'x')
    print('with a wrong password: %s' % ('LET IN' if allowed else 'refused (%s)' % why))
    ok = ok and not allowed
    allowed, why = connect(host, port, 1)
    print('without a password: %s' % ('LET IN' if allowed else 'refused (%s)' % why))
    ok = ok and not allowed
    return 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main(sys.argv))
