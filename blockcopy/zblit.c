/*
 * zblit src dst [size]: copies size 512-byte blocks from src to dst ("-" for standard input or
 * output) and shows its progress as dialog gauge blocks on the error output. The console runs
 * it to overwrite a drive with zeros and reads the gauge blocks as progress.
 *
 * Environment: RCV_STATUS (status file, replaced on every report), LOG_FILE (event log,
 * appended), ZBLIT_MSG (an extra line shown in every gauge block).
 */
#define _GNU_SOURCE
#include <errno.h>
#include <stdarg.h>
#include <fcntl.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#define BLOCK_SIZE 512
/* Blocks move in chunks of up to this many; every chunk ends on a block after which a gauge
 * block is due, so the gauge and the errors come exactly where a block-by-block copy has them. */
#define CHUNK_BLOCKS 2048

static void GetTimeString(char *buffer, size_t size)
{
    time_t now = time(NULL);
    struct tm local;
    if (size == 0)
        return;
    buffer[0] = '\0';
    if (localtime_r(&now, &local) == NULL || strftime(buffer, size, "%m/%d/%y %H:%M:%S", &local) == 0)
        buffer[0] = '\0';
}

static void WriteStatusMessage(const char *text)
{
    const char *path = getenv("RCV_STATUS");
    FILE *f;
    if (path == NULL || (f = fopen(path, "w")) == NULL)
        return;
    fputs(text, f);
    fclose(f);
}

static void WriteLogMessage(const char *text)
{
    const char *path = getenv("LOG_FILE");
    char stamp[64];
    FILE *f;
    if (path == NULL || (f = fopen(path, "a")) == NULL)
        return;
    GetTimeString(stamp, sizeof stamp);
    fprintf(f, "[%s]  %s\n", stamp, text);
    fclose(f);
}

/* A formatted text of any length (a long ZBLIT_MSG or path is not cut); NULL without memory. */
static char *format_text(const char *format, ...)
{
    va_list args;
    int size;
    char *text;
    va_start(args, format);
    size = vsnprintf(NULL, 0, format, args);
    va_end(args);
    if (size < 0 || (text = malloc((size_t)size + 1)) == NULL)
        return NULL;
    va_start(args, format);
    vsnprintf(text, (size_t)size + 1, format, args);
    va_end(args);
    return text;
}

/* One gauge block goes out in a single write, so a reader never sees half of it. */
static void gauge(char *block)
{
    if (block == NULL)
        return;
    fputs(block, stderr);
    fflush(stderr);
    free(block);
}

/* The log and the status file get the same text. */
static void report(char *text, int status)
{
    if (text == NULL)
        return;
    WriteLogMessage(text);
    if (status)
        WriteStatusMessage(text);
    free(text);
}

static size_t read_fully(int fd, char *buffer, size_t want, int *error)
{
    size_t got = 0;
    *error = 0;
    while (got < want) {
        ssize_t n = read(fd, buffer + got, want - got);
        if (n > 0)
            got += (size_t)n;
        else if (n == 0)
            break;
        else if (errno != EINTR) {
            *error = errno;
            break;
        }
    }
    return got;
}

static int write_fully(int fd, const char *buffer, size_t size, size_t *written, int *error)
{
    *written = 0;
    while (*written < size) {
        ssize_t n = write(fd, buffer + *written, size - *written);
        if (n > 0)
            *written += (size_t)n;
        else if (n < 0 && errno == EINTR)
            continue;
        else {
            *error = n < 0 ? errno : ENOSPC;
            return 0;
        }
    }
    return 1;
}

/* Last block of the chunk that starts at `first`: the next block whose percentage rises above
 * the one before it, or the chunk limit, or the last block of the count. */
static int64_t chunk_end(int64_t first, int64_t count)
{
    int64_t limit = (first + CHUNK_BLOCKS < count ? first + CHUNK_BLOCKS : count) - 1;
    int64_t previous = first > 0 ? (first - 1) * 100 / count : 0;
    int64_t next = ((previous + 1) * count + 99) / 100;
    if (next < first)
        next = first;
    return next < limit ? next : limit;
}

/* Makes the data written to fd reach the drive or file behind it: a device takes writes into the
 * page cache, and a drive that refuses them says so only here. Pipes have nothing to flush.
 * 0, or the errno of the failed flush. */
static int flush_to_device(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)))
        return 0;
    while (fdatasync(fd) != 0) {
        if (errno == EINTR)
            continue;
        return errno == EINVAL || errno == EROFS ? 0 : errno;
    }
    return 0;
}

/* Blocks copied so far, for a failure that shows only when the destination is closed. */
static int64_t blocks_copied;

static void block_failed(const char *what, int64_t block, int64_t p, int error)
{
    gauge(format_text("XXX\n%d\nFailed to %s block #%ld\nXXX\n", (int)p, what, (long)block));
    report(format_text("Failed to %s block #%ld (ERROR: %d - %s)", what, (long)block, error, strerror(error)), 1);
}

