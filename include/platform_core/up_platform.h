/*
 * Platform interfaces of the unit and port model, provided by the sibling
 * libraries of the firmware (on a development machine, by the simulated
 * switch): the table of supported devices, the device type of this
 * hardware, the legal stack unit numbers and the number of LAGs.
 *
 * A device record is 1264 bytes: the device's name, its stacking family at
 * byte 32, product data the unit and port model does not read, and from
 * byte 164 on 55 port descriptors of 20 bytes. A descriptor's slot kind is
 * 0 for slot 0 (the first descriptor of slot 0 is the CPU position), 1 for
 * the sub-slot of slot 1 and 2 for a second sub-slot block; its property
 * row selects the port's property word (row 0: no port; row 1: a position
 * that is no front-panel port, such as the CPU).
 */
#ifndef PLATFORM_CORE_UP_PLATFORM_H
#define PLATFORM_CORE_UP_PLATFORM_H

#include <stdint.h>

#include "platform_core/api.h"

PC_BEGIN_DECLS

#define DEV_TYPE_NUM 42 /* device types 1..41; row 0 describes none */
#define DEV_TYPE_IS_LEGAL(type) ((type) < DEV_TYPE_NUM)
#define DEV_TYPE_IS_VALID(type) ((type) >= 1 && (type) < DEV_TYPE_NUM)
#define DEV_PORT_DESC_NUM 55
#define DEV_NAME_LEN 32

#define DEV_SLOT_KIND_0 0
#define DEV_SLOT_KIND_1 1
#define DEV_SLOT_KIND_2 2

typedef struct dev_port_desc {
    uint32_t slot_kind; /* DEV_SLOT_KIND_* */
    uint32_t chip_unit;
    uint32_t chip_port;
    uint32_t propt_row; /* row of the port property words */
    uint32_t reserved;
} dev_port_desc_t;

typedef struct dev_def {
    char name[DEV_NAME_LEN];
    uint32_t stack_family;
    uint8_t product[128];
    dev_port_desc_t ports[DEV_PORT_DESC_NUM];
} dev_def_t;

PC_API extern const dev_def_t platformSupportDev[DEV_TYPE_NUM];
/* Device type of this hardware, 1..41. */
PC_API int getDevType(void);
PC_API int getUnitIDMin(void);
PC_API int getUnitIDMax(void);
PC_API int unitIsLegal(int unit);
/* Number of LAGs (port-channels) the switch offers. */
PC_API int getChannelGroupNumber(void);

PC_END_DECLS

#endif
