/*
 * argpluck name: reads a query string (name=value pairs joined by "&") on standard input and
 * writes the value of every pair called name, then one newline. No URL decoding: "+" and "%20"
 * pass through as they are.
 */
#include <stdio.h>
#include <string.h>

#define KEY_SIZE 1024

int main(int argc, char *argv[])
{
    char key[KEY_SIZE];
    size_t pos = 0;
    int match = 0;
    /* Set when a pair's stored characters no longer fit the key buffer: such a key is longer
     * than any name the buffer can hold, so it matches nothing until the next "&". */
    int overflow = 0;
    size_t name_length;
    int c;

    if (argc != 2) {
        printf("Usage : argpluck name \n");
        return 0;
    }
    name_length = strlen(argv[1]);

    while ((c = getchar()) != EOF) {
        if (c == '=') {
            key[pos] = '\0';
            /* Compared by length and bytes: a key holding a zero byte is not cut short there. */
            if (!overflow && pos == name_length && memcmp(key, argv[1], pos) == 0)
                match = 1;
        } else if (c == '&') {
            pos = 0;
            match = 0;
            overflow = 0;
        } else if (match) {
            putchar(c);
        } else if (pos < KEY_SIZE - 1) {
            key[pos++] = (char)c;
        } else {
            overflow = 1;
        }
    }
    putchar('\n');
    return 0;
}
