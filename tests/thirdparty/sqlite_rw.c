/* Reads and changes a database file that Python's sqlite3 wrote:
 *
 *   sqlite_rw <db file>
 *
 * Prints the library's version and thread-safety, then every row of table
 * items ("row <id> <name hex> <qty|NULL> <price> <data hex>"), then makes
 * the changes run_sqlite.py checks: an update, an insert with bound
 * parameters, a delete (one transaction), and 2 x 100 inserts into table
 * log from two threads sharing the connection. Exit 0 on success. */
#include <sqlite3.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

static sqlite3 *db;

static int fail(const char *what) {
    fprintf(stderr, "sqlite_rw: %s: %s\n", what, sqlite3_errmsg(db));
    return 1;
}

static void print_hex(const unsigned char *p, int n) {
    if (n == 0)
        printf("-");
    for (int i = 0; i < n; i++)
        printf("%02x", p[i]);
}

static int dump(void) {
    sqlite3_stmt *st;
    if (sqlite3_prepare_v2(db, "SELECT id, name, qty, price, data FROM items ORDER BY id", -1, &st, NULL))
        return fail("select");
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        printf("row %lld ", sqlite3_column_int64(st, 0));
        const unsigned char *name = sqlite3_column_text(st, 1);
        print_hex(name, sqlite3_column_bytes(st, 1));
        if (sqlite3_column_type(st, 2) == SQLITE_NULL)
            printf(" NULL");
        else
            printf(" %lld", sqlite3_column_int64(st, 2));
        printf(" %.17g ", sqlite3_column_double(st, 3));
        const void *blob = sqlite3_column_blob(st, 4);
        print_hex(blob, sqlite3_column_bytes(st, 4));
        printf("\n");
    }
    sqlite3_finalize(st);
    return rc == SQLITE_DONE ? 0 : fail("step");
}

static int change(void) {
    static const unsigned char blob[] = {0x00, 0xff, 0x10, 0x80};
    /* "Grüße ✓" in UTF-8 */
    static const char name[] = "Gr\xc3\xbc\xc3\x9f" "e \xe2\x9c\x93";
    sqlite3_stmt *st;
    if (sqlite3_exec(db, "BEGIN; UPDATE items SET qty = qty + 1 WHERE id = 2; DELETE FROM items WHERE id = 3;",
                     NULL, NULL, NULL))
        return fail("update/delete");
    if (sqlite3_prepare_v2(db, "INSERT INTO items (id, name, qty, price, data) VALUES (?, ?, ?, ?, ?)", -1, &st, NULL))
        return fail("prepare insert");
    sqlite3_bind_int64(st, 1, 4000000000LL);
    sqlite3_bind_text(st, 2, name, -1, SQLITE_STATIC);
    sqlite3_bind_null(st, 3);
    sqlite3_bind_double(st, 4, -0.125);
    sqlite3_bind_blob(st, 5, blob, sizeof blob, SQLITE_STATIC);
    int rc = sqlite3_step(st);
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE)
        return fail("insert");
    return sqlite3_exec(db, "COMMIT", NULL, NULL, NULL) ? fail("commit") : 0;
}

/* Each thread inserts (thread, i) for i in 0..99 through the shared
 * connection: the library must serialise them. */
static DWORD WINAPI writer(LPVOID arg) {
    int thread = (int)(INT_PTR)arg;
    for (int i = 0; i < 100; i++) {
        char sql[80];
        snprintf(sql, sizeof sql, "INSERT INTO log (thread, i) VALUES (%d, %d)", thread, i);
        if (sqlite3_exec(db, sql, NULL, NULL, NULL))
            return 1;
    }
    return 0;
}

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: sqlite_rw <db file>\n");
        return 2;
    }
    printf("version %s threadsafe %d\n", sqlite3_libversion(), sqlite3_threadsafe());
    /* The file name is UTF-8 for sqlite3_open_v2; the test's path is ASCII. */
    if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, NULL))
        return fail("open");
    if (dump() || change())
        return 1;
    if (sqlite3_exec(db, "CREATE TABLE log (thread INTEGER, i INTEGER)", NULL, NULL, NULL))
        return fail("create log");
    HANDLE threads[2];
    for (int t = 0; t < 2; t++)
        threads[t] = CreateThread(NULL, 0, writer, (LPVOID)(INT_PTR)t, 0, NULL);
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    for (int t = 0; t < 2; t++) {
        DWORD code = 1;
        GetExitCodeThread(threads[t], &code);
        CloseHandle(threads[t]);
        if (code)
            return fail("threaded insert");
    }
    if (sqlite3_close(db))
        return fail("close");
    printf("done\n");
    return 0;
}
