/*
 * The sibling classifier library and the port rate settings that the CPU
 * traffic-control adapter calls. They are not part of libplatform_core: on
 * the switch the firmware's own libraries provide them, on a development
 * machine the simulated switch (libplatform_sim) does. Only what the
 * adapter relies on is fixed here.
 *
 * The classifier hands out rule positions (through the position hooks of
 * the appintf table, and by application area), maps a position to its
 * physical ACL entry (one entry, or two consecutive ones for a double
 * rule), binds physical entries to templates and owns one meter per
 * position.
 */
#ifndef PLATFORM_CORE_CLASSIFIER_H
#define PLATFORM_CORE_CLASSIFIER_H

#include <stdint.h>

#include "platform_core/api.h"

PC_BEGIN_DECLS

/* Application areas of adPktCtlEntryGetAppBackward. */
#define AXCL_APP_ROUTE 14
#define AXCL_APP_NET6 20

/* Physical index of `pos` and whether it is a double rule (two entries). */
PC_API int adAxclEntryPosToPhisical(uint32_t pos, uint32_t *phyIdx, uint32_t *isDouble);
/* Clears the rule's entries (fields, action, meter, valid flag); the
 * position stays allocated. */
PC_API int adAxclEntryDelete(uint32_t pos);
/* Index of the rule's meter (type 0) or counter (type 1). */
PC_API int adAxclGetMeterOrCounterIndex(uint32_t pos, uint32_t type, uint32_t *index);
/* Programs the rule's meter: `rate` and `burst` in the chip's meter units. */
PC_API int adAxclSpeedLimitSet(uint32_t pos, uint32_t rate, uint32_t burst, uint32_t enable);
/* Binds physical entry `index` to template `block` through `selector`. */
PC_API int mapEntryToTemplate(uint32_t unit, uint32_t selector, uint32_t block, uint32_t index);
/* A position from the end of application area `app`. */
PC_API int adPktCtlEntryGetAppBackward(uint32_t app, uint32_t *pos);

/* CPU port rate settings. */
PC_API int adPortCpuEgressRateSet(uint32_t rate);
PC_API uint32_t qosGetCpuRateLimit(void);

PC_END_DECLS

#endif
