/* The Snmp benchmark's baseline (bench/snmp_run.sh): the same exchanges as
 * bench/snmp_bench.js, in plain C on Net-SNMP's single-session API with the
 * session the module opens (SNMPv1, 1 retry, no configuration files).
 *
 *   kx4bench_snmp_baseline <agent> <community> get <oid> <count>
 *   kx4bench_snmp_baseline <agent> <community> walk <root> <repeats>
 *
 * Prints one line per repeat of a walk, or one for all the GETs:
 * "c get <count> <ms>" and "c walk <rows> <ms>". The values are converted
 * to text as the module converts them, so both sides do the same work. */
#include <winsock2.h>
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static double now_ms(void) {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart * 1000.0 / (double)f.QuadPart;
}

/* The value and identifier texts, as the module makes them. */
static size_t texts(const netsnmp_variable_list *v, char *value, char *name) {
    size_t n = 0;
    for (size_t i = 0; i < v->name_length && n < 120; i++)
        n += snprintf(name + n, 128 - n, ".%lu", (unsigned long)v->name[i]);
    switch (v->type) {
    case ASN_INTEGER: return snprintf(value, 2048, "%ld", *v->val.integer);
    case ASN_OCTET_STR:
        for (n = 0; n < v->val_len && n < 499 && v->val.string[n]; n++) value[n] = v->val.string[n];
        value[n] = 0;
        return n;
    default: return 0;
    }
}

static int request(void *session, int type, const oid *name, size_t len, netsnmp_pdu **response) {
    netsnmp_pdu *pdu = snmp_pdu_create(type);
    snmp_add_null_var(pdu, name, len);
    return snmp_sess_synch_response(session, pdu, response);
}

int main(int argc, char **argv) {
    if (argc < 6) {
        fprintf(stderr, "usage: kx4bench_snmp_baseline <agent> <community> get|walk <oid> <count>\n");
        return 2;
    }
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(1, 1), &wsa)) return 1;
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
    init_snmp("snmpapp");
    netsnmp_session settings;
    snmp_sess_init(&settings);
    settings.version = SNMP_VERSION_1;
    settings.retries = 1;
    settings.timeout = 3000000;
    settings.peername = argv[1];
    settings.community = (u_char *)argv[2];
    settings.community_len = strlen(argv[2]);
    void *session = snmp_sess_open(&settings);
    if (!session) return 1;
    oid root[MAX_OID_LEN];
    size_t rootLen = MAX_OID_LEN;
    if (!read_objid(argv[4], root, &rootLen)) return 2;
    int count = atoi(argv[5]);
    static char value[2048], name[128];
    if (!strcmp(argv[3], "get")) {
        double t0 = now_ms();
        for (int i = 0; i < count; i++) {
            netsnmp_pdu *response = NULL;
            if (request(session, SNMP_MSG_GET, root, rootLen, &response) != STAT_SUCCESS || response->errstat)
                return 1;
            texts(response->variables, value, name);
            snmp_free_pdu(response);
        }
        printf("c get %d %.3f\n", count, now_ms() - t0);
    } else {
        for (int r = 0; r < count; r++) {
            oid cur[MAX_OID_LEN];
            size_t curLen = rootLen;
            memcpy(cur, root, rootLen * sizeof(oid));
            int rows = 0;
            double t0 = now_ms();
            for (;;) {
                netsnmp_pdu *response = NULL;
                if (request(session, SNMP_MSG_GETNEXT, cur, curLen, &response) != STAT_SUCCESS) return 1;
                netsnmp_variable_list *v = response->variables;
                if (response->errstat || !v || v->name_length < rootLen ||
                    memcmp(v->name, root, rootLen * sizeof(oid))) {
                    snmp_free_pdu(response);
                    break;
                }
                texts(v, value, name);
                memcpy(cur, v->name, v->name_length * sizeof(oid));
                curLen = v->name_length;
                rows++;
                snmp_free_pdu(response);
            }
            printf("c walk %d %.3f\n", rows, now_ms() - t0);
        }
    }
    fflush(stdout);
    snmp_sess_close(session);
    return 0;
}
