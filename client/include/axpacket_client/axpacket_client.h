/*
 * The packet client of the application processes.
 *
 * A process other than the core registers its modules and packet
 * registrations with the core's packet service through the RPC function
 * "axpacketRegManage", receives the frames its registrations match as
 * MID_AXPACKET messages (wire record, MID, registration name, frame) and
 * sends frames back through the core as MID_AXPACKET messages (wire record
 * and frame).
 *
 * Use: axFeatureProcessInit (axmsg_client/feature_process.h), then
 * axpacketClientInit(); register a module, its registrations with a receive
 * callback, fields, and enable them. To send a frame of its own, a process
 * fills an AX_PACKET_T as platform_core/axpacket.h shows. Callbacks run on the messaging client's reader
 * thread with a record whose data points to the frame, valid during the call.
 */
#ifndef AXPACKET_CLIENT_AXPACKET_CLIENT_H
#define AXPACKET_CLIENT_AXPACKET_CLIENT_H

#include "platform_core/api.h"
#include "platform_core/axpacket.h"

PC_BEGIN_DECLS

typedef int (*AXPACKET_CLIENT_RX_CB)(AX_PACKET_T *pkt, uint32_t mid, const char *regName);

/* Installs the MID_AXPACKET handler; 0 or -1. */
PC_API int axpacketClientInit(void);

/* The registry calls; each answers 0, or the RPC call's error (a refusal by
 * the core is AXRPC_RET_FUNC_ERR). fieldType as for axPacketRegisterField. */
PC_API int axpacketClientRegisterModule(uint32_t mid, int priority, uint32_t stackSize, uint32_t queueLen);
PC_API int axpacketClientRegisterPacket(uint32_t mid, const char *regName, uint32_t own, uint32_t priority,
                                        AXPACKET_CLIENT_RX_CB cb);
PC_API int axpacketClientUnregisterPacket(uint32_t mid, const char *regName);
PC_API int axpacketClientRegisterField(uint32_t mid, const char *regName, uint32_t fieldType, uint32_t value,
                                       uint32_t mask);
PC_API int axpacketClientRegisterMacaddr(uint32_t mid, const char *regName, uint32_t fieldType,
                                         const uint8_t *mac, const uint8_t *mask);
PC_API int axpacketClientRegisterFieldIpv6(uint32_t mid, const char *regName, uint32_t fieldType,
                                           const IPV6_ADDR_T *value, const IPV6_ADDR_T *mask);
PC_API int axpacketClientRegisterUdf(uint32_t mid, const char *regName, uint32_t mode, uint32_t offset,
                                     uint32_t value, uint32_t mask);
PC_API int axpacketClientRegisterEnable(uint32_t mid, const char *regName, int enable);
PC_API int axpacketClientRegisterQoS(uint32_t mid, const char *regName, uint32_t mode, uint32_t speed);

/* Sends the frame of `pkt` through the core (axPacketSend there); 0 or -1. */
PC_API int axpacketClientSend(const AX_PACKET_T *pkt);

/* The MID_AXPACKET handler (installed by axpacketClientInit). */
struct axmsg_s;
PC_API int axpacketClientHandle(struct axmsg_s *msg);

PC_END_DECLS

#endif
