/* A TLS client or server with OpenSSL over Winsock, one exchange each:
 *
 *   tls_peer client <port> <1.2|1.3> <ca.pem> <host name> <message>
 *       connects to 127.0.0.1:<port>, requires exactly that TLS version and
 *       a certificate for <host name> issued by ca.pem, sends "<message>\n",
 *       prints "handshake <version> <cipher>" and "reply <line received>".
 *   tls_peer server <1.2|1.3> <cert.pem> <key.pem>
 *       listens on a free port of 127.0.0.1 and prints "port <n>", accepts
 *       one client with exactly that version, prints "handshake ...", reads
 *       a line and answers "echo: <line>\n", then closes.
 *
 * Exit 0 on success; 1 with "failed: <reason>" on stdout otherwise. */
#include <winsock2.h>
#include <ws2tcpip.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <stdio.h>
#include <string.h>

static int failed(const char *what) {
    unsigned long e = ERR_get_error();
    char reason[256] = "";
    if (e)
        ERR_error_string_n(e, reason, sizeof reason);
    else
        snprintf(reason, sizeof reason, "winsock error %d", WSAGetLastError());
    printf("failed: %s: %s\n", what, reason);
    return 1;
}

static int version_of(const char *v) {
    return strcmp(v, "1.3") == 0 ? TLS1_3_VERSION : strcmp(v, "1.2") == 0 ? TLS1_2_VERSION : 0;
}

/* Reads one line (without its "\n") into buf. */
static int read_line(SSL *ssl, char *buf, int size) {
    int n = 0;
    while (n < size - 1) {
        int r = SSL_read(ssl, buf + n, 1);
        if (r <= 0)
            return -1;
        if (buf[n] == '\n')
            break;
        n++;
    }
    if (n > 0 && buf[n - 1] == '\r')
        n--;
    buf[n] = 0;
    return n;
}

static int write_all(SSL *ssl, const char *text) {
    return SSL_write(ssl, text, (int)strlen(text)) == (int)strlen(text) ? 0 : -1;
}

static void print_handshake(SSL *ssl) {
    printf("handshake %s %s\n", SSL_get_version(ssl), SSL_get_cipher_name(ssl));
    fflush(stdout);
}

static int client(int argc, char **argv) {
    if (argc != 7)
        return 2;
    int version = version_of(argv[3]);
    SSL_CTX *ctx = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_min_proto_version(ctx, version);
    SSL_CTX_set_max_proto_version(ctx, version);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, NULL);
    if (!SSL_CTX_load_verify_locations(ctx, argv[4], NULL))
        return failed("loading the CA file");

    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    struct sockaddr_in addr = {0};
    addr.sin_family = AF_INET;
    addr.sin_port = htons((unsigned short)atoi(argv[2]));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, (struct sockaddr *)&addr, sizeof addr))
        return failed("connect");

    SSL *ssl = SSL_new(ctx);
    SSL_set_fd(ssl, (int)s);
    SSL_set_tlsext_host_name(ssl, argv[5]);
    SSL_set1_host(ssl, argv[5]);
    if (SSL_connect(ssl) != 1)
        return failed("handshake");
    print_handshake(ssl);

    char line[1024];
    snprintf(line, sizeof line, "%s\n", argv[6]);
    if (write_all(ssl, line))
        return failed("write");
    if (read_line(ssl, line, sizeof line) < 0)
        return failed("read");
    printf("reply %s\n", line);
    SSL_shutdown(ssl);
    SSL_free(ssl);
    closesocket(s);
    SSL_CTX_free(ctx);
    return 0;
}

static int server(int argc, char **argv) {
    if (argc != 5)
        return 2;
    int version = version_of(argv[2]);
    SSL_CTX *ctx = SSL_CTX_new(TLS_server_method());
    SSL_CTX_set_min_proto_version(ctx, version);
    SSL_CTX_set_max_proto_version(ctx, version);
    if (SSL_CTX_use_certificate_chain_file(ctx, argv[3]) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx, argv[4], SSL_FILETYPE_PEM) != 1)
        return failed("loading the certificate");

    SOCKET l = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    struct sockaddr_in addr = {0};
    int len = sizeof addr;
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(l, (struct sockaddr *)&addr, sizeof addr) || listen(l, 1) ||
        getsockname(l, (struct sockaddr *)&addr, &len))
        return failed("listen");
    printf("port %u\n", ntohs(addr.sin_port));
    fflush(stdout);
    SOCKET s = accept(l, NULL, NULL);
    if (s == INVALID_SOCKET)
        return failed("accept");
    closesocket(l);

    SSL *ssl = SSL_new(ctx);
    SSL_set_fd(ssl, (int)s);
    if (SSL_accept(ssl) != 1)
        return failed("handshake");
    print_handshake(ssl);
    char line[1024], reply[1100];
    if (read_line(ssl, line, sizeof line) < 0)
        return failed("read");
    snprintf(reply, sizeof reply, "echo: %s\n", line);
    if (write_all(ssl, reply))
        return failed("write");
    SSL_shutdown(ssl);
    SSL_free(ssl);
    closesocket(s);
    SSL_CTX_free(ctx);
    return 0;
}

int main(int argc, char **argv) {
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa))
        return 1;
    /* No configuration file: nothing outside the program changes its TLS. */
    OPENSSL_init_ssl(OPENSSL_INIT_NO_LOAD_CONFIG, NULL);
    int rc = 2;
    if (argc > 2 && strcmp(argv[1], "client") == 0 && version_of(argv[3]))
        rc = client(argc, argv);
    else if (argc > 2 && strcmp(argv[1], "server") == 0 && version_of(argv[2]))
        rc = server(argc, argv);
    if (rc == 2)
        fprintf(stderr, "usage: tls_peer client <port> <1.2|1.3> <ca.pem> <host> <message>\n"
                        "       tls_peer server <1.2|1.3> <cert.pem> <key.pem>\n");
    WSACleanup();
    return rc;
}
