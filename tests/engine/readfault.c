/* readfault IMAGE DIR FROM TO [reads|writes]: serves IMAGE as the file DIR/disk through FUSE,
 * failing every read (the default) or every write that touches the bytes FROM to TO-1 with an I/O
 * error; the other direction passes through. A loop device over DIR/disk is then a drive whose
 * media goes bad in that range, or that refuses to store data there, on a kernel without
 * device-mapper.
 *
 * It speaks the kernel's FUSE protocol itself (one request at a time), so it needs no FUSE
 * library, only root for the mount. It returns once the file system is mounted and serves it
 * from a child process until it is unmounted. Reads bypass the page cache (direct I/O), so every
 * read of the loop device reaches this program and a bad range fails every time it is read. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <linux/fuse.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#define FILE_NAME "disk"
#define ROOT_INODE 1
#define FILE_INODE 2
/* Requests of up to 1 MiB: the kernel hands a loop device's write to us in one piece, so a
 * write that reaches the bad range fails whole (as on a drive) instead of being cut into pieces
 * whose good first part the loop driver would count as a successful write. */
#define MAX_IO (1024 * 1024)

static int image;
static uint64_t image_size, bad_from, bad_to;
static int bad_writes; /* the range fails writes instead of reads */

static int in_bad_range(uint64_t offset, uint64_t size)
{
    return size > 0 && offset < bad_to && offset + size > bad_from;
}

static void reply(int dev, uint64_t unique, int error, const void *body, size_t size)
{
    struct fuse_out_header out = { .len = (uint32_t)(sizeof out + (error ? 0 : size)), .error = -error, .unique = unique };
    struct iovec iov[2] = { { &out, sizeof out }, { (void *)body, error ? 0 : size } };
    /* A request the kernel has given up on (interrupted) refuses its reply: nothing to do. */
    if (writev(dev, iov, body && !error ? 2 : 1) < 0 && errno != ENOENT)
        perror("readfault: reply");
}

static void attributes(uint64_t inode, struct fuse_attr *attr)
{
    memset(attr, 0, sizeof *attr);
    attr->ino = inode;
    attr->nlink = inode == ROOT_INODE ? 2 : 1;
    attr->mode = inode == ROOT_INODE ? (S_IFDIR | 0555) : (S_IFREG | 0644);
    attr->size = inode == ROOT_INODE ? 0 : image_size;
    attr->blocks = (attr->size + 511) / 512;
    attr->blksize = 4096;
}

