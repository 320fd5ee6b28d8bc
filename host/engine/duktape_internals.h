/* Helpers defined next to the engine because they need its internals. */
#ifndef KX4_DUKTAPE_INTERNALS_H
#define KX4_DUKTAPE_INTERNALS_H

#include <stddef.h>
#include "duktape.h"

#ifdef __cplusplus
extern "C" {
#endif

duk_context *kx4_duk_running_thread(duk_context *any);
void kx4_duk_set_interrupt_running(duk_context *any, int running);
void *kx4_duk_own_pointer(duk_context *any, void *object, void *key);
const unsigned char *kx4_duk_string_data(void *string, size_t *byteLength, size_t *charLength);
int kx4_duk_is_symbol_string(void *string);
int kx4_duk_innermost_script_place(duk_context *ctx, const char **file, size_t *fileLength, long *line);

#ifdef __cplusplus
}
#endif

#endif
