/*
 * The switch chip SDK calls the library makes: the NIC driver through which
 * frames reach and leave the CPU, and the switch queries for VLAN, PVID,
 * link, trunk and counters. They are not part of libplatform_core: on the
 * switch the chip vendor's SDK provides them, on a development machine the
 * simulated chip (libplatform_sim) does. Only what the library relies on is
 * fixed here.
 *
 * Chip ports are numbered 0..63 on chip unit 0; a port mask holds bit n of
 * word n / 32 for chip port n.
 */
#ifndef PLATFORM_CORE_CHIP_SDK_H
#define PLATFORM_CORE_CHIP_SDK_H

#include <stdint.h>

#include "platform_core/api.h"

PC_BEGIN_DECLS

#define SDK_PORT_MAX 64
#define SDK_TRUNK_MAX 16
#define SDK_CPU_STAT_PORT 28
#define SDK_VID_MAX 4095

typedef struct sdk_portmask_s {
    uint32_t bits[2];
} sdk_portmask_t;

#define SDK_PORTMASK_IS_SET(m, p) ((((m).bits[(p) / 32] >> ((p) % 32)) & 1u) != 0)
#define SDK_PORTMASK_SET(m, p) ((m).bits[(p) / 32] |= (1u << ((p) % 32)))
#define SDK_PORTMASK_CLEAR(m, p) ((m).bits[(p) / 32] &= ~(1u << ((p) % 32)))

/* Port counters of sdk_stat_port_get. */
enum sdk_stat_counter {
    SDK_STAT_IF_IN_UCAST_PKTS = 0,
    SDK_STAT_IF_IN_BCAST_PKTS = 1,
    SDK_STAT_IF_OUT_UCAST_PKTS = 2,
    SDK_STAT_IF_OUT_BCAST_PKTS = 3,
    SDK_STAT_IF_IN_OCTETS = 4,
    SDK_STAT_IF_OUT_OCTETS = 5,
    SDK_STAT_NUM = 6,
};

/* Switch queries: 0 on success, non-zero (a vendor error) otherwise. */
PC_API int sdk_vlan_port_get(uint32_t unit, uint32_t vid, sdk_portmask_t *member, sdk_portmask_t *untag);
PC_API int sdk_vlan_portPvid_get(uint32_t unit, uint32_t port, uint32_t *pvid);
PC_API int sdk_port_link_get(uint32_t unit, uint32_t port, uint32_t *linkUp);
/* Members of trunk `trunk` (0..SDK_TRUNK_MAX-1); an empty mask: not in use. */
PC_API int sdk_trunk_port_get(uint32_t unit, uint32_t trunk, sdk_portmask_t *members);
PC_API int sdk_stat_port_get(uint32_t unit, uint32_t port, uint32_t counter, uint64_t *value);
PC_API int sdk_core_usr_init(void);
/* Number of switch chips the SDK drives. */
PC_API extern uint32_t sdk_ndev;

/* ---- NIC driver ---------------------------------------------------------- */

/* Transmit modes of a descriptor. */
#define NIC_TX_DIRECT 0  /* out of the ports of tx.port_mask */
#define NIC_TX_FORWARD 1 /* through the chip's normal forwarding */

/* Results of the receive callback. */
#define NIC_RX_NOT_HANDLED 1 /* the driver frees the buffer */
#define NIC_RX_HANDLED 2     /* the callback released it */

/* One frame in a driver buffer. The buffer is [head, end); the frame is
 * [data, tail) of `length` bytes. */
typedef struct drv_nic_pkt_s {
    uint8_t *head;
    uint8_t *data;
    uint8_t *tail;
    uint8_t *end;
    uint32_t length;
    uintptr_t buf_id; /* the owner's handle of the buffer */
    struct {
        uint32_t source_port; /* receiving chip port */
        uint8_t inner_tag_present;
        uint8_t outer_tag_present;
        uint16_t inner_vid;
        uint8_t acl_hit;
        uint8_t cpu_queue; /* 0..7 */
        uint16_t acl_index;
        uint8_t new_sa;
        uint8_t l2_pmv;
        uint16_t reason;
    } rx;
    struct {
        sdk_portmask_t port_mask;
        uint32_t mode; /* NIC_TX_DIRECT or NIC_TX_FORWARD */
    } tx;
} drv_nic_pkt_t;

typedef int (*drv_nic_pkt_alloc_f)(uint32_t unit, int32_t size, uint32_t flags, drv_nic_pkt_t **ppPacket);
typedef int (*drv_nic_pkt_free_f)(uint32_t unit, drv_nic_pkt_t *pPacket);
typedef int (*drv_nic_rx_cb_f)(uint32_t unit, drv_nic_pkt_t *pPacket, void *cookie);
typedef void (*drv_nic_tx_cb_f)(uint32_t unit, drv_nic_pkt_t *pPacket, void *cookie);

typedef struct drv_nic_initCfg_s {
    uint32_t pkt_size; /* largest frame buffer the driver asks for */
    drv_nic_pkt_alloc_f pkt_alloc;
    drv_nic_pkt_free_f pkt_free;
} drv_nic_initCfg_t;

/* Memory regions of ioal_init_memRegion_get. */
#define IOAL_MEM_DMA 3

PC_API int drv_nic_init(uint32_t unit, const drv_nic_initCfg_t *cfg);
PC_API int nic_rx_thread_cb_register(uint32_t unit, drv_nic_rx_cb_f cb, void *cookie);
PC_API int drv_nic_rx_start(uint32_t unit);
/* Transmits; `cb` runs once the chip is done with the buffer. */
PC_API int drv_nic_pkt_tx(uint32_t unit, drv_nic_pkt_t *pPacket, drv_nic_tx_cb_f cb, void *cookie);
PC_API int ioal_init_memRegion_get(uint32_t unit, uint32_t region, uint8_t **base, uint32_t *size);
PC_API void *osal_alloc(uint32_t size);
PC_API void osal_free(void *ptr);

PC_END_DECLS

#endif
