/* LLDP data units: parse and build (see lldp_tlv.h). */
#include "lldp_tlv.h"

#include <stdio.h>
#include <string.h>

const uint8_t lldp_nearest_bridge_mac[LLDP_MAC_LEN] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x0E};

enum {
    TLV_END = 0,
    TLV_CHASSIS_ID = 1,
    TLV_PORT_ID = 2,
    TLV_TTL = 3,
    TLV_SYSTEM_NAME = 5,
};
enum {
    CHASSIS_SUBTYPE_MAC = 4,
    PORT_SUBTYPE_MAC = 3,
    PORT_SUBTYPE_IFNAME = 5,
};
#define TLV_HEADER_LEN 2u
#define TLV_VALUE_MAX 511u /* the 9-bit length */
#define ID_VALUE_MIN 2u    /* subtype and at least one byte */
#define ID_VALUE_MAX 256u  /* subtype and up to 255 bytes */
#define TTL_VALUE_MIN 2u
#define NAME_VALUE_MAX 255u

/* `n` bytes of an identifier as text: a MAC address in the usual form when
 * `as_mac` and it is six bytes long, else the bytes with anything that is not
 * printable ASCII as '.', cut to fit. */
static void id_text(char out[LLDP_TEXT_SIZE], const uint8_t *v, size_t n, int as_mac) {
    if (as_mac && n == LLDP_MAC_LEN) {
        snprintf(out, LLDP_TEXT_SIZE, "%02x:%02x:%02x:%02x:%02x:%02x", v[0], v[1], v[2], v[3], v[4], v[5]);
        return;
    }
    size_t i = 0;
    for (; i < n && i + 1 < LLDP_TEXT_SIZE; ++i) out[i] = (v[i] >= 0x20 && v[i] < 0x7F) ? (char)v[i] : '.';
    out[i] = '\0';
}

int lldp_parse(const uint8_t *pdu, size_t len, lldp_info_t *info) {
    memset(info, 0, sizeof *info);
    unsigned next_mandatory = TLV_CHASSIS_ID; /* TLV_TTL + 1 once all three are seen */
    size_t at = 0;
    while (len - at >= TLV_HEADER_LEN) {
        unsigned type = pdu[at] >> 1;
        size_t vlen = ((size_t)(pdu[at] & 1u) << 8) | pdu[at + 1];
        at += TLV_HEADER_LEN;
        if (vlen > len - at) return -1;
        const uint8_t *v = pdu + at;
        at += vlen;
        if (type == TLV_END) break;
        if (next_mandatory <= TLV_TTL) {
            /* The first three TLVs are the mandatory ones, in order. */
            if (type != next_mandatory) return -1;
            ++next_mandatory;
        } else if (type >= TLV_CHASSIS_ID && type <= TLV_TTL) {
            return -1; /* a mandatory TLV a second time */
        }
        switch (type) {
            case TLV_CHASSIS_ID:
                if (vlen < ID_VALUE_MIN || vlen > ID_VALUE_MAX) return -1;
                id_text(info->chassis_id, v + 1, vlen - 1, v[0] == CHASSIS_SUBTYPE_MAC);
                break;
            case TLV_PORT_ID:
                if (vlen < ID_VALUE_MIN || vlen > ID_VALUE_MAX) return -1;
                id_text(info->port_id, v + 1, vlen - 1, v[0] == PORT_SUBTYPE_MAC);
                break;
            case TLV_TTL:
                if (vlen < TTL_VALUE_MIN) return -1;
                info->ttl = (uint16_t)((v[0] << 8) | v[1]);
                break;
            case TLV_SYSTEM_NAME:
                if (vlen > NAME_VALUE_MAX) return -1;
                id_text(info->system_name, v, vlen, 0);
                break;
            default:
                break; /* other TLVs are skipped */
        }
    }
    return next_mandatory > TLV_TTL ? 0 : -1;
}

/* Appends one TLV; the new length, or 0 when it does not fit. */
static size_t put_tlv(uint8_t *buf, size_t size, size_t at, unsigned type, const uint8_t *prefix,
                      size_t prefix_len, const void *value, size_t value_len) {
    size_t vlen = prefix_len + value_len;
    if (vlen > TLV_VALUE_MAX || at > size || size - at < TLV_HEADER_LEN + vlen) return 0;
    buf[at] = (uint8_t)((type << 1) | (vlen >> 8));
    buf[at + 1] = (uint8_t)(vlen & 0xFFu);
    if (prefix_len > 0) memcpy(buf + at + TLV_HEADER_LEN, prefix, prefix_len);
    if (value_len > 0) memcpy(buf + at + TLV_HEADER_LEN + prefix_len, value, value_len);
    return at + TLV_HEADER_LEN + vlen;
}

size_t lldp_build(uint8_t *buf, size_t size, const uint8_t src_mac[LLDP_MAC_LEN],
                  const uint8_t chassis_mac[LLDP_MAC_LEN], const char *port_name, uint16_t ttl,
                  const char *system_name) {
    size_t port_len = strlen(port_name), name_len = strlen(system_name);
    if (port_len == 0 || port_len > NAME_VALUE_MAX || name_len > NAME_VALUE_MAX || size < LLDP_HEADER_LEN)
        return 0;
    memcpy(buf, lldp_nearest_bridge_mac, LLDP_MAC_LEN);
    memcpy(buf + LLDP_MAC_LEN, src_mac, LLDP_MAC_LEN);
    buf[12] = (uint8_t)(LLDP_ETHERTYPE >> 8);
    buf[13] = (uint8_t)(LLDP_ETHERTYPE & 0xFFu);
    const uint8_t chassis_subtype = CHASSIS_SUBTYPE_MAC, port_subtype = PORT_SUBTYPE_IFNAME;
    const uint8_t ttl_bytes[2] = {(uint8_t)(ttl >> 8), (uint8_t)(ttl & 0xFFu)};
    size_t at =
        put_tlv(buf, size, LLDP_HEADER_LEN, TLV_CHASSIS_ID, &chassis_subtype, 1, chassis_mac, LLDP_MAC_LEN);
    if (at != 0) at = put_tlv(buf, size, at, TLV_PORT_ID, &port_subtype, 1, port_name, port_len);
    if (at != 0) at = put_tlv(buf, size, at, TLV_TTL, NULL, 0, ttl_bytes, sizeof ttl_bytes);
    if (at != 0 && name_len > 0) at = put_tlv(buf, size, at, TLV_SYSTEM_NAME, NULL, 0, system_name, name_len);
    if (at != 0) at = put_tlv(buf, size, at, TLV_END, NULL, 0, NULL, 0);
    return at;
}
