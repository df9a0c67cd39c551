/*
 * Interfaces of the sibling platform libraries of the firmware that this
 * library calls. They are not part of libplatform_core: on the switch the
 * firmware's own libraries provide them, on a development machine the
 * simulated switch (libplatform_sim) does. Only what the library relies on
 * is fixed here.
 */
#ifndef PLATFORM_CORE_SIBLING_H
#define PLATFORM_CORE_SIBLING_H

#include "platform_core/api.h"
#include "platform_core/types.h"

PC_BEGIN_DECLS

/* Platform process identifier of the calling process, 0 when it has none. */
PC_API int pidGetCurrent(void);
/* Printable names of a process and a module identifier; never null. */
PC_API const char *pidNameGet(int pid);
PC_API const char *midNameGet(int mid);
/* Non-zero once the switch has finished its start-up. */
PC_API int isSwitchInited(void);
/* Initial level of every debug switch. */
PC_API signed char getDefaultDbgSwitch(void);
/* Web library: one more step of the firmware upgrade progress page. */
PC_API void httpUpgradeIncreaseProcess(void);

/* Notification event types (fixed with notify_type_init) and
 * their argument blocks (native byte order, as every message between the
 * processes of one switch).
 * NOTIFY_TYPE_PORT_LINK: the link of a front-panel port went up or down;
 * the core raises it, a feature process subscribes with notify_reg. */
#define NOTIFY_TYPE_PORT_LINK 1
typedef struct notify_port_link_s {
    uint32_t up;   /* the port (UP) */
    uint32_t link; /* 1 up, 0 down */
} notify_port_link_t;

/* Switch MAC address (6 bytes); 0 on success. */
PC_API int getMacAddress(uint8_t *mac);
/* Administrative state of a port: enable non-zero brings it up; 0 on success. */
PC_API int adPortStateSet(UP up, int enable);
/* MAC-based VLAN of an untagged frame from `mac` received on `port`; 0 and
 * *vid when an entry exists. */
PC_API int swVlanMacGetVid(UP port, const uint8_t *mac, uint16_t *vid);
/* Member ports of LAG `lagId`; 0 on success. */
PC_API int swChannelGroupGetMember(uint32_t lagId, up_list *members);
/* 0 when `ip` (host byte order) is the address of one of the switch's
 * interfaces, non-zero otherwise. */
PC_API int swNetIfConfigGetByIntfIp(uint32_t ip);

/* CLI library: the message a CLI session shows for a feature's error code
 * (for example 5801, the flood defence's full range table); never null. */
PC_API const char *cliUso_error(int errCode);

/* Web library: pieces of the answer page of the current request, each
 * written through `out` (printf-like) with `ctx`: the status, the header,
 * the message of a feature's error code (nothing for 0 and -1) as script
 * text, the page head and a page of the web file system. */
typedef int (*HTTPUSO_OUT_FN)(void *ctx, const char *fmt, ...);
PC_API int httpUso_StatusSet(HTTPUSO_OUT_FN out, void *ctx, int status);
PC_API int httpUso_HeaderGenerate(HTTPUSO_OUT_FN out, void *ctx);
PC_API int httpUso_error(HTTPUSO_OUT_FN out, void *ctx, int errCode);
PC_API int httpUso_WebV4Head(HTTPUSO_OUT_FN out, void *ctx, int kind, int flags);
PC_API int httpUso_PageFsA(HTTPUSO_OUT_FN out, void *ctx, const char *page);

/* Optional interrupt-context query of the interrupt layer (weak). */
int intr_int_context(int a0, int a1, int a2, int a3) __attribute__((weak));

PC_END_DECLS

#endif
