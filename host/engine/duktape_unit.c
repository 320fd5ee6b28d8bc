/* The engine's one translation unit, plus the few helpers that need the
 * engine's internal structures. Keep this file small: everything else talks
 * to the engine through its public API. */
#include "duktape.c"
#include "duktape_internals.h"

duk_context *kx4_duk_running_thread(duk_context *any) {
	duk_hthread *thr = (duk_hthread *) any;
	return (duk_context *) thr->heap->curr_thread;
}

/* The executor marks the heap while its interrupt runs and ignores nested
 * interrupts meanwhile. A thread that hands the heap over from inside its
 * interrupt must clear the mark, or the thread that takes over never gets an
 * interrupt of its own and can never hand the heap back. */
void kx4_duk_set_interrupt_running(duk_context *any, int running) {
	duk_hthread *thr = (duk_hthread *) any;
	if (running) {
		DUK_HEAP_SET_INTERRUPT_RUNNING(thr->heap);
	} else {
		DUK_HEAP_CLEAR_INTERRUPT_RUNNING(thr->heap);
	}
}

/* Reads an own property holding a pointer without touching any value stack,
 * so it cannot fail or throw. Own only: an object that merely inherits from
 * an instance must not see (and finalize) the instance's private data. */
void *kx4_duk_own_pointer(duk_context *any, void *object, void *key) {
	duk_hthread *thr = (duk_hthread *) any;
	duk_tval *tv = duk_hobject_find_entry_tval_ptr(thr->heap, (duk_hobject *) object, (duk_hstring *) key);
	if (tv == NULL || !DUK_TVAL_IS_POINTER(tv)) {
		return NULL;
	}
	return DUK_TVAL_GET_POINTER(tv);
}

/* Bytes of a string in the engine's internal encoding, with its length in
 * characters (equal to the byte length exactly when the string is ASCII). */
const unsigned char *kx4_duk_string_data(void *string, size_t *byteLength, size_t *charLength) {
	duk_hstring *h = (duk_hstring *) string;
	*byteLength = DUK_HSTRING_GET_BYTELEN(h);
	*charLength = duk_hstring_get_charlen(h);
	return DUK_HSTRING_GET_DATA(h);
}

int kx4_duk_is_symbol_string(void *string) {
	return DUK_HSTRING_HAS_SYMBOL((duk_hstring *) string) ? 1 : 0;
}
