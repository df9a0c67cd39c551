/*
 * The unit transport: a reliable, ordered message pipe between stack units
 * carried in raw Ethernet frames (EtherType 0xAAAF) through the packet
 * service.
 *
 * A message is cut into frames of at most 1500 bytes (16-byte frame header,
 * 16-byte transaction header, up to 1468 data bytes); the frames of one
 * message form a transaction (ids 0..1023). The sender keeps a window of 256
 * frames and waits for an acknowledgement at every 256th frame and at the
 * last; the receiver asks again for frames it misses, and an unacknowledged
 * block end is resent every second. Messages below 100 bytes wait up to
 * 10 ms to be merged, up to ten to a frame. The receiver hands every whole
 * message to one callback.
 *
 * The transport serves unit 1 only. In this build nothing leaves the unit:
 * the packet service's transmit hook does nothing, and nothing in the
 * library enables a pipe; the caller that manages stack membership does.
 * utp_link_set replaces the transmit side with another link (a simulated
 * one between two transports, for instance).
 */
#ifndef PLATFORM_CORE_UTP_H
#define PLATFORM_CORE_UTP_H

#include <stdint.h>
#include <sys/uio.h>

#include "platform_core/api.h"
#include "platform_core/axpacket.h"

PC_BEGIN_DECLS

#define UTP_ETHERTYPE 0xAAAF
#define UTP_ETH_HDR_LEN 14
#define UTP_FRAME_MAX 1500   /* frame bytes after the Ethernet header */
#define UTP_FRAME_HDR_LEN 16 /* also the length of an acknowledgement */
#define UTP_TXN_HDR_LEN 16
#define FRAME_DATA_LEN 1484    /* transaction header plus data */
#define UTP_FRAME_PAYLOAD 1468 /* data bytes of one frame */
#define FRAME_WIN_SIZE 256
#define FRAME_BUFF_SIZE 256
#define UTP_TXN_ID_NUM 1024
#define UTP_SMALL_MSG_LEN 100 /* messages shorter than this are merged */
#define UTP_MERGE_REC_LEN 104 /* u32 length, then 100 bytes */
#define UTP_MERGE_MAX 10      /* merged messages per frame */
/* The largest message the transport carries; it bounds the frame count of
 * a transaction a receiver accepts. */
#define UTP_MSG_MAX_LEN (1024u * 1024u)
#define UTP_TXN_FRAMES_MAX ((UTP_MSG_MAX_LEN + UTP_FRAME_PAYLOAD - 1) / UTP_FRAME_PAYLOAD)

/* Frame types, data frame states and acknowledgement results. */
#define UTP_FRAME_DATA 31
#define UTP_FRAME_ACK 47
#define UTP_STAT_SENT 1
#define UTP_STAT_ACKED 2
#define UTP_STAT_RESENT 3
#define UTP_STAT_ASK_ACK 5
#define UTP_ACK_COMPLETE 0x3F
#define UTP_ACK_UPTO 0x40
#define UTP_ACK_RESEND 0x41

#define UTP_UNIT_DISABLE 0
#define UTP_UNIT_ENABLE 1

/* Called on the transport's thread with every whole message from `unit`. */
typedef int (*utp_rx_cb_t)(uint32_t unit, uint8_t *data, uint32_t len);
/* A link's transmit side: one frame (without Ethernet header) for `unit`. */
typedef int (*utp_link_tx_t)(uint32_t unit, const uint8_t *frame, uint32_t len, void *ctx);

PC_API int utp_initiation(void);
PC_API int utp_reg_axpacket(void);
PC_API int utp_sendmsg(uint32_t unit, const struct iovec *iov, int num);
PC_API int utp_rx_register(uint32_t unit, utp_rx_cb_t cb);
PC_API int utp_rx(AX_PACKET_T *pkt);
PC_API int utp_isEnable(void);
PC_API int utp_recv(uint32_t unit, uint32_t type, uint8_t *out);
PC_API int utp_setunitstate(uint32_t unit, uint32_t state);
PC_API uint32_t utp_getunitstate(uint32_t unit);
PC_API uint32_t utp_getCurTxnId(uint32_t unit);
PC_API int utp_setCurTxnId(uint32_t id, uint32_t unit);
PC_API void *utp_getSendMng(uint32_t unit);
PC_API void *utp_getRecvMng(uint32_t unit);
PC_API uint32_t utp_debug_flag(void);
PC_API void utp_debug_flag_set(uint32_t level);
PC_API int utp_dump_queue(uint32_t unit);

/* Replaces the transmit side (null: back to the packet service). */
PC_API int utp_link_set(utp_link_tx_t tx, void *ctx);
/* Frames the sender sent again (resend timer and requests), since start. */
PC_API uint32_t utp_resend_count(void);

PC_END_DECLS

#endif
