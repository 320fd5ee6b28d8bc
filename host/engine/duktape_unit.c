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

/* The innermost script frame of a thread: its file name and current line.
 * Reads engine structures only (no allocation, no value stack), so the
 * crash guard can call it on a thread that has just faulted. */
int kx4_duk_innermost_script_place(duk_context *ctx, const char **file, size_t *fileLength, long *line) {
	duk_hthread *thr = (duk_hthread *) ctx;
	duk_activation *act;
	for (act = thr->callstack_curr; act != NULL; act = act->parent) {
		duk_hobject *func = DUK_ACT_GET_FUNC(act);
		duk_tval *tv;
		if (func == NULL || !DUK_HOBJECT_IS_COMPFUNC(func)) {
			continue;
		}
		*file = "";
		*fileLength = 0;
		*line = 0;
		tv = duk_hobject_find_entry_tval_ptr_stridx(thr->heap, func, DUK_STRIDX_FILE_NAME);
		if (tv != NULL && DUK_TVAL_IS_STRING(tv)) {
			duk_hstring *h = DUK_TVAL_GET_STRING(tv);
			*file = (const char *) DUK_HSTRING_GET_DATA(h);
			*fileLength = DUK_HSTRING_GET_BYTELEN(h);
		}
#if defined(DUK_USE_PC2LINE)
		tv = duk_hobject_find_entry_tval_ptr_stridx(thr->heap, func, DUK_STRIDX_INT_PC2LINE);
		if (tv != NULL && DUK_TVAL_IS_BUFFER(tv)) {
			duk_hbuffer *buf = DUK_TVAL_GET_BUFFER(tv);
			if (!DUK_HBUFFER_HAS_DYNAMIC(buf) && !DUK_HBUFFER_HAS_EXTERNAL(buf)) {
				*line = (long) duk__hobject_pc2line_query_raw(thr, (duk_hbuffer_fixed *) buf,
				                                             duk_hthread_get_act_prev_pc(thr, act));
			}
		}
#endif
		return 1;
	}
	return 0;
}
