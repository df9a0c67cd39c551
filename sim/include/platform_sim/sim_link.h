/*
 * A simulated link between stack units for the unit transport.
 *
 * Frames handed to simLinkTx (the transport's link hook) are delivered, on
 * the link's own thread, to the receive function given to simLinkStart as
 * packet records with a 14-byte Ethernet header, in the order they were
 * sent, after a random delay of up to maxDelayUs. Each frame is lost with
 * probability `loss` and delivered twice with probability `dup` (seeded, so
 * a run repeats). Wiring one transport's transmit side back into its own
 * receive side makes its sender talk to its receiver across the link, with
 * data frames and acknowledgements both exposed to loss.
 */
#ifndef PLATFORM_SIM_SIM_LINK_H
#define PLATFORM_SIM_SIM_LINK_H

#include <stdint.h>

#include "platform_core/api.h"
#include "platform_core/axpacket.h"

PC_BEGIN_DECLS

typedef int (*sim_link_rx_t)(AX_PACKET_T *pkt);
typedef void (*sim_link_tap_t)(const uint8_t *frame, uint32_t len, void *ctx);

PC_API int simLinkStart(sim_link_rx_t rx, uint32_t rxUnit);
PC_API void simLinkStop(void);
/* loss and dup in parts per thousand. */
PC_API void simLinkConfigure(uint32_t lossPermille, uint32_t dupPermille, uint32_t maxDelayUs, uint32_t seed);
/* Drops the next `count` frames whose first byte is `type` and whose sno
 * (bytes 4..7) is `sno`. */
PC_API void simLinkDropNext(uint8_t type, uint32_t sno, uint32_t count);
/* Called with every frame handed to the link, before loss (null: none). */
PC_API void simLinkTap(sim_link_tap_t tap, void *ctx);
/* The transport's link hook (utp_link_tx_t). */
PC_API int simLinkTx(uint32_t unit, const uint8_t *frame, uint32_t len, void *ctx);
/* Frames delivered and lost since start. */
PC_API uint32_t simLinkDelivered(void);
PC_API uint32_t simLinkLost(void);

PC_END_DECLS

#endif
