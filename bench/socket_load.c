/* The HTTP load generator of the Socket benchmark, a native Linux program
 * (bench/socket_run.sh compiles it with the host's cc): <clients> threads,
 * each sending "GET /" and reading the whole answer (Content-Length), for
 * <seconds>; keep-alive reuses one connection per client, otherwise each
 * request has a connection of its own.
 *
 *   socket_load <port> <clients> <seconds> <keepalive 0|1>
 *
 * Prints "<requests per second> <requests> <errors>". */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

static int port, seconds, keepalive;
static volatile int stop;

struct result { long requests, errors; };

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

static int connectServer(void) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in sa = {0};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (connect(s, (struct sockaddr *)&sa, sizeof sa) != 0) {
        close(s);
        return -1;
    }
    return s;
}

/* One request and its whole answer; 0 on success. */
static int exchange(int s) {
    static const char req[] = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    if (write(s, req, sizeof req - 1) != (ssize_t)(sizeof req - 1)) return -1;
    char buf[4096];
    int have = 0;
    for (;;) {
        ssize_t n = read(s, buf + have, sizeof buf - 1 - have);
        if (n <= 0) return -1;
        have += n;
        buf[have] = 0;
        char *end = strstr(buf, "\r\n\r\n");
        char *len = strstr(buf, "Content-Length: ");
        if (end && len && have >= (end + 4 - buf) + atoi(len + 16)) return 0;
        if (have >= (int)sizeof buf - 1) return -1;
    }
}

static void *client(void *arg) {
    struct result *r = arg;
    int s = -1;
    while (!stop) {
        if (s < 0 && (s = connectServer()) < 0) {
            r->errors++;
            usleep(1000);
            continue;
        }
        if (exchange(s) == 0) r->requests++;
        else r->errors++;
        if (!keepalive || r->errors) {
            close(s);
            s = -1;
        }
    }
    if (s >= 0) close(s);
    return NULL;
}

int main(int argc, char **argv) {
    if (argc < 5) {
        fprintf(stderr, "usage: socket_load <port> <clients> <seconds> <keepalive>\n");
        return 2;
    }
    port = atoi(argv[1]);
    int clients = atoi(argv[2]);
    seconds = atoi(argv[3]);
    keepalive = atoi(argv[4]);
    pthread_t threads[256];
    struct result results[256] = {{0, 0}};
    double t0 = now();
    for (int i = 0; i < clients; i++) pthread_create(&threads[i], NULL, client, &results[i]);
    sleep(seconds);
    stop = 1;
    long requests = 0, errors = 0;
    for (int i = 0; i < clients; i++) {
        pthread_join(threads[i], NULL);
        requests += results[i].requests;
        errors += results[i].errors;
    }
    printf("%.0f %ld %ld\n", requests / (now() - t0), requests, errors);
    return 0;
}
