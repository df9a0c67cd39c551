/*
 * LLDP data units (IEEE 802.1AB): the few TLVs this agent sends and reads.
 *
 * An LLDPDU follows the EtherType 0x88CC of a frame to the nearest-bridge
 * address 01:80:C2:00:00:0E. It is a run of TLVs, each a 16-bit header
 * (type in the top 7 bits, length of the value in the low 9) and the value:
 * Chassis ID (1), Port ID (2) and Time To Live (3) first and in that order,
 * then optional ones such as System Name (5), and End (0). Everything here
 * works on plain byte buffers and needs nothing of the platform, so the
 * parser is fuzzed on its own.
 */
#ifndef LLDP_AGENT_LLDP_TLV_H
#define LLDP_AGENT_LLDP_TLV_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define LLDP_ETHERTYPE 0x88CCu
#define LLDP_MAC_LEN 6
#define LLDP_HEADER_LEN 14 /* destination, source, EtherType */
#define LLDP_TEXT_SIZE 64  /* an identifier as shown, NUL included */

extern const uint8_t lldp_nearest_bridge_mac[LLDP_MAC_LEN];

/* What a neighbour told about itself, as text. */
typedef struct lldp_info {
    char chassis_id[LLDP_TEXT_SIZE]; /* a MAC as "xx:xx:xx:xx:xx:xx", else printable text */
    char port_id[LLDP_TEXT_SIZE];
    char system_name[LLDP_TEXT_SIZE]; /* "" when the neighbour sent none */
    uint16_t ttl;                     /* seconds; 0 asks to forget the neighbour now */
} lldp_info_t;

/* Reads the LLDPDU `pdu` (the `len` bytes after the EtherType). 0, or -1
 * when it is malformed: a TLV running past the data, the three mandatory
 * TLVs missing or out of order, or a length outside what the TLV allows.
 * Never reads outside pdu[0 .. len). */
int lldp_parse(const uint8_t *pdu, size_t len, lldp_info_t *info);

/* Writes a whole frame into `buf` (`size` bytes): from `src_mac` to the
 * nearest-bridge address, chassis ID `chassis_mac`, port ID `port_name` (an
 * interface name), `ttl`, and `system_name` when it is not empty. Answers
 * the frame's length, or 0 when it does not fit or a name is longer than
 * 255 bytes. */
size_t lldp_build(uint8_t *buf, size_t size, const uint8_t src_mac[LLDP_MAC_LEN],
                  const uint8_t chassis_mac[LLDP_MAC_LEN], const char *port_name, uint16_t ttl,
                  const char *system_name);

#ifdef __cplusplus
}
#endif

#endif
