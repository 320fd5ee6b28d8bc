/* One SNMPv1 request with the Net-SNMP client library:
 *
 *   snmp_probe <host:port> <community> <timeout ms> <get|next> <oid>...
 *
 * Prints one line per variable of the response, "<oid> <type> <value>"
 * (strings in hex), or "error <status> <index>" when the agent reports an
 * error, or "timeout <elapsed ms>". Exit 0 on a response, 3 on time-out, 1
 * on any other failure. Net-SNMP neither reads nor writes configuration
 * files here: nothing of the machine changes what the module does. */
#include <winsock2.h>
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int parse_oid(const char *text, oid *out, size_t *len) {
    size_t n = 0;
    const char *p = text;
    while (*p && n < MAX_OID_LEN) {
        char *end;
        out[n++] = strtoul(*p == '.' ? p + 1 : p, &end, 10);
        if (end == p || (*end && *end != '.'))
            return 0;
        p = end;
    }
    *len = n;
    return n > 0 && !*p;
}

static void show_oid(const oid *name, size_t len) {
    for (size_t i = 0; i < len; i++)
        printf(i ? ".%lu" : "%lu", (unsigned long)name[i]);
}

static void show_variable(const netsnmp_variable_list *v) {
    show_oid(v->name, v->name_length);
    switch (v->type) {
    case ASN_OCTET_STR:
        printf(" string ");
        for (size_t i = 0; i < v->val_len; i++)
            printf("%02x", v->val.string[i]);
        break;
    case ASN_OBJECT_ID:
        printf(" oid ");
        show_oid(v->val.objid, v->val_len / sizeof(oid));
        break;
    case ASN_INTEGER:
        printf(" integer %ld", *v->val.integer);
        break;
    case ASN_TIMETICKS:
        printf(" timeticks %lu", (unsigned long)*v->val.integer);
        break;
    default:
        printf(" type-0x%02x", v->type);
    }
    printf("\n");
}

int main(int argc, char **argv) {
    if (argc < 6 || (strcmp(argv[4], "get") && strcmp(argv[4], "next"))) {
        fprintf(stderr, "usage: snmp_probe <host:port> <community> <timeout ms> <get|next> <oid>...\n");
        return 2;
    }
    /* Winsock first: without it the session cannot resolve its peer. */
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa))
        return 1;
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
    init_snmp("kx4probe");

    netsnmp_session settings;
    snmp_sess_init(&settings);
    settings.peername = argv[1];
    settings.version = SNMP_VERSION_1;
    settings.community = (u_char *)argv[2];
    settings.community_len = strlen(argv[2]);
    settings.timeout = atol(argv[3]) * 1000L;   /* microseconds */
    settings.retries = 0;
    void *session = snmp_sess_open(&settings);
    if (!session) {
        snmp_perror("snmp_probe: snmp_sess_open");
        return 1;
    }

    netsnmp_pdu *pdu = snmp_pdu_create(strcmp(argv[4], "get") ? SNMP_MSG_GETNEXT : SNMP_MSG_GET);
    for (int i = 5; i < argc; i++) {
        oid name[MAX_OID_LEN];
        size_t len;
        if (!parse_oid(argv[i], name, &len)) {
            fprintf(stderr, "snmp_probe: bad OID %s\n", argv[i]);
            return 2;
        }
        snmp_add_null_var(pdu, name, len);
    }

    netsnmp_pdu *response = NULL;
    ULONGLONG start = GetTickCount64();
    int status = snmp_sess_synch_response(session, pdu, &response);
    int rc = 1;
    if (status == STAT_SUCCESS) {
        if (response->errstat == SNMP_ERR_NOERROR)
            for (netsnmp_variable_list *v = response->variables; v; v = v->next_variable)
                show_variable(v);
        else
            printf("error %ld %ld\n", response->errstat, response->errindex);
        rc = 0;
    } else if (status == STAT_TIMEOUT) {
        printf("timeout %llu\n", (unsigned long long)(GetTickCount64() - start));
        rc = 3;
    } else {
        snmp_sess_perror("snmp_probe", snmp_sess_session(session));
    }
    if (response)
        snmp_free_pdu(response);
    snmp_sess_close(session);
    snmp_shutdown("kx4probe");
    WSACleanup();
    return rc;
}
