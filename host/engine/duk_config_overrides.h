/* Options of the kx4 engine build, included by the generated duk_config.h in
 * place of its override marker (command-line -D cannot work: the file
 * #undefs its options). */

/* Fairness between script threads: the executor calls back every few
 * thousand instructions so a busy thread can hand the heap to a waiting one. */
#define DUK_USE_INTERRUPT_COUNTER
#undef DUK_USE_EXEC_TIMEOUT_CHECK
#if defined(__cplusplus)
extern "C"
#endif
int kx4_exec_timeout_check(void *udata);
#define DUK_USE_EXEC_TIMEOUT_CHECK(udata) kx4_exec_timeout_check((udata))

/* The host reports fatal errors itself (it prints and ends the process). */
#undef DUK_USE_FATAL_HANDLER

/* Speed options the engine documents for performance-sensitive builds:
 * integer arithmetic without doubles where values stay integral, and the
 * stringify fast path (it falls back to the generic path when it meets
 * anything unusual). */
#define DUK_USE_FASTINT
#define DUK_USE_JSON_STRINGIFY_FASTPATH