static void serve(int dev)
{
    static char request[MAX_IO + 65536];
    static char data[MAX_IO];
    for (;;) {
        const ssize_t n = read(dev, request, sizeof request);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == ENOENT)
                continue;
            return; /* ENODEV: unmounted */
        }
        if ((size_t)n < sizeof(struct fuse_in_header))
            continue;
        const struct fuse_in_header *in = (const struct fuse_in_header *)request;
        const void *arg = request + sizeof *in;

        switch (in->opcode) {
        case FUSE_INIT: {
            const struct fuse_init_in *init = arg;
            struct fuse_init_out out = { .major = FUSE_KERNEL_VERSION,
                                         .minor = init->minor < FUSE_KERNEL_MINOR_VERSION ? init->minor : FUSE_KERNEL_MINOR_VERSION,
                                         .max_readahead = init->max_readahead,
                                         .flags = init->flags & FUSE_MAX_PAGES,
                                         .max_pages = MAX_IO / 4096,
                                         .max_write = MAX_IO,
                                         .max_background = 1,
                                         .congestion_threshold = 1 };
            reply(dev, in->unique, 0, &out, sizeof out);
            break;
        }
        case FUSE_LOOKUP: {
            if (in->nodeid != ROOT_INODE || strcmp((const char *)arg, FILE_NAME) != 0) {
                reply(dev, in->unique, ENOENT, NULL, 0);
                break;
            }
            struct fuse_entry_out out = { .nodeid = FILE_INODE };
            attributes(FILE_INODE, &out.attr);
            reply(dev, in->unique, 0, &out, sizeof out);
            break;
        }
        case FUSE_GETATTR: {
            struct fuse_attr_out out = { 0 };
            attributes(in->nodeid, &out.attr);
            reply(dev, in->unique, 0, &out, sizeof out);
            break;
        }
        case FUSE_OPEN: {
            if (in->nodeid != FILE_INODE) {
                reply(dev, in->unique, EISDIR, NULL, 0);
                break;
            }
            struct fuse_open_out out = { .open_flags = FOPEN_DIRECT_IO };
            reply(dev, in->unique, 0, &out, sizeof out);
            break;
        }
        case FUSE_READ: {
            const struct fuse_read_in *read_in = arg;
            uint64_t size = read_in->size > MAX_IO ? MAX_IO : read_in->size;
            if (read_in->offset >= image_size)
                size = 0;
            else if (size > image_size - read_in->offset)
                size = image_size - read_in->offset;
            if (!bad_writes && in_bad_range(read_in->offset, size)) {
                reply(dev, in->unique, EIO, NULL, 0);
                break;
            }
            const ssize_t got = size ? pread(image, data, size, (off_t)read_in->offset) : 0;
            if (got < 0)
                reply(dev, in->unique, errno, NULL, 0);
            else
                reply(dev, in->unique, 0, data, (size_t)got);
            break;
        }
        case FUSE_WRITE: {
            const struct fuse_write_in *write_in = arg;
            if (bad_writes && in_bad_range(write_in->offset, write_in->size)) {
                reply(dev, in->unique, EIO, NULL, 0);
                break;
            }
            const ssize_t put = pwrite(image, (const char *)(write_in + 1), write_in->size, (off_t)write_in->offset);
            struct fuse_write_out out = { .size = put < 0 ? 0 : (uint32_t)put };
            reply(dev, in->unique, put < 0 ? errno : 0, &out, sizeof out);
            break;
        }
        case FUSE_STATFS: {
            struct fuse_statfs_out out = { .st = { .bsize = 4096, .frsize = 4096, .namelen = 255 } };
            reply(dev, in->unique, 0, &out, sizeof out);
            break;
        }
        case FUSE_RELEASE:
        case FUSE_RELEASEDIR:
        case FUSE_FLUSH:
        case FUSE_FSYNC:
            reply(dev, in->unique, 0, NULL, 0);
            break;
        case FUSE_FORGET:
        case FUSE_BATCH_FORGET:
        case FUSE_INTERRUPT:
            break; /* no reply expected */
        case FUSE_DESTROY:
            reply(dev, in->unique, 0, NULL, 0);
            return;
        default:
            reply(dev, in->unique, ENOSYS, NULL, 0);
            break;
        }
    }
}

int main(int argc, char *argv[])
{
    if ((argc != 5 && argc != 6) || (argc == 6 && strcmp(argv[5], "reads") != 0 && strcmp(argv[5], "writes") != 0)) {
        fprintf(stderr, "usage: %s IMAGE DIR FROM TO [reads|writes]   (byte offsets; reads or writes of FROM..TO-1 fail)\n",
                argv[0]);
        return 2;
    }
    bad_writes = argc == 6 && strcmp(argv[5], "writes") == 0;
    image = open(argv[1], O_RDWR | O_CLOEXEC);
    struct stat st;
    if (image < 0 || fstat(image, &st) != 0) {
        perror(argv[1]);
        return 1;
    }
    image_size = (uint64_t)st.st_size;
    bad_from = strtoull(argv[3], NULL, 10);
    bad_to = strtoull(argv[4], NULL, 10);

    const int dev = open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (dev < 0) {
        perror("/dev/fuse");
        return 1;
    }
    char options[128];
    snprintf(options, sizeof options, "fd=%d,rootmode=40000,user_id=0,group_id=0,allow_other", dev);
    if (mount("readfault", argv[2], "fuse.readfault", MS_NOSUID | MS_NODEV, options) != 0) {
        perror("readfault: mount");
        return 1;
    }
    const pid_t child = fork();
    if (child < 0) {
        perror("fork");
        umount2(argv[2], MNT_DETACH);
        return 1;
    }
    if (child > 0)
        return 0; /* mounted; the child serves it */
    /* Whoever started us waits for our output to end: let go of it. */
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        close(null);
    }
    setsid();
    serve(dev);
    return 0;
}
