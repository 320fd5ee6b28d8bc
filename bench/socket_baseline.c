/* The Socket benchmark's baseline: what bench/socket_bench.js does, in plain
 * C with Winsock and OpenSSL, called the way kx4net.dll calls them
 * (blocking waits in select, OpenSSL's flexible method with TLS 1.2 at
 * least). Run by bench/socket_run.sh under wine.
 *
 *   socket_baseline http <port>                 thread-per-client HTTP server (keep-alive), until killed
 *   socket_baseline send <port> <bytes>         sends bytes, waits for the peer's one-byte answer
 *   socket_baseline recv <port> <bytes>         reads until the peer closes
 *   socket_baseline tls-handshakes <port> <n>   n full TLS handshakes
 *   socket_baseline tls-send <port> <bytes>     as send, over TLS
 *   socket_baseline tls-recv <port> <bytes>     as recv, over TLS
 *   socket_baseline idle <port> <n>             n connections, each with a thread waiting in recv
 *
 * Prints one line: "<mode> <milliseconds> <count>" (idle: "idle <KiB per
 * connection> <n>"). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#define CHUNK 65536

static const char RESPONSE[] = "HTTP/1.1 200 OK\r\nContent-Length: 13\r\nContent-Type: text/plain\r\n\r\nHello, world!";

static double nowMs(void) {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return (double)c.QuadPart * 1000.0 / (double)f.QuadPart;
}

static SOCKET connectTo(int port) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in sa;
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = htons((u_short)port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, (struct sockaddr *)&sa, sizeof sa) != 0) {
        fprintf(stderr, "connect failed: %d\n", WSAGetLastError());
        exit(1);
    }
    return s;
}

/* One client of the HTTP server: request heads in, fixed answers out, until the client goes. */
static DWORD WINAPI serveClient(void *arg) {
    SOCKET c = (SOCKET)(UINT_PTR)arg;
    char buf[4001];
    int have = 0;
    for (;;) {
        int n = recv(c, buf + have, 4000 - have, 0);
        if (n <= 0) break;
        have += n;
        buf[have] = 0;
        char *end;
        while ((end = strstr(buf, "\r\n\r\n")) != NULL) {
            send(c, RESPONSE, (int)sizeof RESPONSE - 1, 0);
            int used = (int)(end + 4 - buf);
            memmove(buf, buf + used, (size_t)(have - used + 1));
            have -= used;
        }
        if (have >= 4000) break;
    }
    closesocket(c);
    return 0;
}

static int httpServer(int port) {
    SOCKET l = socket(AF_INET, SOCK_STREAM, 0);
    BOOL on = TRUE;
    setsockopt(l, SOL_SOCKET, SO_REUSEADDR, (const char *)&on, sizeof on);
    struct sockaddr_in sa;
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = htons((u_short)port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(l, (struct sockaddr *)&sa, sizeof sa) != 0 || listen(l, 10) != 0) return 1;
    printf("listening\n");
    fflush(stdout);
    for (;;) {
        SOCKET c = accept(l, NULL, NULL);
        if (c == INVALID_SOCKET) continue;
        HANDLE t = CreateThread(NULL, 0, serveClient, (void *)(UINT_PTR)c, 0, NULL);
        if (t) CloseHandle(t);
        else closesocket(c);
    }
}

static SSL_CTX *clientContext(void) {
    SSL_CTX *ctx = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
    return ctx;
}

static SSL *tlsConnect(SSL_CTX *ctx, SOCKET s) {
    SSL *ssl = SSL_new(ctx);
    SSL_set_fd(ssl, (int)s);
    if (SSL_connect(ssl) != 1) {
        fprintf(stderr, "handshake failed\n");
        exit(1);
    }
    return ssl;
}

static long long sendBytes(SOCKET s, SSL *ssl, long long total) {
    static char chunk[CHUNK];
    for (int i = 0; i < CHUNK; i++) chunk[i] = (char)i;
    long long done = 0;
    while (done < total) {
        int n = total - done < CHUNK ? (int)(total - done) : CHUNK;
        int w = ssl ? SSL_write(ssl, chunk, n) : send(s, chunk, n, 0);
        if (w <= 0) break;
        done += w;
    }
    char ack;
    if (ssl) SSL_read(ssl, &ack, 1);
    else recv(s, &ack, 1, 0);
    return done;
}

static long long recvBytes(SOCKET s, SSL *ssl) {
    static char buf[CHUNK];
    long long got = 0;
    for (;;) {
        int n = ssl ? SSL_read(ssl, buf, CHUNK) : recv(s, buf, CHUNK, 0);
        if (n <= 0) break;
        got += n;
    }
    return got;
}

static DWORD WINAPI idleClient(void *arg) {
    char buf[4000];
    recv((SOCKET)(UINT_PTR)arg, buf, sizeof buf, 0);
    return 0;
}

static double privateKiB(void) {
    /* What Bench.memory() reads as "private" for the kx4 side. */
    PROCESS_MEMORY_COUNTERS pmc;
    pmc.cb = sizeof pmc;
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);
    return (double)pmc.PagefileUsage / 1024.0;
}

int main(int argc, char **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: socket_baseline <mode> <port> [n]\n");
        return 2;
    }
    WSADATA wsa;
    WSAStartup(0x0101, &wsa);
    const char *mode = argv[1];
    int port = atoi(argv[2]);
    long long n = argc > 3 ? _atoi64(argv[3]) : 0;
    if (!strcmp(mode, "http")) return httpServer(port);

    double t0 = nowMs();
    long long count = 0;
    if (!strcmp(mode, "send") || !strcmp(mode, "recv")) {
        SOCKET s = connectTo(port);
        count = mode[0] == 's' ? sendBytes(s, NULL, n) : recvBytes(s, NULL);
        closesocket(s);
    } else if (!strcmp(mode, "tls-send") || !strcmp(mode, "tls-recv")) {
        SSL_CTX *ctx = clientContext();
        SOCKET s = connectTo(port);
        SSL *ssl = tlsConnect(ctx, s);
        count = mode[4] == 's' ? sendBytes(s, ssl, n) : recvBytes(s, ssl);
        SSL_shutdown(ssl);
        SSL_free(ssl);
        closesocket(s);
    } else if (!strcmp(mode, "tls-handshakes")) {
        SSL_CTX *ctx = clientContext();
        for (count = 0; count < n; count++) {
            SOCKET s = connectTo(port);
            SSL *ssl = tlsConnect(ctx, s);
            SSL_shutdown(ssl);
            SSL_free(ssl);
            closesocket(s);
        }
    } else if (!strcmp(mode, "idle")) {
        SOCKET warm = connectTo(port);
        closesocket(warm);
        double before = privateKiB();
        for (count = 0; count < n; count++) {
            SOCKET s = connectTo(port);
            HANDLE t = CreateThread(NULL, 0, idleClient, (void *)(UINT_PTR)s, 0, NULL);
            if (t) CloseHandle(t);
        }
        Sleep(500);
        printf("idle %.1f %lld\n", (privateKiB() - before) / (double)n, n);
        return 0;
    } else {
        fprintf(stderr, "unknown mode %s\n", mode);
        return 2;
    }
    printf("%s %.1f %lld\n", mode, nowMs() - t0, count);
    return 0;
}
