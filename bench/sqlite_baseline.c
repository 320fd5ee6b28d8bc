/* The SQLite benchmark's baseline (bench/sqlite_run.sh): the same SQLite,
 * linked the same way as kx4db.dll, called from plain C as kx4db.dll calls
 * it for each script call.
 *
 *   kx4bench_sqlite_baseline <file> <rows> [page]
 *
 * Makes <file> anew and prints one line per measurement, "C <name> <ms>":
 *   insert_text      <rows> inserts in one transaction, each statement text
 *                    made with snprintf and run with sqlite3_exec
 *   insert_bound     the same with prepare, five binds, step and finalize
 *                    per row (what query(sql, params) does)
 *   insert_prepared  for scale: one statement prepared once, bound per row
 *   select           sqlite3_exec of "select * from b" in pages of [page]
 *                    rows (50000), as the script does, with a callback that
 *                    touches every value (its length)
 * then "C memory <peak working set MiB> <private MiB>". */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
#include <psapi.h>

#include <sqlite3.h>

static double nowMs(void) {
    static LARGE_INTEGER f;
    LARGE_INTEGER c;
    if (!f.QuadPart) QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return (double)c.QuadPart * 1000.0 / (double)f.QuadPart;
}

static void must(int rc, sqlite3 *db, const char *what) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        fprintf(stderr, "%s: %s\n", what, sqlite3_errmsg(db));
        exit(1);
    }
}

static sqlite3 *fresh(const char *file) {
    sqlite3 *db;
    remove(file);
    must(sqlite3_open(file, &db), db, "open");
    must(sqlite3_exec(db, "create table b(id integer primary key, name text, value real, note text, k integer)",
                      0, 0, 0), db, "create");
    return db;
}

static void bindRow(sqlite3_stmt *st, int i, const char *name) {
    sqlite3_bind_int64(st, 1, i);
    sqlite3_bind_text(st, 2, name, -1, SQLITE_STATIC);
    sqlite3_bind_double(st, 3, i * 0.5);
    sqlite3_bind_text(st, 4, "x", 1, SQLITE_STATIC);
    sqlite3_bind_int64(st, 5, i % 7);
}

static const char *kInsert = "insert into b values(?, ?, ?, ?, ?)";

static double insertRows(const char *file, int rows, const char *mode) {
    sqlite3 *db = fresh(file);
    char sql[256], name[64];
    sqlite3_stmt *st = 0;
    double t0 = nowMs();
    must(sqlite3_exec(db, "begin", 0, 0, 0), db, "begin");
    if (!strcmp(mode, "prepared")) must(sqlite3_prepare_v2(db, kInsert, -1, &st, 0), db, "prepare");
    for (int i = 0; i < rows; i++) {
        snprintf(name, sizeof name, "name %d", i);
        if (!strcmp(mode, "text")) {
            snprintf(sql, sizeof sql, "insert into b values(%d, '%s', %.17g, 'x', %d)", i, name, i * 0.5, i % 7);
            must(sqlite3_exec(db, sql, 0, 0, 0), db, "insert");
        } else if (!strcmp(mode, "bound")) {
            must(sqlite3_prepare_v2(db, kInsert, -1, &st, 0), db, "prepare");
            bindRow(st, i, name);
            must(sqlite3_step(st), db, "step");
            sqlite3_finalize(st);
        } else {
            bindRow(st, i, name);
            must(sqlite3_step(st), db, "step");
            sqlite3_reset(st);
        }
    }
    sqlite3_finalize(mode[0] == 'p' ? st : 0);
    must(sqlite3_exec(db, "commit", 0, 0, 0), db, "commit");
    double ms = nowMs() - t0;
    sqlite3_close(db);
    return ms;
}

static size_t touched;

static int touch(void *unused, int n, char **values, char **names) {
    (void)unused, (void)names;
    for (int i = 0; i < n; i++) touched += values[i] ? strlen(values[i]) : 0;
    return 0;
}

int main(int argc, char **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: kx4bench_sqlite_baseline <file> <rows>\n");
        return 2;
    }
    const char *file = argv[1];
    int rows = atoi(argv[2]);
    printf("C insert_text %.1f\n", insertRows(file, rows, "text"));
    printf("C insert_bound %.1f\n", insertRows(file, rows, "bound"));
    printf("C insert_prepared %.1f\n", insertRows(file, rows, "prepared"));
    sqlite3 *db;
    must(sqlite3_open(file, &db), db, "open");
    int page = argc > 3 ? atoi(argv[3]) : 50000;
    char sql[128];
    double t0 = nowMs();
    for (int from = 0; from < rows; from += page) {
        snprintf(sql, sizeof sql, "select * from b where id >= %d and id < %d", from, from + page);
        must(sqlite3_exec(db, sql, touch, 0, 0), db, "select");
    }
    printf("C select %.1f\n", nowMs() - t0);
    sqlite3_close(db);
    PROCESS_MEMORY_COUNTERS m = {sizeof m};
    GetProcessMemoryInfo(GetCurrentProcess(), &m, sizeof m);
    printf("C memory %.1f %.1f\n", m.PeakWorkingSetSize / 1048576.0, m.PagefileUsage / 1048576.0);
    remove(file);
    return touched ? 0 : 1;
}