static int block_cpy(FILE *input, FILE *output, int count)
{
    const char *extra = getenv("ZBLIT_MSG");
    int in = fileno(input), out = fileno(output);
    int64_t n = 0, max = 0;
    char *buffer;

    blocks_copied = 0;
    if (count <= 0) {
        gauge(format_text("XXX\n%d\n\nInvalid file size.\nXXX\n", 0));
        report(format_text("Invalid file size."), 1);
        return 0;
    }
    buffer = malloc((size_t)CHUNK_BLOCKS * BLOCK_SIZE);
    if (buffer == NULL) {
        block_failed("read", 0, 0, ENOMEM);
        return 0;
    }
    /* A destination file is emptied only now that a copy really starts: a mistyped count must
     * not cost the file its content. */
    if (output != stdout) {
        struct stat st;
        if (fstat(out, &st) == 0 && S_ISREG(st.st_mode) && ftruncate(out, 0) != 0)
            perror("zblit: cannot empty the destination file, overwriting it");
    }
    posix_fadvise(in, 0, 0, POSIX_FADV_SEQUENTIAL);
    /* A pipe as wide as one chunk lets every chunk go over in one write. */
    fcntl(out, F_SETPIPE_SZ, CHUNK_BLOCKS * BLOCK_SIZE);

    for (;;) {
        int64_t end = chunk_end(n, count);
        size_t want = (size_t)(end - n + 1) * BLOCK_SIZE, keep, written;
        int read_error = 0, write_error = 0;
        size_t got = read_fully(in, buffer, want, &read_error);
        int64_t done;

        /* Blocks read before a failing read are written first; a short last block at the end of
         * the input is written as far as it was read, never padded with stale bytes. */
        keep = read_error ? got - got % BLOCK_SIZE : got;
        if (!write_fully(out, buffer, keep, &written, &write_error)) {
            int64_t failed = n + (int64_t)(written / BLOCK_SIZE);
            blocks_copied = failed;
            block_failed("write", failed, failed * 100 / count, write_error);
            free(buffer);
            return 0;
        }
        if (read_error) {
            int64_t failed = n + (int64_t)(keep / BLOCK_SIZE);
            blocks_copied = failed;
            block_failed("read", failed, failed * 100 / count, read_error);
            free(buffer);
            return 0;
        }

        done = n + (int64_t)((keep + BLOCK_SIZE - 1) / BLOCK_SIZE);
        if (done == end + 1) {
            int64_t p = end * 100 / count;
            if (p > max) {
                max = p;
                gauge(format_text("XXX\n%d\n%s%sXXX\n", (int)p, extra ? extra : "", extra ? "\n" : ""));
                {
                    char text[32];
                    snprintf(text, sizeof text, "%d percent completed", (int)p);
                    WriteStatusMessage(text);
                }
            }
        }
        n = done;
        blocks_copied = n;
        if (got < want || n == count) {
            /* "Complete" only once the drive has the data. */
            int flush_error = flush_to_device(out);
            if (flush_error != 0) {
                block_failed("write", n, max, flush_error);
                free(buffer);
                return 0;
            }
            gauge(format_text("XXX\n100\n%s  Complete\nXXX\n", extra ? extra : ""));
            report(format_text("BlockCopy done, %d blocks Written", (int)n), 0);
            free(buffer);
            return 1;
        }
    }
}

/* The count as the console passes it: decimal, and 0 (an invalid size) for anything that is no
 * number or does not fit the 32-bit count, rather than a wrapped-around one. */
static int parse_count(const char *text)
{
    char *end;
    long long value;
    errno = 0;
    value = strtoll(text, &end, 10);
    if (end == text || errno == ERANGE || value > INT_MAX || value < INT_MIN)
        return 0;
    return (int)value;
}

static void open_failed(const char *format, const char *path)
{
    char *text = format_text(format, path);
    if (text == NULL)
        return;
    fputs(text, stdout);
    fflush(stdout);
    report(text, 1);
}

int main(int argc, char *argv[])
{
    FILE *input, *output;
    int count, result;
    char text[128];

    if (argc < 3) {
        printf("Usage : blit src dst [size]\n");
        return 1;
    }
    count = argc == 4 ? parse_count(argv[3]) : 0;

    if (strcmp(argv[1], "-") == 0)
        input = stdin;
    else if ((input = fopen(argv[1], "rb")) == NULL) {
        open_failed("Cannot open source '%s'\n", argv[1]);
        return 1;
    }
    if (strcmp(argv[2], "-") == 0)
        output = stdout;
    else {
        /* Opened for writing without emptying it yet: block_cpy empties a file only when the
         * count is valid. */
        int fd = open(argv[2], O_WRONLY | O_CREAT, 0666);
        if (fd < 0 || (output = fdopen(fd, "wb")) == NULL) {
            if (fd >= 0)
                close(fd);
            open_failed("Cannot open destination '%s'\n", argv[2]);
            if (input != stdin)
                fclose(input);
            return 1;
        }
    }

    result = block_cpy(input, output, count) ? 0 : 1;

    if (input != stdin)
        fclose(input);
    /* A file system may refuse the data only when the file is closed: that is a failed write,
     * never a completed copy. */
    if (output != stdout && fclose(output) != 0 && result == 0) {
        int error = errno;
        report(format_text("Failed to write block #%ld (ERROR: %d - %s)", (long)blocks_copied, error,
                           strerror(error)), 1);
        result = 1;
    }
    sync();
    snprintf(text, sizeof text, "zblit complete result = %d\n", result);
    WriteLogMessage(text);
    return result;
}
