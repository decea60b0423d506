/* Loads DriveScout.dll the way the installer does, hands both exports an installer string stack
 * and checks what they leave on it.
 *
 * usage: drivescout_check DLL EXPECTED-FIRST EXPECTED-ALL
 * Prints one "ok ..." or "FAIL ..." line per check and "checks passed: N of N" at the end; the
 * exit status is 0 only when every check passed. An expected answer of "-" stands for "". */
#include <windows.h>
#include <stdio.h>
#include <string.h>

/* The installer's stack node: next node, then one installer string. */
typedef struct node {
    struct node *next;
    char text[1];
} node;

typedef void(__cdecl *plugin_fn)(HWND, int, char *, node **);

static int g_checks, g_passed;

static void check(int ok, const char *what, const char *got, const char *want)
{
    ++g_checks;
    if (ok)
        ++g_passed;
    printf("%s %s: got \"%s\", want \"%s\"\n", ok ? "ok" : "FAIL", what, got, want);
    fflush(stdout);
}

static void push(node **top, const char *text, int size)
{
    node *n = (node *)GlobalAlloc(GPTR, sizeof(node) + size);
    lstrcpynA(n->text, text, size);
    n->next = *top;
    *top = n;
}

/* Pops like the installer: copies the text and frees the node with GlobalFree, which must
 * accept it (the plug-in has to allocate nodes with GlobalAlloc). */
static int pop(node **top, char *out, int size, int *freed)
{
    node *n = *top;
    if (!n)
        return 0;
    lstrcpynA(out, n->text, size);
    *top = n->next;
    *freed = GlobalFree((HGLOBAL)n) == NULL;
    return 1;
}

static int depth(node *top)
{
    int d = 0;
    for (; top; top = top->next)
        ++d;
    return d;
}

static void call_and_check(plugin_fn fn, const char *name, int size, const char *want)
{
    char vars[64] = "";
    char got[1024] = "";
    char what[128];
    node *top = NULL;
    int freed = 0;

    push(&top, "below", 1024);
    fn(NULL, size, vars, &top);
    snprintf(what, sizeof what, "%s (string size %d) pushes one string", name, size);
    check(depth(top) == 2, what, depth(top) == 2 ? "2 strings" : "other depth", "2 strings");
    if (depth(top) != 2)
        return;
    pop(&top, got, sizeof got, &freed);
    snprintf(what, sizeof what, "%s (string size %d) answer", name, size);
    check(strcmp(got, want) == 0, what, got, want);
    snprintf(what, sizeof what, "%s node frees with GlobalFree", name);
    check(freed, what, freed ? "freed" : "refused", "freed");
    pop(&top, got, sizeof got, &freed);
    snprintf(what, sizeof what, "%s leaves the string below it", name);
    check(strcmp(got, "below") == 0 && top == NULL, what, got, "below");
}

int main(int argc, char **argv)
{
    HMODULE dll;
    plugin_fn first, all;
    const char *want_first, *want_all;
    char cut[8];
    char vars[64] = "";

    if (argc != 4) {
        fprintf(stderr, "usage: drivescout_check DLL EXPECTED-FIRST EXPECTED-ALL (\"-\" for an empty answer)\n");
        return 2;
    }
    want_first = strcmp(argv[2], "-") == 0 ? "" : argv[2];
    want_all = strcmp(argv[3], "-") == 0 ? "" : argv[3];

    dll = LoadLibraryA(argv[1]);
    if (!dll) {
        printf("FAIL cannot load %s (error %lu)\n", argv[1], (unsigned long)GetLastError());
        return 1;
    }
    first = (plugin_fn)(void *)GetProcAddress(dll, "GetFirstUsbDrive");
    all = (plugin_fn)(void *)GetProcAddress(dll, "GetAllUsbDrives");
    check(first != NULL, "export GetFirstUsbDrive", first ? "found" : "missing", "found");
    check(all != NULL, "export GetAllUsbDrives", all ? "found" : "missing", "found");
    if (!first || !all)
        return 1;

    call_and_check(first, "GetFirstUsbDrive", 1024, want_first);
    call_and_check(all, "GetAllUsbDrives", 1024, want_all);

    /* A short installer string cuts the answer, terminator included. */
    lstrcpynA(cut, want_all, 2);
    call_and_check(all, "GetAllUsbDrives", 2, cut);

    /* No stack pointer: nothing is pushed, not even onto the stack of the call before. */
    {
        node *top = NULL;
        char got[1024];
        int freed = 0;
        push(&top, "below", 1024);
        first(NULL, 1024, vars, &top);
        pop(&top, got, sizeof got, &freed);
        first(NULL, 1024, vars, NULL);
        all(NULL, 1024, vars, NULL);
        check(depth(top) == 1 && strcmp(top->text, "below") == 0,
              "without a stack pointer nothing is pushed", depth(top) == 1 ? top->text : "more strings", "below");
        pop(&top, got, sizeof got, &freed);
    }

    FreeLibrary(dll);
    printf("checks passed: %d of %d\n", g_passed, g_checks);
    return g_passed == g_checks ? 0 : 1;
}
