/* kx4net.dll: the Socket class: IPv4 TCP, TLS over TCP and UDP, listening
 * sockets, host-name look-ups and self-signed certificates.
 *
 *   var s = new Socket('tcp');          // 'tcp', 'ssl' or 'udp'
 *   s.connect('example.org', 80);
 *   s.send('GET / HTTP/1.0\r\n\r\n');
 *   var reply = s.recv();               // at most 4000 bytes; "" at the end
 *   s.close();
 *
 * Every socket is non-blocking underneath, and every wait is a select()
 * loop run with the heap released, in slices short enough that a close from
 * another script thread ends it; the script's timeout (setTimeout) bounds
 * it too. So a silent or broken peer blocks only the thread that talks to
 * it, and only as long as the script allows. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include "kx4.h"

namespace {

HostApi *api;
JSObject *socketProto;       // what accept gives its new objects
bool winsockStarted;

const Kx4Class socketClass = {"Socket"};

enum SocketType { kNone = 0, kTcp = 1, kSsl = 2, kUdp = 3 };

const int32_t kDefaultRecvSize = 4000;
// More than a script string can hold (the heap is 32 MiB): refused at once.
const int32_t kMaxRecvSize = 0x2000000;
const int kDatagramMax = 65535;
const int kListenBacklog = 10;
// A wait looks at the record's closing flag this often.
const int kWaitSliceMs = 50;
const int kSendBuffer = 256 * 1024;
const int32_t kDefaultValidity = 31449600;  // 364 days

// The private data of a Socket object. From the process heap, so that the
// finalizer frees it without the engine. `users` and `closing` change only
// while the heap is held; natives that wait with the heap released read
// `closing` to give up for a close.
struct SocketRecord {
    const Kx4Class *kx4Class;  // &socketClass
    int type;
    SOCKET sock;
    int timeoutMs;             // 0: waits have no limit
    char address[16];          // the peer's dotted address
    SSL_CTX *ctx;
    SSL *ssl;
    CRITICAL_SECTION tlsLock;  // one TLS call at a time on `ssl`
    int users;                 // natives using the record, with or without the heap
    bool settingUp;            // a connect or bind is under way (they change ctx and ssl)
    volatile LONG closing;     // a close is under way: waits end, the last user leaves
};

SocketRecord *newRecord(int type, SOCKET s) {
    SocketRecord *rec = static_cast<SocketRecord *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(SocketRecord)));
    if (!rec) return nullptr;
    rec->kx4Class = &socketClass;
    rec->type = type;
    rec->sock = s;
    InitializeCriticalSection(&rec->tlsLock);
    return rec;
}

// Touches no engine: runs with the heap released.
void destroyRecord(SocketRecord *rec) {
    if (rec->ssl) {
        ERR_clear_error();
        SSL_shutdown(rec->ssl);  // one close_notify, not waited for
        SSL_free(rec->ssl);
        ERR_clear_error();
    }
    if (rec->ctx) SSL_CTX_free(rec->ctx);
    if (rec->sock != INVALID_SOCKET) closesocket(rec->sock);
    DeleteCriticalSection(&rec->tlsLock);
    HeapFree(GetProcessHeap(), 0, rec);
}

// Marks a record in use by a native from its state check to its return, so
// that a close on another thread waits for it (its waits see `closing` and
// give up within a slice). Made and destroyed with the heap held.
class SocketUse {
  public:
    explicit SocketUse(SocketRecord *rec) : rec_(rec) { rec_->users++; }
    ~SocketUse() {
        if (rec_) rec_->users--;
    }
    SocketRecord *leave() {
        SocketRecord *rec = rec_;
        rec_ = nullptr;
        rec->users--;
        return rec;
    }
    SocketUse(const SocketUse &) = delete;
    SocketUse &operator=(const SocketUse &) = delete;

  private:
    SocketRecord *rec_;
};

// Marks a connect or bind under way; cleared before a failure closes the
// record (the SocketUse beside it then lets go).
class SettingUp {
  public:
    explicit SettingUp(SocketRecord *rec) : rec_(rec) { rec_->settingUp = true; }
    ~SettingUp() {
        if (rec_) rec_->settingUp = false;
    }
    void done() {
        rec_->settingUp = false;
        rec_ = nullptr;
    }
    SettingUp(const SettingUp &) = delete;
    SettingUp &operator=(const SettingUp &) = delete;

  private:
    SocketRecord *rec_;
};

void defineUndefined(JSContext *cx, JSObject *obj, const char *name) {
    kx4DefineResult(api, cx, obj, name, JSVAL_VOID);
}

// close(): detaches the record from obj, waits (heap released) for the
// natives still using it, frees it, and sets host, peer and port undefined.
// A second close meanwhile leaves the freeing to the first.
void closeRecord(JSContext *cx, JSObject *obj, SocketRecord *rec, bool properties) {
    if (obj && kx4GetClassPrivate(api, cx, obj, &socketClass) == rec) api->setPrivate(cx, obj, 0);
    if (properties && obj) {
        defineUndefined(cx, obj, "host");
        defineUndefined(cx, obj, "peer");
        defineUndefined(cx, obj, "port");
    }
    if (rec->closing) return;
    rec->closing = 1;
    while (rec->users > 0) {
        Kx4HeapReleased released(api, cx);
        Sleep(1);
    }
    Kx4HeapReleased released(api, cx);
    destroyRecord(rec);
}

// The failure path of a native holding a use: close as close() does.
void closeAfterFailure(JSContext *cx, JSObject *obj, SocketUse &use) {
    closeRecord(cx, obj, use.leave(), true);
}

SocketRecord *recordOf(JSContext *cx, JSObject *obj, const char *message) {
    return static_cast<SocketRecord *>(kx4CheckPrivate(api, cx, obj, &socketClass, message));
}

// ---- Waiting ------------------------------------------------------------------

ULONGLONG now() { return GetTickCount64(); }

enum WaitFor { kRead, kWrite, kConnect };

// With the heap released: waits until s is ready, the record's timeout has
// passed since `start`, or a close began. True when ready (or when select
// itself failed: the call that follows reports the socket's error).
bool waitReady(const SocketRecord *rec, SOCKET s, WaitFor what, ULONGLONG start) {
    for (;;) {
        if (rec->closing) return false;
        DWORD slice = kWaitSliceMs;
        if (rec->timeoutMs > 0) {
            ULONGLONG spent = now() - start;
            if (spent >= static_cast<ULONGLONG>(rec->timeoutMs)) return false;
            if (rec->timeoutMs - spent < slice) slice = static_cast<DWORD>(rec->timeoutMs - spent);
        }
        fd_set ready, failed;
        FD_ZERO(&ready);
        FD_ZERO(&failed);
        FD_SET(s, &ready);
        FD_SET(s, &failed);  // a refused non-blocking connect shows here
        timeval tv = {0, static_cast<long>(slice) * 1000};
        int n = select(0, what == kRead ? &ready : nullptr, what == kRead ? nullptr : &ready,
                       what == kConnect ? &failed : nullptr, &tv);
        if (n != 0) return true;
    }
}

bool wouldBlock() {
    int e = WSAGetLastError();
    return e == WSAEWOULDBLOCK || e == WSAEINPROGRESS || e == WSAEINTR;
}

// Non-blocking, with a send buffer that takes a script's usual send (up
// to 64 KiB and more) in one call: a send that fits returns without a wait.
void setNonBlocking(SOCKET s) {
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
    int size = kSendBuffer;
    setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char *>(&size), sizeof size);
}

// With the heap released: one TLS call (SSL_read, SSL_write, SSL_connect,
// SSL_accept), repeated while the record lets it wait for the socket.
// Gives the call's result and, through *sslError, SSL_get_error of the last
// try.
template <typename Call>
int tlsCall(SocketRecord *rec, SOCKET s, ULONGLONG start, int *sslError, Call call) {
    for (;;) {
        EnterCriticalSection(&rec->tlsLock);
        ERR_clear_error();
        int r = call(rec->ssl);
        int e = r > 0 ? SSL_ERROR_NONE : SSL_get_error(rec->ssl, r);
        LeaveCriticalSection(&rec->tlsLock);
        *sslError = e;
        if (e == SSL_ERROR_WANT_READ) {
            if (!waitReady(rec, s, kRead, start)) return -1;
        } else if (e == SSL_ERROR_WANT_WRITE) {
            if (!waitReady(rec, s, kWrite, start)) return -1;
        } else {
            return r;
        }
    }
}

// The oldest queued TLS error as text, or what the session said instead.
void tlsErrorText(int sslError, char *out, size_t size) {
    unsigned long code = ERR_get_error();
    if (code) {
        ERR_error_string_n(code, out, size);
    } else if (sslError == SSL_ERROR_WANT_READ || sslError == SSL_ERROR_WANT_WRITE) {
        snprintf(out, size, "timed out or closed");
    } else if (sslError == SSL_ERROR_ZERO_RETURN || sslError == SSL_ERROR_SYSCALL) {
        snprintf(out, size, "connection closed by peer");
    } else {
        snprintf(out, size, "TLS error %d", sslError);
    }
    ERR_clear_error();
}

// ---- Look-ups -----------------------------------------------------------------

// With the heap released: the first IPv4 address of a name or dotted text.
bool resolve(const char *host, in_addr *addr) {
    hostent *h = gethostbyname(host);
    if (!h || h->h_addrtype != AF_INET || !h->h_addr_list[0]) return false;
    memcpy(addr, h->h_addr_list[0], sizeof *addr);
    return true;
}

void dotted(in_addr a, char out[16]) {
    const unsigned char *b = reinterpret_cast<const unsigned char *>(&a);
    snprintf(out, 16, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

// Only digits and dots, at most three digits between dots, exactly three dots.
bool isDottedAddress(const char *s) {
    int dots = 0, digits = 0;
    for (; *s; s++) {
        if (*s == '.') {
            dots++;
            digits = 0;
        } else if (*s >= '0' && *s <= '9') {
            if (++digits > 3) return false;
        } else {
            return false;
        }
    }
    return dots == 3;
}

// ---- TLS set-up ---------------------------------------------------------------

// The library starts itself once (thread-safe) and seeds its random pool
// from the system. A pool that is not seeded is an error: keys and session
// secrets would be predictable.
bool tlsStartup() {
    if (!OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr)) return false;
    return RAND_status() == 1;
}

// minTLS of the object: "1.0", "1.1", "1.2" (the default) or "1.3".
int tlsVersionOf(const char *text) {
    if (!text) return TLS1_2_VERSION;
    if (!strcmp(text, "1.0")) return TLS1_VERSION;
    if (!strcmp(text, "1.1")) return TLS1_1_VERSION;
    if (!strcmp(text, "1.2")) return TLS1_2_VERSION;
    if (!strcmp(text, "1.3")) return TLS1_3_VERSION;
    return 0;
}

// Any version from `minVersion` up, the highest both ends know. Versions
// below 1.2 need OpenSSL's lowest security level (SHA-1 signatures, small
// keys): set on this context only, for a socket that asked for them.
SSL_CTX *makeContext(bool server, int minVersion) {
    SSL_CTX *ctx = SSL_CTX_new(server ? TLS_server_method() : TLS_client_method());
    if (!ctx) return nullptr;
    SSL_CTX_set_min_proto_version(ctx, minVersion);
    if (minVersion < TLS1_2_VERSION) SSL_CTX_set_security_level(ctx, 0);
    SSL_CTX_set_mode(ctx, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    return ctx;
}

// Client contexts are shared, one per minimum version, made on first use:
// making a context costs more than a handshake, and a client context holds
// nothing of one connection. Each record holds a reference of its own.
CRITICAL_SECTION clientContextLock;
SSL_CTX *clientContexts[TLS1_3_VERSION - TLS1_VERSION + 1];

SSL_CTX *sharedClientContext(int minVersion) {
    EnterCriticalSection(&clientContextLock);
    SSL_CTX *&slot = clientContexts[minVersion - TLS1_VERSION];
    if (!slot) slot = makeContext(false, minVersion);
    SSL_CTX *ctx = slot;
    if (ctx) SSL_CTX_up_ref(ctx);
    LeaveCriticalSection(&clientContextLock);
    return ctx;
}

// ---- Constructor and close ----------------------------------------------------

JSBool socketConstruct(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *) {
    if (!kx4RequireArgs(api, cx, argc, 1, "Socket(<type>)")) return JS_FALSE;
    kx4DefineResult(api, cx, obj, "type", argv[0]);
    const char *name = api->valueToString(cx, api->getPropertyValue(cx, obj, "type"));
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    int type = kNone;
    if (name && !strcmp(name, "tcp")) type = kTcp;
    else if (name && !strcmp(name, "ssl")) type = kSsl;
    else if (name && !strcmp(name, "udp")) type = kUdp;
    SOCKET s = INVALID_SOCKET;
    if (type != kNone) s = socket(AF_INET, type == kUdp ? SOCK_DGRAM : SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) {
        api->reportError(cx, "Socket: Unable to create socket");
        return JS_FALSE;
    }
    setNonBlocking(s);
    SocketRecord *rec = newRecord(type, s);
    if (!rec || !api->setPrivate(cx, obj, rec)) {
        closesocket(s);
        if (rec) {
            rec->sock = INVALID_SOCKET;
            destroyRecord(rec);
        }
        api->reportError(cx, "Socket: Unable to create socket");
        return JS_FALSE;
    }
    kx4DefineResult(api, cx, obj, "peer", kx4HandleToValue(api, cx, reinterpret_cast<void *>(s)));
    return JS_TRUE;
}

JSBool socketClose(JSContext *cx, JSObject *obj, uintN, jsval *, jsval *) {
    SocketRecord *rec = recordOf(cx, obj, "Socket.close: Socket not initialized");
    if (!rec) return JS_FALSE;
    closeRecord(cx, obj, rec, true);
    return JS_TRUE;
}

// A socket the script forgot to close is closed when its object is
// collected. No native can be using it then (its `this` would keep it
// alive); one that close() detached is no longer found here.
void socketFinalize(JSContext *cx, JSObject *obj) {
    SocketRecord *rec = static_cast<SocketRecord *>(kx4TakeClassPrivate(api, cx, obj, &socketClass));
    if (rec && !rec->closing) destroyRecord(rec);
}

// ---- connect ------------------------------------------------------------------

JSBool socketConnect(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *) {
    if (!kx4RequireArgs(api, cx, argc, 2, "Socket.connect(<host>, <port>)")) return JS_FALSE;
    const char *host = api->valueToString(cx, argv[0]);
    int32_t port = kx4ValueToInt32(api, cx, argv[1]);
    jsval minValue = api->getPropertyValue(cx, obj, "minTLS");
    const char *minText = minValue == JSVAL_VOID ? nullptr : api->valueToString(cx, minValue);
    if (kx4ErrorPending(api, cx) || !host) return JS_FALSE;
    SocketRecord *rec = recordOf(cx, obj, "Socket.connect: Socket not initialized");
    if (!rec) return JS_FALSE;
    // Another thread's connect or bind on this object is under way: its
    // session must not change under it.
    if (rec->settingUp) {
        api->reportError(cx, "Socket.connect: connect error on '%s'", host);
        return JS_FALSE;
    }
    SocketUse use(rec);
    SettingUp settingUp(rec);
    kx4DefineResult(api, cx, obj, "host", argv[0]);
    kx4DefineResult(api, cx, obj, "port", argv[1]);
    const int minVersion = tlsVersionOf(minText);
    if (rec->type == kSsl && !minVersion) {
        api->reportError(cx, "Socket.connect: Unknown minTLS '%s' on '%s'", minText, host);
        settingUp.done();
        closeAfterFailure(cx, obj, use);
        return JS_FALSE;
    }

    const char *failure = nullptr;  // the message, filled with the TLS text and host
    char tlsText[256] = "";
    char subject[512] = "";
    sockaddr_in sa;
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<u_short>(port));
    {
        Kx4HeapReleased released(api, cx);
        const ULONGLONG start = now();
        SOCKET s = rec->sock;
        if (!resolve(host, &sa.sin_addr)) {
            failure = "Socket.connect: Can't get host by name on '%s'";
        } else if (rec->type == kSsl && !tlsStartup()) {
            failure = "Socket.connect: Random generator not seeded on '%s'";
        } else if (rec->type == kSsl && !rec->ctx && !(rec->ctx = sharedClientContext(minVersion))) {
            failure = "Socket.connect: Unable to create SSL context on '%s'";
        } else if (rec->type == kSsl && !(rec->ssl ? SSL_clear(rec->ssl) : (rec->ssl = SSL_new(rec->ctx)) != nullptr)) {
            failure = "Socket.connect: Unable to open SSL socket on '%s'";
        } else {
            if (rec->type == kSsl) SSL_set_connect_state(rec->ssl);
            bool connected = connect(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0;
            if (!connected && wouldBlock() && waitReady(rec, s, kConnect, start)) {
                int err = 0, len = sizeof err;
                connected = getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&err), &len) == 0 && err == 0;
            }
            if (!connected) failure = "Socket.connect: connect error on '%s'";
        }
        if (!failure) dotted(sa.sin_addr, rec->address);
        if (!failure && rec->type == kSsl) {
            int sslError = 0;
            // The server's name for servers that host several (not for an address).
            if (!isDottedAddress(host)) SSL_set_tlsext_host_name(rec->ssl, host);
            if (!SSL_set_fd(rec->ssl, static_cast<int>(s))) {
                tlsErrorText(0, tlsText, sizeof tlsText);
                failure = "Socket.connect: SSL set peer error '%s' on '%s'";
            } else if (tlsCall(rec, s, start, &sslError, [](SSL *ssl) { return SSL_connect(ssl); }) != 1) {
                tlsErrorText(sslError, tlsText, sizeof tlsText);
                failure = "Socket.connect: SSL connect error '%s' on '%s'";
            } else {
                X509 *cert = SSL_get1_peer_certificate(rec->ssl);
                if (!cert) {
                    tlsErrorText(0, tlsText, sizeof tlsText);
                    failure = "Socket.connect: SSL read certificate error '%s' on '%s'";
                } else {
                    X509_NAME_oneline(X509_get_subject_name(cert), subject, sizeof subject);
                    X509_free(cert);
                }
            }
        }
    }
    if (failure) {
        if (strstr(failure, "'%s' on")) api->reportError(cx, failure, tlsText, host);
        else api->reportError(cx, failure, host);
        settingUp.done();
        closeAfterFailure(cx, obj, use);
        return JS_FALSE;
    }
    if (rec->type == kSsl) kx4DefineResultString(api, cx, obj, "ssl", subject);
    kx4DefineResultString(api, cx, obj, "ip", rec->address);
    return JS_TRUE;
}

// ---- bind and accept ----------------------------------------------------------

JSBool socketBind(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *) {
    if (!kx4RequireArgs(api, cx, argc, 2, "Socket.bind(<host>, <port>)")) return JS_FALSE;
    const char *host = api->valueToString(cx, argv[0]);
    int32_t port = kx4ValueToInt32(api, cx, argv[1]);
    const char *cert = api->getPropertyString(cx, obj, "cert", "");
    const char *key = api->getPropertyString(cx, obj, "key", "");
    jsval minValue = api->getPropertyValue(cx, obj, "minTLS");
    const char *minText = minValue == JSVAL_VOID ? nullptr : api->valueToString(cx, minValue);
    if (kx4ErrorPending(api, cx) || !host || !cert || !key) return JS_FALSE;
    SocketRecord *rec = recordOf(cx, obj, "Socket.bind: Not initialized");
    if (!rec) return JS_FALSE;
    if (rec->settingUp) {
        api->reportError(cx, "Socket.bind: Bind error on '%s:%d'", host, port);
        return JS_FALSE;
    }
    SocketUse use(rec);
    SettingUp settingUp(rec);
    kx4DefineResult(api, cx, obj, "host", argv[0]);
    kx4DefineResult(api, cx, obj, "port", argv[1]);
    const int minVersion = tlsVersionOf(minText);
    if (rec->type == kSsl && !minVersion) {
        api->reportError(cx, "Socket.bind: Unknown minTLS '%s' on '%s'", minText, host);
        settingUp.done();
        closeAfterFailure(cx, obj, use);
        return JS_FALSE;
    }

    enum { kOk, kSeed, kContext, kCertificates, kBind, kListen } failure = kOk;
    char address[16] = "";
    {
        Kx4HeapReleased released(api, cx);
        SOCKET s = rec->sock;
        if (rec->type == kSsl) {
            if (!tlsStartup()) failure = kSeed;
            else if (!rec->ctx && !(rec->ctx = makeContext(true, minVersion))) failure = kContext;
            else if (SSL_CTX_use_certificate_chain_file(rec->ctx, cert) != 1 ||
                     SSL_CTX_use_PrivateKey_file(rec->ctx, key, SSL_FILETYPE_PEM) != 1 ||
                     SSL_CTX_check_private_key(rec->ctx) != 1)
                failure = kCertificates;
            ERR_clear_error();
        }
        sockaddr_in sa;
        memset(&sa, 0, sizeof sa);
        sa.sin_family = AF_INET;
        sa.sin_port = htons(static_cast<u_short>(port));
        // "*", or a name that does not resolve: every local address.
        sa.sin_addr.s_addr = htonl(INADDR_ANY);
        if (!failure && strcmp(host, "*") != 0) resolve(host, &sa.sin_addr);
        if (!failure) {
            BOOL on = TRUE;
            setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char *>(&on), sizeof on);
            if (bind(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) failure = kBind;
            else if (rec->type != kUdp && listen(s, kListenBacklog) != 0) failure = kListen;
        }
        if (!failure) {
            sockaddr_in bound;
            int len = sizeof bound;
            if (getsockname(s, reinterpret_cast<sockaddr *>(&bound), &len) != 0) bound = sa;
            dotted(bound.sin_addr, address);
        }
    }
    switch (failure) {
    case kOk:
        kx4DefineResultString(api, cx, obj, "ip", address);
        return JS_TRUE;
    case kSeed: api->reportError(cx, "Socket.bind: Random generator not seeded on '%s'", host); break;
    case kContext: api->reportError(cx, "Socket.bind: Unable to create SSL context on '%s'", host); break;
    case kCertificates:
        api->reportError(cx, "Socket.bind: Unable to load SSL certificates '%s' or key '%s'", cert, key);
        break;
    case kBind: api->reportError(cx, "Socket.bind: Bind error on '%s:%d'", host, port); break;
    case kListen: api->reportError(cx, "Socket.bind: Listen error on '%s:%d'", host, port); break;
    }
    settingUp.done();
        closeAfterFailure(cx, obj, use);
    return JS_FALSE;
}

JSBool socketAccept(JSContext *cx, JSObject *obj, uintN, jsval *, jsval *rval) {
    SocketRecord *rec = recordOf(cx, obj, "Socket.accept: Socket not initialized");
    if (!rec) return JS_FALSE;
    SocketUse use(rec);
    SOCKET client = INVALID_SOCKET;
    sockaddr_in from;
    memset(&from, 0, sizeof from);
    // A client already waiting is taken without giving up the heap.
    int fromLength = sizeof from;
    client = accept(rec->sock, reinterpret_cast<sockaddr *>(&from), &fromLength);
    if (client == INVALID_SOCKET && wouldBlock()) {
        Kx4HeapReleased released(api, cx);
        for (;;) {
            int len = sizeof from;
            client = accept(rec->sock, reinterpret_cast<sockaddr *>(&from), &len);
            if (client != INVALID_SOCKET || !wouldBlock()) break;
            // No timeout here: a listener waits for its next client until closed.
            if (rec->closing) break;
            fd_set ready;
            FD_ZERO(&ready);
            FD_SET(rec->sock, &ready);
            timeval tv = {0, kWaitSliceMs * 1000};
            select(0, &ready, nullptr, nullptr, &tv);
        }
    }
    if (client == INVALID_SOCKET) {
        api->reportError(cx, "Socket.accept: Accept error");
        return JS_FALSE;
    }
    setNonBlocking(client);
    SocketRecord *child = newRecord(rec->type, client);
    if (!child) {
        closesocket(client);
        api->reportError(cx, "Socket.accept: Accept error");
        return JS_FALSE;
    }
    dotted(from.sin_addr, child->address);
    if (rec->type == kSsl && rec->ctx) {
        // The handshake takes place on the first recv or send.
        child->ctx = rec->ctx;
        SSL_CTX_up_ref(child->ctx);
        child->ssl = SSL_new(child->ctx);
        if (!child->ssl || !SSL_set_fd(child->ssl, static_cast<int>(client))) {
            destroyRecord(child);
            ERR_clear_error();
            api->reportError(cx, "Socket.accept: Accept error");
            return JS_FALSE;
        }
        SSL_set_accept_state(child->ssl);
    }
    JSObject *made = api->newObject(cx, socketProto);
    if (!made || !api->setPrivate(cx, made, child)) {
        destroyRecord(child);
        api->reportError(cx, "Socket.accept: Accept error");
        return JS_FALSE;
    }
    kx4DefineResult(api, cx, made, "type", api->getPropertyValue(cx, obj, "type"));
    kx4DefineResult(api, cx, made, "peer", kx4HandleToValue(api, cx, reinterpret_cast<void *>(client)));
    kx4DefineResultString(api, cx, made, "ip", child->address);
    *rval = OBJECT_TO_JSVAL(made);
    return JS_TRUE;
}

// ---- setTimeout, send, recv ---------------------------------------------------

JSBool socketSetTimeout(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *) {
    if (!kx4RequireArgs(api, cx, argc, 1, "Socket.setTimeout(<timeout>)")) return JS_FALSE;
    const bool given = argv[0] != JSVAL_VOID;
    double seconds = given ? api->valueToNumber(cx, argv[0]) : 0;
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    SocketRecord *rec = recordOf(cx, obj, "Socket.setTimeout: Socket not initialized");
    if (!rec) return JS_FALSE;
    if (!given) return JS_TRUE;
    kx4DefineResult(api, cx, obj, "timeout", argv[0]);
    // Whole seconds; zero or less (or NaN) waits without limit.
    double ms = seconds == seconds ? (seconds < 0 ? -floor(-seconds) : floor(seconds)) * 1000 : 0;
    if (ms > 0x7fffffff) ms = 0x7fffffff;
    rec->timeoutMs = ms > 0 ? static_cast<int>(ms) : 0;
    DWORD value = static_cast<DWORD>(rec->timeoutMs);
    setsockopt(rec->sock, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&value), sizeof value);
    setsockopt(rec->sock, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char *>(&value), sizeof value);
    return JS_TRUE;
}

// With the heap released: everything of `bytes` (plain TCP), or as much as
// went before an error, the timeout or a close; -1 when nothing went.
int sendAll(SocketRecord *rec, const char *bytes, size_t length) {
    const ULONGLONG start = now();
    SOCKET s = rec->sock;
    size_t done = 0;
    while (done < length) {
        int chunk = length - done > 0x40000000 ? 0x40000000 : static_cast<int>(length - done);
        int n;
        if (rec->type == kSsl) {
            int sslError;
            const char *p = bytes + done;
            n = tlsCall(rec, s, start, &sslError, [p, chunk](SSL *ssl) { return SSL_write(ssl, p, chunk); });
            if (n <= 0) break;
        } else {
            n = send(s, bytes + done, chunk, 0);
            if (n < 0) {
                if (wouldBlock() && waitReady(rec, s, kWrite, start)) continue;
                break;
            }
        }
        done += static_cast<size_t>(n);
    }
    if (done == 0 && length > 0) return -1;
    return done > 0x7fffffff ? 0x7fffffff : static_cast<int>(done);
}

JSBool socketSend(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "Socket.send(<data>)")) return JS_FALSE;
    size_t length;
    const char *bytes = kx4ValueBytes(api, cx, argv[0], &length);
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    SocketRecord *rec = recordOf(cx, obj, "Socket.send: Socket not initialized");
    if (!rec) return JS_FALSE;
    if (rec->type == kUdp) {  // a datagram needs an address: sendTo
        *rval = INT_TO_JSVAL(0);
        return JS_TRUE;
    }
    if (rec->type == kSsl && !rec->ssl) {  // neither connected nor accepted
        *rval = INT_TO_JSVAL(-1);
        return JS_TRUE;
    }
    SocketUse use(rec);
    int sent = -2;
    // Plain TCP tries once without giving up the heap: a send that the
    // system takes at once waits for nothing, and a request/response loop
    // then never hands the heap over. Only what is left waits, released.
    if (rec->type == kTcp && length > 0) {
        int n = length > 0x7fffffff ? 0x7fffffff : static_cast<int>(length);
        int first = send(rec->sock, bytes, n, 0);
        if (first == n) sent = n;
        else if (first < 0 && !wouldBlock()) sent = -1;
        else if (first > 0) {
            Kx4HeapReleased released(api, cx);
            int rest = sendAll(rec, bytes + first, length - static_cast<size_t>(first));
            sent = rest < 0 ? first : first + rest;
        }
    }
    if (sent == -2) {
        Kx4HeapReleased released(api, cx);
        sent = sendAll(rec, bytes, length);
    }
    *rval = api->newNumber(cx, sent);
    return JS_TRUE;
}

JSBool socketRecv(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval) {
    int32_t size = kx4ArgInt32(api, cx, argc, argv, 0, kDefaultRecvSize);
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    SocketRecord *rec = recordOf(cx, obj, "Socket.recv: Socket not initialized");
    if (!rec) return JS_FALSE;
    if (size <= 0 || (rec->type == kSsl && !rec->ssl)) {
        *rval = api->newStringN(cx, "", 0);
        return JS_TRUE;
    }
    char *buffer = size <= kMaxRecvSize ? static_cast<char *>(api->allocMemory(cx, static_cast<size_t>(size) + 1)) : nullptr;
    if (!buffer) {
        api->reportError(cx, "Socket.recv: Unable to allocate buffer");
        return JS_FALSE;
    }
    SocketUse use(rec);
    int got = -1;
    // Plain sockets try once with the heap held (see send); only a recv
    // that must wait gives the heap up.
    if (rec->type != kSsl) {
        got = recv(rec->sock, buffer, size, 0);
        if (got < 0 && !wouldBlock()) got = 0;
    }
    if (got < 0) {
        Kx4HeapReleased released(api, cx);
        const ULONGLONG start = now();
        SOCKET s = rec->sock;
        if (rec->type == kSsl) {
            int sslError;
            got = tlsCall(rec, s, start, &sslError, [buffer, size](SSL *ssl) { return SSL_read(ssl, buffer, size); });
            ERR_clear_error();
        } else {
            for (;;) {
                got = recv(s, buffer, size, 0);
                if (got >= 0 || !wouldBlock() || !waitReady(rec, s, kRead, start)) break;
            }
        }
        if (got < 0) got = 0;
    }
    *rval = api->newStringN(cx, buffer, static_cast<size_t>(got));
    api->freeMemory(cx, buffer);
    return JS_TRUE;
}

// ---- UDP ------------------------------------------------------------------------

JSBool socketSendTo(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 3, "Socket.sendTo(<host/ip>, <port>, <data>)")) return JS_FALSE;
    const bool hasHost = argv[0] != JSVAL_VOID;
    const char *host = hasHost ? api->valueToString(cx, argv[0]) : nullptr;
    int32_t port = kx4ValueToInt32(api, cx, argv[1]);
    size_t length;
    const char *bytes = kx4ValueBytes(api, cx, argv[2], &length);
    if (kx4ErrorPending(api, cx)) return JS_FALSE;
    if (!hasHost || !host) {
        api->reportError(cx, "Socket.sendTo: host is not defined");
        return JS_FALSE;
    }
    SocketRecord *rec = recordOf(cx, obj, "Socket.sendTo: Socket not initialized");
    if (!rec) return JS_FALSE;
    SocketUse use(rec);
    bool resolved = true;
    int sent = -1;
    int localPort = 0;
    {
        Kx4HeapReleased released(api, cx);
        const ULONGLONG start = now();
        SOCKET s = rec->sock;
        sockaddr_in sa;
        memset(&sa, 0, sizeof sa);
        sa.sin_family = AF_INET;
        sa.sin_port = htons(static_cast<u_short>(port));
        if (!strcmp(host, "*")) {
            sa.sin_addr.s_addr = htonl(INADDR_BROADCAST);
            BOOL on = TRUE;
            setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char *>(&on), sizeof on);
        } else {
            resolved = resolve(host, &sa.sin_addr);
        }
        if (resolved) {
            int n = length > 0x7fffffff ? 0x7fffffff : static_cast<int>(length);
            for (;;) {
                sent = sendto(s, bytes, n, 0, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
                if (sent >= 0 || !wouldBlock() || !waitReady(rec, s, kWrite, start)) break;
            }
            sockaddr_in local;
            int len = sizeof local;
            if (getsockname(s, reinterpret_cast<sockaddr *>(&local), &len) == 0) localPort = ntohs(local.sin_port);
        }
    }
    if (!resolved) {
        api->reportError(cx, "Socket.sendTo: Can't get host by name on '%s'", host);
        closeAfterFailure(cx, obj, use);
        return JS_FALSE;
    }
    kx4DefineResultNumber(api, cx, obj, "peerPort", localPort);
    *rval = api->newNumber(cx, sent);
    return JS_TRUE;
}

JSBool socketRecvFrom(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 2, "Socket.recvFrom(<host>, <port>)")) return JS_FALSE;
    const char *host = api->valueToString(cx, argv[0]);
    kx4ValueToInt32(api, cx, argv[1]);
    if (kx4ErrorPending(api, cx) || !host) return JS_FALSE;
    SocketRecord *rec = recordOf(cx, obj, "Socket.recvFrom: Socket not initialized");
    if (!rec) return JS_FALSE;
    SocketUse use(rec);
    kx4DefineResult(api, cx, obj, "host", argv[0]);
    kx4DefineResult(api, cx, obj, "port", argv[1]);
    char *buffer = static_cast<char *>(malloc(kDatagramMax + 1));
    if (!buffer) {
        api->reportError(cx, "Socket.recvFrom: Can't malloc");
        return JS_FALSE;
    }
    bool resolved = true;
    int got = 0;
    sockaddr_in from;
    memset(&from, 0, sizeof from);
    {
        Kx4HeapReleased released(api, cx);
        const ULONGLONG start = now();
        SOCKET s = rec->sock;
        in_addr ignored;
        // The host only has to resolve: it does not filter the sender.
        if (strcmp(host, "*") != 0) resolved = resolve(host, &ignored);
        if (resolved) {
            for (;;) {
                int len = sizeof from;
                got = recvfrom(s, buffer, kDatagramMax, 0, reinterpret_cast<sockaddr *>(&from), &len);
                if (got >= 0 || !wouldBlock() || !waitReady(rec, s, kRead, start)) break;
            }
            if (got < 0) {
                got = 0;
                memset(&from, 0, sizeof from);
            }
        }
    }
    if (!resolved) {
        free(buffer);
        api->reportError(cx, "Socket.recvFrom: Can't get host by name on '%s'", host);
        closeAfterFailure(cx, obj, use);
        return JS_FALSE;
    }
    char ip[16];
    dotted(from.sin_addr, ip);
    JSObject *result = api->newObject(cx, nullptr);
    jsval data = api->newStringN(cx, buffer, static_cast<size_t>(got));
    free(buffer);
    if (!result) return JS_FALSE;
    kx4DefineResultString(api, cx, result, "ip", ip);
    kx4DefineResultNumber(api, cx, result, "port", ntohs(from.sin_port));
    kx4DefineResult(api, cx, result, "data", data);
    *rval = OBJECT_TO_JSVAL(result);
    return JS_TRUE;
}

// ---- Static functions -----------------------------------------------------------

JSBool socketGetHostName(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    char name[256] = "";
    {
        Kx4HeapReleased released(api, cx);
        if (gethostname(name, sizeof name) != 0) name[0] = 0;
    }
    *rval = api->newString(cx, name, nullptr);
    return JS_TRUE;
}

JSBool socketGetLocalAddress(JSContext *cx, JSObject *, uintN, jsval *, jsval *rval) {
    char ip[16] = "";
    bool found = false;
    {
        Kx4HeapReleased released(api, cx);
        char name[256];
        in_addr a;
        if (gethostname(name, sizeof name) == 0 && resolve(name, &a)) {
            dotted(a, ip);
            found = true;
        }
    }
    if (found) *rval = api->newString(cx, ip, nullptr);
    return JS_TRUE;
}

JSBool socketGetHostInfos(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "Socket.getHostInfos(<host>)")) return JS_FALSE;
    const char *host = api->valueToString(cx, argv[0]);
    if (kx4ErrorPending(api, cx) || !host) return JS_FALSE;
    const bool isAddress = isDottedAddress(host);
    bool found = false;
    char ip[16] = "";
    char name[1025] = "";
    {
        Kx4HeapReleased released(api, cx);
        in_addr a;
        if (!isAddress) {
            if (resolve(host, &a)) {
                dotted(a, ip);
                found = true;
            }
        } else {
            sockaddr_in sa;
            memset(&sa, 0, sizeof sa);
            sa.sin_family = AF_INET;
            sa.sin_addr.s_addr = inet_addr(host);
            found = getnameinfo(reinterpret_cast<sockaddr *>(&sa), sizeof sa, name, sizeof name, nullptr, 0,
                                NI_NAMEREQD) == 0 &&
                    strcmp(name, host) != 0 && resolve(name, &a);
        }
    }
    JSObject *result = api->newObject(cx, nullptr);
    if (!result) return JS_FALSE;
    if (!isAddress) {
        kx4DefineResult(api, cx, result, "host", argv[0]);
        if (found) kx4DefineResultString(api, cx, result, "ip", ip);
    } else {
        if (found) kx4DefineResultString(api, cx, result, "host", name);
        kx4DefineResult(api, cx, result, "ip", argv[0]);
    }
    *rval = OBJECT_TO_JSVAL(result);
    return JS_TRUE;
}

// ---- createSSLCertificate -------------------------------------------------------

// With the heap released: a whole file into memory (malloc'd); null when it
// cannot be read.
char *readWholeFile(const char *path, long *size) {
    FILE *f = fopen(path, "rb");
    if (!f) return nullptr;
    char *data = nullptr;
    if (fseek(f, 0, SEEK_END) == 0 && (*size = ftell(f)) >= 0 && *size < 0x1000000 && fseek(f, 0, SEEK_SET) == 0) {
        data = static_cast<char *>(malloc(static_cast<size_t>(*size) + 1));
        if (data && fread(data, 1, static_cast<size_t>(*size), f) != static_cast<size_t>(*size)) {
            free(data);
            data = nullptr;
        }
    }
    fclose(f);
    return data;
}

struct CertificateRequest {
    const char *keyFile, *outputFile, *password;
    const char *fields[4];  // CN, O, OU, C; null when absent
    double serial, notBefore, notAfter;
};

enum CertificateFailure { kCertOk, kCertOpen, kCertKey, kCertSeed, kCertMake, kCertWrite };

// With the heap released: the self-signed certificate in PEM form into
// *pem (malloc'd).
CertificateFailure makeCertificate(const CertificateRequest &r, char **pem, size_t *pemLength) {
    long keySize = 0;
    char *keyText = readWholeFile(r.keyFile, &keySize);
    if (!keyText) return kCertOpen;
    if (!tlsStartup()) {
        free(keyText);
        return kCertSeed;
    }
    BIO *keyBio = BIO_new_mem_buf(keyText, static_cast<int>(keySize));
    EVP_PKEY *key = keyBio ? PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, const_cast<char *>(r.password)) : nullptr;
    BIO_free(keyBio);
    OPENSSL_cleanse(keyText, static_cast<size_t>(keySize));
    free(keyText);
    if (!key) {
        ERR_clear_error();
        return kCertKey;
    }
    static const char *const names[4] = {"CN", "O", "OU", "C"};
    CertificateFailure failure = kCertMake;
    X509 *x = X509_new();
    X509_NAME *subject = X509_NAME_new();
    BIO *out = BIO_new(BIO_s_mem());
    bool ok = x && subject && out && X509_set_version(x, 2) &&
              ASN1_INTEGER_set(X509_get_serialNumber(x), static_cast<long>(r.serial)) &&
              X509_gmtime_adj(X509_getm_notBefore(x), static_cast<long>(r.notBefore)) &&
              X509_gmtime_adj(X509_getm_notAfter(x), static_cast<long>(r.notAfter)) && X509_set_pubkey(x, key);
    for (int i = 0; ok && i < 4; i++) {
        if (r.fields[i])
            ok = X509_NAME_add_entry_by_txt(subject, names[i], MBSTRING_ASC,
                                            reinterpret_cast<const unsigned char *>(r.fields[i]), -1, -1, 0) == 1;
    }
    ok = ok && X509_set_subject_name(x, subject) && X509_set_issuer_name(x, subject) &&
         X509_sign(x, key, EVP_sha256()) > 0 && PEM_write_bio_X509(out, x);
    if (ok) {
        char *data;
        long n = BIO_get_mem_data(out, &data);
        *pem = static_cast<char *>(malloc(static_cast<size_t>(n) + 1));
        if (*pem) {
            memcpy(*pem, data, static_cast<size_t>(n));
            *pemLength = static_cast<size_t>(n);
            failure = kCertOk;
            if (r.outputFile) {
                FILE *f = fopen(r.outputFile, "w");
                if (!f || fwrite(*pem, 1, *pemLength, f) != *pemLength) failure = kCertWrite;
                if (f && fclose(f) != 0) failure = kCertWrite;
            }
        }
    }
    BIO_free(out);
    X509_NAME_free(subject);
    X509_free(x);
    EVP_PKEY_free(key);
    ERR_clear_error();
    return failure;
}

JSBool socketCreateSSLCertificate(JSContext *cx, JSObject *, uintN argc, jsval *argv, jsval *rval) {
    static const char usage[] = "Socket.createSSLCertificate(<certificat descriptor>)";
    if (!kx4RequireArgs(api, cx, argc, 1, usage)) return JS_FALSE;
    JSObject *d = kx4ArgOptionRecord(api, cx, argc, argv, 0, "Socket", "certificat descriptor", usage);
    if (!d) return JS_FALSE;
    CertificateRequest r;
    static const char *const names[4] = {"CN", "O", "OU", "C"};
    r.keyFile = api->getPropertyString(cx, d, "keyFile", "");
    r.outputFile = api->getPropertyString(cx, d, "outputFile", nullptr);
    r.password = api->getPropertyString(cx, d, "password", nullptr);
    for (int i = 0; i < 4; i++) r.fields[i] = api->getPropertyString(cx, d, names[i], nullptr);
    r.serial = api->getPropertyNumber(cx, d, "serial", 0);
    r.notBefore = api->getPropertyNumber(cx, d, "notBefore", 0);
    r.notAfter = api->getPropertyNumber(cx, d, "notAfter", kDefaultValidity);
    if (kx4ErrorPending(api, cx) || !r.keyFile) return JS_FALSE;
    // Out-of-range numbers: 0 rather than what a C conversion would make of them.
    double *numbers[3] = {&r.serial, &r.notBefore, &r.notAfter};
    for (double *n : numbers)
        if (!(*n == *n) || *n > 2147483647.0 || *n < -2147483648.0) *n = 0;
    char *pem = nullptr;
    size_t pemLength = 0;
    CertificateFailure failure;
    {
        Kx4HeapReleased released(api, cx);
        failure = makeCertificate(r, &pem, &pemLength);
    }
    switch (failure) {
    case kCertOk:
        break;
    case kCertOpen: api->reportError(cx, "createSSLCertificate: Unable to open file '%s'", r.keyFile); break;
    case kCertKey: api->reportError(cx, "createSSLCertificate: Unable to read private key '%s'", r.keyFile); break;
    case kCertSeed: api->reportError(cx, "createSSLCertificate: Random generator not seeded"); break;
    case kCertMake: api->reportError(cx, "createSSLCertificate: Unable to make certificate"); break;
    case kCertWrite: api->reportError(cx, "createSSLCertificate: Unable to write file '%s'", r.outputFile); break;
    }
    if (failure != kCertOk) {
        free(pem);
        return JS_FALSE;
    }
    *rval = api->newStringN(cx, pem, pemLength);
    free(pem);
    return JS_TRUE;
}

// ---- Class ------------------------------------------------------------------------

const JSFunctionSpec socketMethods[] = {
    JS_FS("connect", socketConnect, 3),
    JS_FS("bind", socketBind, 2),
    JS_FS("accept", socketAccept, 0),
    JS_FS("setTimeout", socketSetTimeout, 1),
    JS_FS("send", socketSend, 1),
    JS_FS("recv", socketRecv, 1),
    JS_FS("sendTo", socketSendTo, 3),
    JS_FS("recvFrom", socketRecvFrom, 3),
    JS_FS("close", socketClose, 0),
    JS_FS_END,
};

const JSFunctionSpec socketStatics[] = {
    JS_FS("getHostName", socketGetHostName, 0),
    JS_FS("getLocalAddress", socketGetLocalAddress, 0),
    JS_FS("getHostInfos", socketGetHostInfos, 1),
    JS_FS("createSSLCertificate", socketCreateSSLCertificate, 1),
    JS_FS_END,
};

void cleanupWinsock() { WSACleanup(); }

}  // namespace

KX4_MODULE_INIT {
    api = hostApi;
    socketProto = api->defineClass(cx, "Socket", socketConstruct, 0, nullptr, socketMethods, nullptr,
                                   socketStatics, socketFinalize);
    static bool lockMade = false;
    if (!lockMade) {
        InitializeCriticalSection(&clientContextLock);
        lockMade = true;
    }
    if (!winsockStarted) {
        WSADATA data;
        if (WSAStartup(0x0101, &data) != 0) {
            api->reportError(cx, "Socket: WSAStartup() failed");
            return;
        }
        winsockStarted = true;
        atexit(cleanupWinsock);
    }
}
