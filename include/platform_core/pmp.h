/*
 * Port mapping between UP values and chip ports.
 *
 * The switch chip numbers its ports by chip unit and chip port. The port
 * map database (built by adPmpInit from the platform's device table, one
 * table of UP_UNIT_PORT_MAX entries per device type, indexed by base
 * offset = slot base offset + port) translates between the two, converts
 * port lists to and from the chip's 64-bit logical port lists (bit n =
 * chip port n of the local chip), and gives the module id / module port
 * pair the chip SDK uses (module id 2 is chip unit 0 of unit 1).
 *
 * The database lives in each process that calls adPmpInit; it is written
 * there once and only read afterwards, without a lock.
 */
#ifndef PLATFORM_CORE_PMP_H
#define PLATFORM_CORE_PMP_H

#include <stdint.h>

#include "platform_core/api.h"
#include "platform_core/types.h"

PC_BEGIN_DECLS

#define PMP_LPORT_WORDS 2
#define PMP_LPORT_MAX 64

typedef struct pmp_entry {
    int8_t slot;  /* slot kind of the descriptor */
    uint8_t port; /* port number within the slot */
    int8_t chip_unit;
    int8_t chip_port;
} pmp_entry_t;

typedef struct lport_list {
    uint32_t bits[PMP_LPORT_WORDS];
} lport_list_t;

PC_API int adPmpInit(void);
PC_API int adPmpBaseOffset2Chip(uint32_t type, int baseOffset, int *chipUnit, int *chipPort);
PC_API int adPmpChip2BaseOffset(uint32_t type, int chipUnit, int chipPort, int *baseOffset);
PC_API int adPmpUp2Bp(UP up, int *chipUnit, int *chipPort);
PC_API int adPmpUp2Modid(UP up, int *modid);
PC_API int adPmpUp2Modport(UP up, int *modid, int *modport);
PC_API int adPmpModport2Up(int modid, int modport, UP *up);
PC_API int adPmpBu2Modid(int chipUnit, int *modid);
PC_API int adPmpModid2Bu(int modid, int *chipUnit);
PC_API int adPmpGetCpuInUp(uint32_t unit, UP *cpuUp);
PC_API int adPmpBp2Up_intern(int chipUnit, int chipPort, UP *up, const char *func, int line);
#define adPmpBp2Up(chipUnit, chipPort, up) adPmpBp2Up_intern((chipUnit), (chipPort), (up), __func__, __LINE__)
/* Neither list is cleared first: ports are added to what is there. */
PC_API int adPmpUportListToLportList(const up_list *uplist, lport_list_t *lplist);
PC_API int adPmpLportListToUportList(const lport_list_t *lplist, up_list *uplist);
PC_API int adPmpLportListInterSect(const lport_list_t *iLplist1, const lport_list_t *iLplist2,
                                   lport_list_t *oLplist);
PC_API int adPmpLportListSub(const lport_list_t *iLplist1, const lport_list_t *iLplist2,
                             lport_list_t *oLplist);
PC_API int adPmpLportListSum(const lport_list_t *iLplist1, const lport_list_t *iLplist2,
                             lport_list_t *oLplist);
/* Not supported on this chip: they log and return 0. */
PC_API int adPmpLportListToPbmp(void);
PC_API int adPmpLportToUport(void);
PC_API int adPmpUportToLport(void);
PC_API void adPmpDumpDb(void);

PC_END_DECLS

#endif
