/* kx4mib.dll: the Snmp class, an SNMP version 1 manager session to one
 * agent on Net-SNMP's single-session API.
 *
 *   var s = new Snmp();
 *   s.open('192.168.1.20', 'public', 2000);      // true; time-out 2 s
 *   var a = s.getOID('.1.3.6.1.2.1.1.3.0');      // {oid, value, error}
 *   var rows = s.walk('.1.3.6.1.2.1.1');         // [{oid, value}, ...]
 *   s.setOID('.1.3.6.1.2.1.1.4.0', 's', 'ops');  // true when accepted
 *   s.close();
 *
 * Network outcomes are data (the answer's `error` code, false, an empty
 * walk); only misuse throws. Every exchange runs with the heap released,
 * so several script threads can poll several agents at once, each with its
 * own object: a Net-SNMP single session is used by one thread at a time. */
#include <winsock2.h>
#include <windows.h>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <stdio.h>
#include <string.h>

#include "kx4.h"

namespace {

HostApi *api;  // the host's table, kept for the life of the process

const Kx4Class snmpClass = {"Snmp"};

const char *const kAppName = "snmpapp";
const int32_t kDefaultTimeout = 10000000;  // microseconds
const int kRetries = 1;
const size_t kOidTextMax = 127;    // characters of an `oid` text
const size_t kStringValueMax = 499;  // bytes of an OCTET STRING value

// The private data of an Snmp object. From the process heap, so that the
// finalizer frees it without the engine. The counters change only while
// the heap is held, so the heap lock guards them; a walk looks at the
// change counts between its requests to give up for a close or re-open.
struct SnmpRecord {
    const Kx4Class *kx4Class;  // &snmpClass
    void *session;             // Net-SNMP single-session handle, or null
    char peer[32];             // the agent address, at most 31 characters
    char community[50];        // at most 49 characters
    int32_t timeout;           // microseconds
    int32_t users;             // natives using `session` with the heap released
    volatile ULONG changesIssued;  // opens and closes begun: each takes the next number
    volatile ULONG changesDone;    // of those, finished (they finish in order)
    int32_t pins;              // natives holding the record across a heap release (users included)
    bool orphaned;             // finalized while pinned: the last unpin frees it
};

void destroyRecord(SnmpRecord *rec) {
    if (rec->session) snmp_sess_close(rec->session);
    HeapFree(GetProcessHeap(), 0, rec);
}

// Keeps a record alive while its native releases the heap.
class SnmpPin {
  public:
    explicit SnmpPin(SnmpRecord *rec) : rec_(rec) { rec_->pins++; }
    ~SnmpPin() {
        if (--rec_->pins == 0 && rec_->orphaned) destroyRecord(rec_);
    }
    SnmpPin(const SnmpPin &) = delete;
    SnmpPin &operator=(const SnmpPin &) = delete;

  private:
    SnmpRecord *rec_;
};

// Marks the session in use for a Kx4HeapReleased block: close and open
// wait until no native uses it.
class SnmpUse {
  public:
    explicit SnmpUse(SnmpRecord *rec) : pin_(rec), rec_(rec) { rec_->users++; }
    ~SnmpUse() { rec_->users--; }
    SnmpUse(const SnmpUse &) = delete;
    SnmpUse &operator=(const SnmpUse &) = delete;

