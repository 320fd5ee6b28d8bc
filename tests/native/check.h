/* Minimal checks for the native unit tests: each failure prints where and
 * what, and the program's exit code is the number of failures. */
#ifndef KX4_NATIVE_CHECK_H
#define KX4_NATIVE_CHECK_H

#include <stdio.h>

static int g_checkFailures = 0;

#define CHECK(cond)                                                              \
    do {                                                                         \
        if (!(cond)) {                                                           \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            g_checkFailures++;                                                   \
        }                                                                        \
    } while (0)

#define CHECK_MSG(cond, ...)                                                     \
    do {                                                                         \
        if (!(cond)) {                                                           \
            fprintf(stderr, "%s:%d: check failed: %s: ", __FILE__, __LINE__, #cond); \
            fprintf(stderr, __VA_ARGS__);                                        \
            fputc('\n', stderr);                                                 \
            g_checkFailures++;                                                   \
        }                                                                        \
    } while (0)

static inline int checkResult(const char *name) {
    if (g_checkFailures) fprintf(stderr, "%s: %d failed\n", name, g_checkFailures);
    return g_checkFailures ? 1 : 0;
}

#endif
