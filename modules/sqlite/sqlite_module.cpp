/* kx4db.dll: the SQLite class, one object per open database file.
 *
 *   var db = new SQLite('inventory.db');          // created when missing
 *   db.query('create table t(a, b)');              // []
 *   db.query('insert into t values(?, ?)', [1, 'x']);
 *   var rows = db.query('select * from t');        // [{a: '1', b: 'x'}]
 *   db.close();
 *
 * Rows are plain objects with one read-only, enumerable property per
 * column: the column's text as SQLite gives it (UTF-8 bytes, one character
 * per byte), or undefined for NULL. SQLite runs with the heap released; the
 * row callback takes the heap back only while it builds one row. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <sqlite3.h>

#include "kx4.h"

namespace {

HostApi *api;  // the host's table, kept for the life of the process

const Kx4Class databaseClass = {"SQLite"};

const char *const kNotInitialized = "SQL error: database object not initialized";

// SQLite's limit on the parameters of one statement (its default
// SQLITE_MAX_VARIABLE_NUMBER).
const uint32_t kMaxParams = 32766;

// Another connection holding the file's lock makes a statement retry for
// this long before it fails with "database is locked": two script threads
// writing one file then take turns instead of failing.
const DWORD kBusyTimeoutMs = 5000;

// Connections of this process waiting for a lock. A writer in a loop takes
// the lock again within microseconds of its commit, so a waiter that only
// looks now and then may never find it free: a statement that ends while
// someone waits pauses a moment, and the waiters look every millisecond.
volatile LONG busyWaiters;

struct BusyWait {
    ULONGLONG deadline;
    volatile LONG waiting;  // counted in busyWaiters
};

// SQLite's busy handler: whether to try again (nonzero) or give up.
int busyRetry(void *data, int attempt) {
    BusyWait *wait = static_cast<BusyWait *>(data);
    if (attempt == 0) {
        wait->deadline = GetTickCount64() + kBusyTimeoutMs;
        if (InterlockedExchange(&wait->waiting, 1) == 0) InterlockedIncrement(&busyWaiters);
    }
    if (GetTickCount64() >= wait->deadline) return 0;
    Sleep(1);
    return 1;
}

// After a statement: the wait it made (if any) is over, and a waiting
// connection gets its chance before this thread takes the lock again.
void endBusyWait(BusyWait *wait) {
    if (InterlockedExchange(&wait->waiting, 0) == 1) InterlockedDecrement(&busyWaiters);
    if (InterlockedCompareExchange(&busyWaiters, 0, 0) > 0) Sleep(2);
}

// The private data of an SQLite object. From the process heap, so that the
// finalizer frees it without the engine. The counters change only while
// the heap is held, so the heap lock guards them.
// Statements of query(sql, params) are kept prepared for the next call
// with the same text: a loop of inserts then prepares once. Most recent
// first; a statement in use is out of the list.
const int kCachedStatements = 8;

struct DatabaseRecord {
    const Kx4Class *kx4Class;  // &databaseClass
    sqlite3 *db;               // null after a failed open or close
    BusyWait *busy;            // the busy handler's state, freed with the connection
    sqlite3_stmt *cache[kCachedStatements];  // reset, bindings cleared
    int32_t users;             // queries running on `db` with the heap released
    int32_t pins;              // natives holding the record across a heap release
    bool orphaned;             // finalized while pinned: the last unpin frees it
};

void closeConnection(sqlite3 *db, BusyWait *busy, sqlite3_stmt *const *cache) {
    for (int i = 0; i < kCachedStatements; i++) sqlite3_finalize(cache[i]);
    if (db) sqlite3_close_v2(db);
    HeapFree(GetProcessHeap(), 0, busy);
}

void destroyRecord(DatabaseRecord *rec) {
    closeConnection(rec->db, rec->busy, rec->cache);
    HeapFree(GetProcessHeap(), 0, rec);
}

// Keeps a record alive while its native releases the heap.
class RecordPin {
  public:
    explicit RecordPin(DatabaseRecord *rec) : rec_(rec) { rec_->pins++; }
    ~RecordPin() {
        if (--rec_->pins == 0 && rec_->orphaned) destroyRecord(rec_);
    }
    RecordPin(const RecordPin &) = delete;
    RecordPin &operator=(const RecordPin &) = delete;

  private:
    DatabaseRecord *rec_;
};

// Marks the connection in use: close waits until no query uses it.
class ConnectionUse {
  public:
    explicit ConnectionUse(DatabaseRecord *rec) : pin_(rec), rec_(rec) { rec_->users++; }
    ~ConnectionUse() { rec_->users--; }
    ConnectionUse(const ConnectionUse &) = delete;
    ConnectionUse &operator=(const ConnectionUse &) = delete;

  private:
    RecordPin pin_;
    DatabaseRecord *rec_;
};

// The cached statement of exactly this text, taken out of the list; null
// when there is none. With the heap held (it guards the list).
sqlite3_stmt *takeStatement(DatabaseRecord *rec, const char *sql) {
    for (int i = 0; i < kCachedStatements && rec->cache[i]; i++) {
        sqlite3_stmt *stmt = rec->cache[i];
        if (strcmp(sqlite3_sql(stmt), sql) != 0) continue;
        for (int j = i; j + 1 < kCachedStatements; j++) rec->cache[j] = rec->cache[j + 1];
        rec->cache[kCachedStatements - 1] = nullptr;
        return stmt;
    }
    return nullptr;
}

// Puts a reset statement first in the list; the least recently used one
// falls out. A connection closed meanwhile keeps nothing.
void keepStatement(DatabaseRecord *rec, sqlite3 *db, sqlite3_stmt *stmt) {
    if (!stmt) return;
    if (rec->db != db) {
        sqlite3_finalize(stmt);
        return;
    }
    sqlite3_finalize(rec->cache[kCachedStatements - 1]);
    for (int j = kCachedStatements - 1; j > 0; j--) rec->cache[j] = rec->cache[j - 1];
    rec->cache[0] = stmt;
}

// ---- Rows -------------------------------------------------------------------

// What the row callback needs. It runs on the querying thread while SQLite
// holds the connection, with the request suspended at `depth`.
struct RowSink {
    JSContext *cx;
    JSObject *rows;  // the result array, held by the native's call
    int32_t count;   // rows stored so far
    intN depth;      // the request's depth, for the resume
    bool failed;     // a slot failed: its error is pending
};

// Builds one row object at the end of the array, with the heap taken for
// just that long. Every value of the row lives in a request scope of its
// own, so a long result does not fill the value stack: the array holds the
// rows. Returns nonzero (SQLite stops) when a slot failed, e.g. at the
// heap's limit.
int storeRow(void *data, int columns, char **values, char **names) {
    RowSink *sink = static_cast<RowSink *>(data);
    JSContext *cx = sink->cx;
    api->resumeRequest(cx, sink->depth);
    api->beginRequest(cx);
    JSObject *row = api->newObject(cx, 0);
    bool ok = row != nullptr;
    for (int i = 0; ok && i < columns; i++) {
        jsval v = values[i] ? api->newString(cx, values[i], 0) : JSVAL_VOID;
        ok = (values[i] == nullptr || v != JSVAL_VOID) && kx4DefineResult(api, cx, row, names[i], v);
    }
    if (ok) {
        // Defined, not assigned: an index setter on Array.prototype would run
        // script here, inside SQLite's call, where a close of this object
        // would wait for this very query.
        char index[16];
        snprintf(index, sizeof index, "%d", static_cast<int>(sink->count));
        ok = api->defineProperty(cx, sink->rows, index, OBJECT_TO_JSVAL(row), nullptr, nullptr, JSPROP_ENUMERATE);
    }
    api->endRequest(cx);
    if (ok) sink->count++;
    sink->failed = !ok;
    sink->depth = api->suspendRequest(cx);
    return ok ? 0 : 1;
}

// ---- Bound parameters -------------------------------------------------------

enum ParamKind { PARAM_NULL, PARAM_INTEGER, PARAM_REAL, PARAM_TEXT };

struct Param {
    ParamKind kind;
    sqlite3_int64 integer;
    double real;
    const char *text;  // held by the native's call; stays put with the heap released
    size_t length;
};

// Whole numbers within 2^53 bind as integers, so 1 is stored and read back
// as "1", not "1.0"; -0 and others bind as reals.
void numberParam(Param *p, double d) {
    const double limit = 9007199254740992.0;
    if (d == d && d >= -limit && d <= limit && d == static_cast<double>(static_cast<sqlite3_int64>(d)) &&
        !(d == 0 && signbit(d))) {
        p->kind = PARAM_INTEGER;
        p->integer = static_cast<sqlite3_int64>(d);
    } else {
        p->kind = PARAM_REAL;
        p->real = d;
    }
}

// Converts the array's elements: numbers as numbers, null and undefined as
// NULL, booleans as 1 and 0, strings (and anything else, through String(v))
// as their bytes. Gives a malloc'd block (null for an empty array) or
// nothing with an error pending.
Param *readParams(JSContext *cx, JSObject *array, uint32_t count) {
    if (count == 0) return nullptr;
    Param *params = static_cast<Param *>(calloc(count, sizeof(Param)));
    if (!params) {
        api->reportError(cx, "SQLite.query: out of memory");
        return nullptr;
    }
    for (uint32_t i = 0; i < count; i++) {
        jsval v = JSVAL_VOID;
        // A getter that throws makes getElement fail with its error pending.
        if (!api->getElement(cx, array, static_cast<int32_t>(i), &v)) {
            if (kx4ErrorPending(api, cx)) break;
            v = JSVAL_VOID;
        }
        Param *p = &params[i];
        if (v == JSVAL_VOID || v == JSVAL_NULL) {
            p->kind = PARAM_NULL;
        } else if (JSVAL_IS_INT(v)) {
            p->kind = PARAM_INTEGER;
            p->integer = JSVAL_TO_INT(v);
        } else if (JSVAL_IS_DOUBLE(v)) {
            numberParam(p, JSVAL_TO_DOUBLE(v));
        } else if (JSVAL_IS_BOOLEAN(v)) {
            p->kind = PARAM_INTEGER;
            p->integer = JSVAL_TO_BOOLEAN(v) ? 1 : 0;
        } else {
            p->kind = PARAM_TEXT;
            p->text = kx4ValueBytes(api, cx, v, &p->length);
            // Only an object's conversion runs script that may throw; the
            // first exception stops the conversions.
            if (!JSVAL_IS_STRING(v) && kx4ErrorPending(api, cx)) break;
        }
    }
    return params;
}

// The outcome of a statement run with parameters, made with the heap
// released; the texts are SQLite's or our own, copied for the report.
struct Outcome {
    int code;          // SQLITE_OK, or the failure
    char message[512]; // the failure's text
};

bool onlySpaceOrComments(sqlite3 *db, const char *tail) {
    while (*tail == ' ' || *tail == '\t' || *tail == '\r' || *tail == '\n' || *tail == ';') tail++;
    if (!*tail) return true;
    // Comments alone prepare to no statement.
    sqlite3_stmt *next = nullptr;
    int rc = sqlite3_prepare_v2(db, tail, -1, &next, nullptr);
    bool empty = rc == SQLITE_OK && next == nullptr;
    sqlite3_finalize(next);
    return empty;
}

void fail(Outcome *out, int code, const char *message) {
    out->code = code;
    snprintf(out->message, sizeof out->message, "%s", message);
}

// Prepares one statement (unless *kept holds it already, from the cache),
// binds the parameters and steps through its rows, handing each to
// storeRow. Runs with the heap released (storeRow takes it back per row).
// Leaves in *kept a statement worth keeping for the same text, reset.
void runBound(sqlite3 *db, const char *sql, const Param *params, uint32_t count, RowSink *sink, Outcome *out,
              sqlite3_stmt **kept) {
    out->code = SQLITE_OK;
    out->message[0] = 0;
    sqlite3_stmt *stmt = *kept;
    *kept = nullptr;
    const char *tail = nullptr;
    int rc = SQLITE_OK;
    if (!stmt) rc = sqlite3_prepare_v2(db, sql, -1, &stmt, &tail);
    if (rc != SQLITE_OK) {
        fail(out, rc, sqlite3_errmsg(db));
        return;
    }
    // One statement only: the rest would otherwise run without parameters
    // or be dropped unseen.
    if (tail && !onlySpaceOrComments(db, tail)) {
        sqlite3_finalize(stmt);
        fail(out, SQLITE_MISUSE, "only one statement may run with parameters");
        return;
    }
    int expected = stmt ? sqlite3_bind_parameter_count(stmt) : 0;
    if (static_cast<uint32_t>(expected) != count) {
        sqlite3_finalize(stmt);
        char text[128];
        snprintf(text, sizeof text, "%u parameters given, the statement takes %d", count, expected);
        fail(out, SQLITE_RANGE, text);
        return;
    }
    if (!stmt) return;  // nothing but comments
    for (uint32_t i = 0; i < count && rc == SQLITE_OK; i++) {
        const Param &p = params[i];
        int index = static_cast<int>(i) + 1;
        switch (p.kind) {
        case PARAM_NULL: rc = sqlite3_bind_null(stmt, index); break;
        case PARAM_INTEGER: rc = sqlite3_bind_int64(stmt, index, p.integer); break;
        case PARAM_REAL: rc = sqlite3_bind_double(stmt, index, p.real); break;
        case PARAM_TEXT: rc = sqlite3_bind_text64(stmt, index, p.text, p.length, SQLITE_STATIC, SQLITE_UTF8); break;
        }
    }
    if (rc != SQLITE_OK) {
        fail(out, rc, sqlite3_errmsg(db));
        sqlite3_finalize(stmt);
        return;
    }
    int columns = sqlite3_column_count(stmt);
    char **cells = columns ? static_cast<char **>(calloc(2 * static_cast<size_t>(columns), sizeof(char *))) : nullptr;
    if (columns && !cells) {
        sqlite3_finalize(stmt);
        fail(out, SQLITE_NOMEM, "out of memory");
        return;
    }
    char **names = cells + columns;
    for (int i = 0; i < columns; i++) names[i] = const_cast<char *>(sqlite3_column_name(stmt, i));
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        for (int i = 0; i < columns; i++)
            cells[i] = reinterpret_cast<char *>(const_cast<unsigned char *>(sqlite3_column_text(stmt, i)));
        if (storeRow(sink, columns, cells, names)) {
            rc = SQLITE_ABORT;
            break;
        }
    }
    if (rc != SQLITE_DONE && rc != SQLITE_ABORT) fail(out, rc, sqlite3_errmsg(db));
    if (rc == SQLITE_ABORT) fail(out, rc, "query aborted");
    free(cells);
    // Kept only when it is the whole text, so that the same text finds it.
    if (rc == SQLITE_DONE && sqlite3_reset(stmt) == SQLITE_OK && strcmp(sqlite3_sql(stmt), sql) == 0) {
        sqlite3_clear_bindings(stmt);
        *kept = stmt;
    } else {
        sqlite3_finalize(stmt);
    }
}

// ---- Methods ----------------------------------------------------------------

JSBool databaseQuery(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "SQLite.query(<sql>)")) return JS_FALSE;
    const char *sql = api->valueToString(cx, argv[0]);
    bool bound = kx4HasArg(argc, argv, 1);
    uint32_t paramCount = 0;
    Param *params = nullptr;
    if (bound) {
        if (!kx4IsObject(argv[1]) || !api->getArrayLength(cx, JSVAL_TO_OBJECT(argv[1]), &paramCount)) {
            if (kx4ErrorPending(api, cx)) return JS_FALSE;
            api->reportError(cx, "SQLite.query: params must be an array");
            return JS_FALSE;
        }
        // More than a statement can take: refused before anything is read.
        if (paramCount > kMaxParams) {
            api->reportError(cx, "SQL error: %u parameters given, a statement takes at most %u\nSQL query: %s",
                             paramCount, kMaxParams, sql);
            return JS_FALSE;
        }
        params = readParams(cx, JSVAL_TO_OBJECT(argv[1]), paramCount);
        if (paramCount && !params) return JS_FALSE;
    }
    if (kx4ErrorPending(api, cx)) {
        free(params);
        return JS_FALSE;
    }
    DatabaseRecord *rec = static_cast<DatabaseRecord *>(kx4CheckPrivate(api, cx, obj, &databaseClass, kNotInitialized));
    if (!rec || !rec->db) {
        free(params);
        if (rec) api->reportError(cx, "%s", kNotInitialized);
        return JS_FALSE;
    }
    JSObject *rows = api->newArray(cx, 0, nullptr);
    if (!rows) {
        free(params);
        return JS_FALSE;
    }
    *rval = OBJECT_TO_JSVAL(rows);

    RowSink sink = {cx, rows, 0, 0, false};
    Outcome out;
    char *execError = nullptr;
    {
        ConnectionUse use(rec);
        sqlite3 *db = rec->db;
        BusyWait *busy = rec->busy;
        sqlite3_stmt *stmt = bound ? takeStatement(rec, sql) : nullptr;
        sink.depth = api->suspendRequest(cx);
        if (bound) {
            runBound(db, sql, params, paramCount, &sink, &out, &stmt);
        } else {
            out.code = sqlite3_exec(db, sql, storeRow, &sink, &execError);
            out.message[0] = 0;
        }
        endBusyWait(busy);
        api->resumeRequest(cx, sink.depth);
        keepStatement(rec, db, stmt);
    }
    free(params);
    if (sink.failed) {
        // Building a row can fail only for want of script memory: a result
        // too large for the heap. SQLite stopped there; the rows made so far
        // go with the array.
        sqlite3_free(execError);
        api->reportError(cx, "SQLite.query: out of script memory after %d rows", static_cast<int>(sink.count));
        return JS_FALSE;
    }
    if (out.code != SQLITE_OK) {
        const char *message = execError ? execError : out.message[0] ? out.message : sqlite3_errstr(out.code);
        api->reportError(cx, "SQL error: %s\nSQL query: %s", message, sql);
        sqlite3_free(execError);
        return JS_FALSE;
    }
    return JS_TRUE;
}

// Closing waits for queries that other script threads run on this object.
JSBool databaseClose(JSContext *cx, JSObject *obj, uintN, jsval *, jsval *) {
    DatabaseRecord *rec = static_cast<DatabaseRecord *>(kx4GetClassPrivate(api, cx, obj, &databaseClass));
    if (!rec || !rec->db) return JS_TRUE;
    sqlite3 *db = rec->db;
    BusyWait *busy = rec->busy;
    sqlite3_stmt *cache[kCachedStatements];
    memcpy(cache, rec->cache, sizeof cache);
    memset(rec->cache, 0, sizeof rec->cache);
    rec->db = nullptr;  // later queries find no connection at once
    rec->busy = nullptr;
    RecordPin pin(rec);
    while (rec->users > 0) {
        Kx4HeapReleased released(api, cx);
        Sleep(1);
    }
    Kx4HeapReleased released(api, cx);
    closeConnection(db, busy, cache);
    return JS_TRUE;
}

// ---- Class ------------------------------------------------------------------

// A failed open reports "Can't open database: ..." and still makes the
// object, without a connection; the host throws the reported error to the
// caller.
JSBool databaseConstruct(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *) {
    if (!kx4RequireArgs(api, cx, argc, 1, "SQLite(<file>)")) return JS_FALSE;
    const jschar *file = api->valueToUCString(cx, argv[0]);
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    DatabaseRecord *rec = static_cast<DatabaseRecord *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(DatabaseRecord)));
    if (!rec) {
        api->reportError(cx, "SQLite: out of memory");
        return JS_FALSE;
    }
    rec->kx4Class = &databaseClass;
    BusyWait *busy = static_cast<BusyWait *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(BusyWait)));
    if (!busy) {
        HeapFree(GetProcessHeap(), 0, rec);
        api->reportError(cx, "SQLite: out of memory");
        return JS_FALSE;
    }
    sqlite3 *db = nullptr;
    char failure[512] = "";
    {
        Kx4HeapReleased released(api, cx);
        int rc = sqlite3_open16(file, &db);
        if (rc == SQLITE_OK) {
            sqlite3_busy_handler(db, busyRetry, busy);
            // sqlite3_open16 would make a new file a UTF-16 database, through
            // which a byte string that is not valid UTF-8 (Latin-1 text from
            // a device) comes back altered. An existing file keeps its own
            // encoding.
            sqlite3_exec(db, "PRAGMA encoding = 'UTF-8'", nullptr, nullptr, nullptr);
        } else {
            snprintf(failure, sizeof failure, "%s", db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
            sqlite3_close_v2(db);
            db = nullptr;
        }
    }
    if (!db) {
        HeapFree(GetProcessHeap(), 0, busy);
        busy = nullptr;
    }
    rec->db = db;
    rec->busy = busy;
    if (!api->setPrivate(cx, obj, rec)) {
        destroyRecord(rec);
        return JS_FALSE;
    }
    if (!db) api->reportError(cx, "Can't open database: %s", failure);
    return JS_TRUE;
}

// A connection the script forgot to close is closed when its object is
// collected. The prototype is finalized too, without a record.
void databaseFinalize(JSContext *cx, JSObject *obj) {
    DatabaseRecord *rec = static_cast<DatabaseRecord *>(kx4TakeClassPrivate(api, cx, obj, &databaseClass));
    if (!rec) return;
    if (rec->pins > 0) {
        rec->orphaned = true;  // the native holding it frees it
        return;
    }
    destroyRecord(rec);
}

const JSFunctionSpec databaseMethods[] = {
    JS_FS("query", databaseQuery, 1),
    JS_FS("close", databaseClose, 0),
    JS_FS_END,
};

}  // namespace

KX4_MODULE_INIT {
    api = hostApi;
    api->defineClass(cx, "SQLite", databaseConstruct, 0, nullptr, databaseMethods, nullptr, nullptr,
                     databaseFinalize);
}