  private:
    SnmpPin pin_;
    SnmpRecord *rec_;
};

// Opens and closes, and the uses of the session, take turns: a request
// waits for the opens and closes begun before it and for the request under
// way (a Net-SNMP session serves one thread at a time), and an open or
// close waits for the request under way and the changes before it.

// Waits, with the heap released, until no native uses the session.
void waitIdle(JSContext *cx, SnmpRecord *rec) {
    while (rec->users > 0) {
        Kx4HeapReleased released(api, cx);
        Sleep(1);
    }
}

// Before a request: waits, with the heap released, for the opens and
// closes begun before it and for the request under way, then tells whether
// a session is open. The caller holds a pin, and takes its SnmpUse before
// it next releases the heap.
bool sessionReady(JSContext *cx, SnmpRecord *rec) {
    const ULONG before = rec->changesIssued;
    while (static_cast<LONG>(rec->changesDone - before) < 0 || rec->users > 0) {
        Kx4HeapReleased released(api, cx);
        Sleep(1);
    }
    return rec->session && !rec->orphaned;
}

// An open or close: waits, with the heap released, for its turn and for
// the requests under way.
class SnmpChange {
  public:
    SnmpChange(JSContext *cx, SnmpRecord *rec) : pin_(rec), rec_(rec) {
        const ULONG turn = rec_->changesIssued;
        rec_->changesIssued = turn + 1;
        while (rec_->changesDone != turn || rec_->users > 0) {
            Kx4HeapReleased released(api, cx);
            Sleep(1);
        }
    }
    ~SnmpChange() { rec_->changesDone = rec_->changesDone + 1; }
    SnmpChange(const SnmpChange &) = delete;
    SnmpChange &operator=(const SnmpChange &) = delete;

  private:
    SnmpPin pin_;
    SnmpRecord *rec_;
};

// The record of `obj`; otherwise reports "Snmp.<function>: failed during
// get class root".
SnmpRecord *recordOf(JSContext *cx, JSObject *obj, const char *function) {
    SnmpRecord *rec = static_cast<SnmpRecord *>(kx4GetClassPrivate(api, cx, obj, &snmpClass));
    if (!rec) api->reportError(cx, "Snmp.%s: failed during get class root", function);
    return rec;
}

// A request's record with its session ready, pinned by the caller;
// otherwise reports "Snmp.<function>: SNMP Layer not initialized".
bool requireSession(JSContext *cx, SnmpRecord *rec, const char *function) {
    if (sessionReady(cx, rec)) return true;
    api->reportError(cx, "Snmp.%s: SNMP Layer not initialized", function);
    return false;
}

// ---- Texts of identifiers and values ---------------------------------------

// Dotted text with a leading dot, cut at 127 characters. Sub-identifiers
// are unsigned 32-bit numbers and print so.
void oidText(char (&out)[kOidTextMax + 1], const oid *name, size_t length) {
    size_t n = 0;
    out[0] = 0;
    for (size_t i = 0; i < length && n < kOidTextMax; i++) {
        char part[16];
        int k = snprintf(part, sizeof part, ".%lu", static_cast<unsigned long>(name[i]));
        for (int j = 0; j < k && n < kOidTextMax; j++) out[n++] = part[j];
    }
    out[n] = 0;
}

// Room for any value text: an OBJECT IDENTIFIER of 128 sub-identifiers
// printed by Net-SNMP is the longest.
const size_t kValueRoom = 2048;

// The value text of a variable in `out` (bytes, `*length` of them); false
// for a type that cannot be converted. Reads only the `val_len` bytes the
// library decoded, whatever the agent claimed.
bool valueText(const netsnmp_variable_list *v, char *out, size_t *length) {
    int k = -1;
    switch (v->type) {
    case ASN_INTEGER:
        if (!v->val.integer) return false;
        k = snprintf(out, kValueRoom, "%ld", static_cast<long>(*v->val.integer));
        break;
    case ASN_COUNTER:
    case ASN_GAUGE:
        // Unsigned: traffic counters pass 2^31 in a day.
        if (!v->val.integer) return false;
        k = snprintf(out, kValueRoom, "%lu", static_cast<unsigned long>(*v->val.integer) & 0xFFFFFFFFUL);
        break;
    case ASN_TIMETICKS:
        // Whole seconds; ticks are unsigned too.
        if (!v->val.integer) return false;
        k = snprintf(out, kValueRoom, "%lu", (static_cast<unsigned long>(*v->val.integer) & 0xFFFFFFFFUL) / 100);
        break;
    case ASN_OCTET_STR: {
        size_t n = 0;
        while (n < v->val_len && n < kStringValueMax && v->val.string[n]) {
            out[n] = static_cast<char>(v->val.string[n]);
            n++;
        }
        out[n] = 0;
        *length = n;
        return true;
    }
    case ASN_OBJECT_ID:
        if (!v->val.objid) return false;
        out[0] = 0;
        snprint_objid(out, kValueRoom, v->val.objid, v->val_len / sizeof(oid));
        out[kValueRoom - 1] = 0;
        *length = strlen(out);
        return true;
    case ASN_IPADDRESS:
        // Four bytes exactly; anything else is not an address.
        if (v->val_len != 4 || !v->val.string) return false;
        k = snprintf(out, kValueRoom, "%u.%u.%u.%u", v->val.string[0], v->val.string[1], v->val.string[2],
                     v->val.string[3]);
        break;
    default:
        return false;
    }
    if (k < 0) return false;
    *length = static_cast<size_t>(k);
    return true;
}

// ---- Exchanges --------------------------------------------------------------

const int kNoPdu = -1000;  // snmp_pdu_create failed

// One request of `type` for one identifier with a null value, sent and
// waited for with the heap released. The caller holds a use of the
// session. Gives the Net-SNMP status (STAT_SUCCESS, STAT_TIMEOUT,
// STAT_ERROR) or kNoPdu; *response is the answer or null.
int exchange(JSContext *cx, void *session, int type, const oid *name, size_t length, netsnmp_pdu **response) {
    *response = nullptr;
    Kx4HeapReleased released(api, cx);
    netsnmp_pdu *pdu = snmp_pdu_create(type);
    if (!pdu) return kNoPdu;
    if (!snmp_add_null_var(pdu, name, length)) {
        snmp_free_pdu(pdu);
        return STAT_ERROR;
    }
    // Sent or not, the request is the library's now.
    return snmp_sess_synch_response(session, pdu, response);
}

// Defines `name` on a result object: enumerable, read-only.
void defineText(JSContext *cx, JSObject *obj, const char *name, const char *bytes, size_t length,
                uintN attrs = KX4_RESULT_ATTRS) {
    api->defineProperty(cx, obj, name, api->newStringN(cx, bytes, length), 0, 0, attrs);
}

// Fills the answer of a GET or GET-NEXT; gives its error code.
const char *fillAnswer(JSContext *cx, JSObject *answer, int status, netsnmp_pdu *response, bool next) {
    if (status == STAT_TIMEOUT) return "timeout";
    if (status != STAT_SUCCESS || !response) return next ? "status_error" : "bad_status";
    if (response->errstat != SNMP_ERR_NOERROR) {
        if (!next) return "bad_status";
        return response->errstat == SNMP_ERR_NOSUCHNAME ? "no_more_oid" : "response_error";
    }
    const netsnmp_variable_list *v = response->variables;
    static char value[kValueRoom];  // used with the heap held only
    size_t length = 0;
    if (!v || !valueText(v, value, &length)) return "get_answer_error";
    char name[kOidTextMax + 1];
    oidText(name, v->name, v->name_length);
    defineText(cx, answer, "oid", name, strlen(name));
    defineText(cx, answer, "value", value, length);
    return "no_error";
}

// ---- Methods ----------------------------------------------------------------

JSBool snmpOpen(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 2, "Snmp.open(<ipAddress>, <communityName>, [timeout])")) return JS_FALSE;
    const char *address = api->valueToString(cx, argv[0]);
    const char *community = api->valueToString(cx, argv[1]);
    const bool hasTimeout = kx4HasArg(argc, argv, 2);
    const double ms = hasTimeout ? api->valueToNumber(cx, argv[2]) : 0;
    if (kx4ErrorPending(api, cx) || !address || !community) return JS_FALSE;
    SnmpRecord *rec = recordOf(cx, obj, "open");
    if (!rec) return JS_FALSE;
    *rval = JSVAL_FALSE;

    char peer[sizeof rec->peer], name[sizeof rec->community];
    snprintf(peer, sizeof peer, "%s", address);
    snprintf(name, sizeof name, "%s", community);
    // Milliseconds truncated; the microseconds must fit the session's
    // 32-bit field, so the time-out stays within 0 and about 35 minutes.
    int32_t timeout = kDefaultTimeout;
    if (hasTimeout) {
        int64_t us = static_cast<int64_t>(kx4NumberToInt32(ms)) * 1000;
        timeout = us < 0 ? 0 : us > INT32_MAX ? INT32_MAX : static_cast<int32_t>(us);
    }
    defineText(cx, obj, "ipAddress", peer, strlen(peer));
    defineText(cx, obj, "communityName", name, strlen(name));
    kx4DefineResultNumber(api, cx, obj, "timeout", timeout);

    // An open session is closed first; requests under way finish first.
    SnmpChange change(cx, rec);
    memcpy(rec->peer, peer, sizeof peer);
    memcpy(rec->community, name, sizeof name);
    rec->timeout = timeout;
    void *old = rec->session;
    rec->session = nullptr;
    void *opened;
    {
        SnmpUse use(rec);
        Kx4HeapReleased released(api, cx);
        if (old) snmp_sess_close(old);
        netsnmp_session settings;
        snmp_sess_init(&settings);
        settings.version = SNMP_VERSION_1;
        settings.retries = kRetries;
        settings.timeout = timeout;
        settings.peername = peer;
        settings.community = reinterpret_cast<u_char *>(name);
        settings.community_len = strlen(name);
        opened = snmp_sess_open(&settings);
    }
    rec->session = opened;
    if (!opened) {
        api->reportError(cx, "Snmp.open: Open failed on %s", peer);
        return JS_FALSE;
    }
    *rval = JSVAL_TRUE;
    return JS_TRUE;
}

JSBool snmpClose(JSContext *cx, JSObject *obj, uintN, jsval *, jsval *rval) {
    *rval = JSVAL_FALSE;
    SnmpRecord *rec = static_cast<SnmpRecord *>(kx4GetClassPrivate(api, cx, obj, &snmpClass));
    if (!rec || !rec->session) return JS_TRUE;
    // Requests under way on other threads finish first.
    SnmpChange change(cx, rec);
    void *session = rec->session;
    if (!session) return JS_TRUE;
    rec->session = nullptr;
    int closed;
    {
        SnmpUse use(rec);  // an open meanwhile waits for the close
        Kx4HeapReleased released(api, cx);
        closed = snmp_sess_close(session);
    }
    *rval = BOOLEAN_TO_JSVAL(closed != 0);
    return JS_TRUE;
}

// getOID and getNextOID.
JSBool query(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval, bool next) {
    const char *function = next ? "getNextOID" : "getOID";
    if (!kx4RequireArgs(api, cx, argc, 1, next ? "Snmp.getNextOID(<requestOid>)" : "Snmp.getOID(<requestOid>)"))
        return JS_FALSE;
    const char *text = api->valueToString(cx, argv[0]);
    if (kx4ErrorPending(api, cx) || !text) return JS_FALSE;
    SnmpRecord *rec = recordOf(cx, obj, function);
    if (!rec) return JS_FALSE;
    SnmpPin pin(rec);
    if (!requireSession(cx, rec, function)) return JS_FALSE;

    JSObject *answer = api->newObject(cx, nullptr);
    if (!answer) return JS_FALSE;
    *rval = OBJECT_TO_JSVAL(answer);
    const char *error;
    oid name[MAX_OID_LEN];
    size_t length = MAX_OID_LEN;
    if (!read_objid(text, name, &length)) {
        // Not an identifier: the request fails before it is sent.
        error = next ? "status_error" : "bad_status";
    } else {
        netsnmp_pdu *response;
        int status;
        {
            SnmpUse use(rec);
            status = exchange(cx, rec->session, next ? SNMP_MSG_GETNEXT : SNMP_MSG_GET, name, length, &response);
        }
        if (status == kNoPdu) {
            if (next) api->reportError(cx, "Snmp.getNextOID: snmp_pdu_create failed");
            else api->reportError(cx, "Snmp.getOID: snmp_pdu_create failed (%s)", text);
            return JS_FALSE;
        }
        error = fillAnswer(cx, answer, status, response, next);
        if (response) snmp_free_pdu(response);
    }
    defineText(cx, answer, "error", error, strlen(error));
    return JS_TRUE;
}

JSBool snmpGetOID(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval) {
    return query(cx, obj, argc, argv, rval, false);
}

JSBool snmpGetNextOID(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval) {
    return query(cx, obj, argc, argv, rval, true);
}

// Whether `name` lies in the subtree of `root` (the root is a prefix).
bool inSubtree(const oid *root, size_t rootLength, const oid *name, size_t length) {
    if (length < rootLength) return false;
    for (size_t i = 0; i < rootLength; i++)
        if (root[i] != name[i]) return false;
    return true;
}

JSBool snmpWalk(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 1, "Snmp.walk(<requestOid>, [maxRequest]>)")) return JS_FALSE;
    const char *text = api->valueToString(cx, argv[0]);
    const int32_t limit = kx4ArgInt32(api, cx, argc, argv, 1, INT32_MAX);
    if (kx4ErrorPending(api, cx) || !text) return JS_FALSE;
    SnmpRecord *rec = recordOf(cx, obj, "walk");
    if (!rec) return JS_FALSE;
    SnmpPin pin(rec);
    if (!requireSession(cx, rec, "walk")) return JS_FALSE;

    oid root[MAX_OID_LEN];
    size_t rootLength = MAX_OID_LEN;
    if (!snmp_parse_oid(text, root, &rootLength)) {
        api->reportError(cx, "Snmp.walk: Snmp.walk: Error bad input oid %s", text);
        return JS_FALSE;
    }
    JSObject *rows = api->newArray(cx, 0, nullptr);
    if (!rows) return JS_FALSE;
    oid current[MAX_OID_LEN];
    size_t currentLength = rootLength;
    memcpy(current, root, rootLength * sizeof(oid));
    // The session this walk began with: an open or close from another
    // thread ends the walk in error.
    const ULONG era = rec->changesIssued;
    int32_t count = 0;
    static char value[kValueRoom];  // used with the heap held only
    for (int32_t sent = 0; sent < limit; sent++) {
        waitIdle(cx, rec);
        if (rec->changesIssued != era || !rec->session || rec->orphaned) return JS_TRUE;
        netsnmp_pdu *response;
        int status;
        {
            SnmpUse use(rec);
            status = exchange(cx, rec->session, SNMP_MSG_GETNEXT, current, currentLength, &response);
        }
        // Frees the answer on every way out of this round.
        struct Answer {
            netsnmp_pdu *pdu;
            ~Answer() {
                if (pdu) snmp_free_pdu(pdu);
            }
        } answer = {response};
        if (status != STAT_SUCCESS || !response) return JS_TRUE;
        if (response->errstat == SNMP_ERR_NOSUCHNAME) break;
        if (response->errstat != SNMP_ERR_NOERROR) return JS_TRUE;
        const netsnmp_variable_list *v = response->variables;
        if (!v) return JS_TRUE;
        if (!inSubtree(root, rootLength, v->name, v->name_length)) break;
        // An agent that does not move forward would keep the walk going
        // round in circles.
        if (snmp_oid_compare(v->name, v->name_length, current, currentLength) <= 0) return JS_TRUE;
        char name[kOidTextMax + 1];
        oidText(name, v->name, v->name_length);
        size_t length = 0;
        if (!valueText(v, value, &length)) {
            api->reportError(cx, "Snmp.walk: Error when reading %s", name);
            return JS_FALSE;
        }
        JSObject *row = api->newObject(cx, nullptr);
        if (!row) return JS_FALSE;
        defineText(cx, row, "oid", name, strlen(name), JSPROP_ENUMERATE);
        defineText(cx, row, "value", value, length, JSPROP_ENUMERATE);
        jsval rowValue = OBJECT_TO_JSVAL(row);
        if (!api->setElement(cx, rows, count++, &rowValue)) return JS_FALSE;
        memcpy(current, v->name, v->name_length * sizeof(oid));
        currentLength = v->name_length;
    }
    *rval = OBJECT_TO_JSVAL(rows);
    return JS_TRUE;
}

JSBool snmpSetOID(JSContext *cx, JSObject *obj, uintN argc, jsval *argv, jsval *rval) {
    if (!kx4RequireArgs(api, cx, argc, 3, "Snmp.setOID(<requestOid>, <type>, <value>)")) return JS_FALSE;
    const char *text = api->valueToString(cx, argv[0]);
    const char *type = api->valueToString(cx, argv[1]);
    const char *value = api->valueToString(cx, argv[2]);
    if (kx4ErrorPending(api, cx) || !text || !type || !value) return JS_FALSE;
    SnmpRecord *rec = recordOf(cx, obj, "setOID");
    if (!rec) return JS_FALSE;
    SnmpPin pin(rec);
    if (!requireSession(cx, rec, "setOID")) return JS_FALSE;
    *rval = JSVAL_FALSE;

    oid name[MAX_OID_LEN];
    size_t length = MAX_OID_LEN;
    if (!read_objid(text, name, &length)) return JS_TRUE;
    netsnmp_pdu *pdu = snmp_pdu_create(SNMP_MSG_SET);
    if (!pdu) return JS_TRUE;
    // The type letter and the value text as Net-SNMP's tools take them.
    if (snmp_add_var(pdu, name, length, type[0], value)) {
        snmp_free_pdu(pdu);
        return JS_TRUE;
    }
    netsnmp_pdu *response = nullptr;
    int status;
    {
        SnmpUse use(rec);
        void *session = rec->session;
        Kx4HeapReleased released(api, cx);
        status = snmp_sess_synch_response(session, pdu, &response);
    }
    const bool accepted = status == STAT_SUCCESS && response && response->errstat == SNMP_ERR_NOERROR;
    if (response) snmp_free_pdu(response);
    *rval = BOOLEAN_TO_JSVAL(accepted);
    return JS_TRUE;
}

// ---- Class ------------------------------------------------------------------

JSBool snmpConstruct(JSContext *cx, JSObject *obj, uintN, jsval *, jsval *) {
    SnmpRecord *rec = static_cast<SnmpRecord *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(SnmpRecord)));
    if (!rec) {
        api->reportError(cx, "Snmp: out of memory");
        return JS_FALSE;
    }
    rec->kx4Class = &snmpClass;
    // Once per process; later calls return at once.
    init_snmp(kAppName);
    if (!api->setPrivate(cx, obj, rec)) {
        HeapFree(GetProcessHeap(), 0, rec);
        return JS_FALSE;
    }
    return JS_TRUE;
}

// A session the script forgot to close is closed when its object is
// collected. The prototype is finalized too, without a record.
void snmpFinalize(JSContext *cx, JSObject *obj) {
    SnmpRecord *rec = static_cast<SnmpRecord *>(kx4TakeClassPrivate(api, cx, obj, &snmpClass));
    if (!rec) return;
    // A native still holds the record across a heap release: it frees it.
    if (rec->pins > 0) {
        rec->orphaned = true;
        return;
    }
    destroyRecord(rec);
}

const JSFunctionSpec snmpMethods[] = {
    JS_FS("open", snmpOpen, 1),
    JS_FS("close", snmpClose, 0),
    JS_FS("getOID", snmpGetOID, 0),
    JS_FS("getNextOID", snmpGetNextOID, 0),
    JS_FS("walk", snmpWalk, 0),
    JS_FS("setOID", snmpSetOID, 0),
    JS_FS_END,
};

const JSFunctionSpec snmpStatics[] = {
    JS_FS_END,
};

bool winsockStarted;

}  // namespace

KX4_MODULE_INIT {
    api = hostApi;
    if (!winsockStarted) {
        // Net-SNMP resolves and opens its sockets through Winsock.
        WSADATA wsa;
        if (WSAStartup(MAKEWORD(1, 1), &wsa)) {
            api->reportError(cx, "Socket: WSAStartup() failed");
            return;
        }
        winsockStarted = true;
        // The module's behaviour is the script's alone: no configuration
        // file of the machine is read, and no state is written.
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
        // No MIB is loaded: identifier values print as dotted numbers.
        netsnmp_ds_set_int(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_OID_OUTPUT_FORMAT, NETSNMP_OID_OUTPUT_NUMERIC);
    }
    api->defineClass(cx, "Snmp", snmpConstruct, 0, nullptr, snmpMethods, nullptr, snmpStatics, snmpFinalize);
}
