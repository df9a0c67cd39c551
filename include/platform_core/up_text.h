/*
 * Port list text syntax.
 *
 * Users, configuration files and the web pages name ports as text: an
 * interface prefix (long "gigabitEthernet", short "Gi", or none) followed by
 * unit/slot/port, with ranges and comma-separated lists, or a port-channel
 * prefix ("port-channel", "Po" or "lag") followed by LAG ids:
 *
 *   Gi1/0/1-4,1/0/8,Te1/0/25   gigabitEthernet 1/0/5   Po2-1   1/0/5
 *
 * Prefixes match without regard to case; numbers are decimal without
 * leading zeros; no blank is allowed around "," or "-". Port ranges come
 * from the unit property record (up_propt.h). The parsers never read past
 * the terminating NUL of their text.
 *
 * While a command line is typed, the front end installs three hooks
 * (upStrCliParaSet) and passes its environment in the options; the parsers
 * then offer completion help through them.
 */
#ifndef PLATFORM_CORE_UP_TEXT_H
#define PLATFORM_CORE_UP_TEXT_H

#include <stdint.h>

#include "platform_core/api.h"
#include "platform_core/types.h"

PC_BEGIN_DECLS

#define UP_STR_TYPE_NONE 0  /* 1/0/5 */
#define UP_STR_TYPE_SHORT 1 /* Gi1/0/5 */
#define UP_STR_TYPE_LONG 2  /* gigabitEthernet 1/0/5 */
#define UP_STR_TYPE_IS_LEGAL(type) ((type) < 3)

/* Room for the text of one UP (usUp2Str), NUL included. */
#define UP_STR_LEN 32
/* Room for one piece of usUplist2Str without a length limit, NUL included. */
#define UP_LIST_STR_LEN 200

/* usUplist2Str control flags. */
#define UP_STR_CTRL_UNIT 0x1       /* only ctrl->unit */
#define UP_STR_CTRL_INTF 0x2       /* only ctrl->intf_type */
#define UP_STR_CTRL_LIMIT 0x4      /* ctrl->len_limit bounds the text (at least 30) */
#define UP_STR_CTRL_SINGLE 0x8     /* every port on its own */
#define UP_STR_CTRL_NO_LAG 0x10    /* leave LAGs out */
#define UP_STR_CTRL_LAG_SHORT 0x20 /* LAGs with "Po" when the string type is 0 */

typedef struct up_str_option {
    uint32_t no_unit_validate; /* non-zero: the unit need not be valid */
    void *cli_env;             /* non-null while a command line is typed */
} up_str_option_t;

typedef struct up_str_ctrl {
    uint32_t flags;          /* UP_STR_CTRL_* */
    uint32_t done;           /* out: 1 when the whole list was written */
    int32_t resume_index;    /* in/out: inner index to continue from; 0 to start */
    uint32_t str_type;       /* UP_STR_TYPE_* */
    uint32_t unit;           /* filter of UP_STR_CTRL_UNIT */
    uint32_t intf_type;      /* filter of UP_STR_CTRL_INTF */
    int32_t len_limit;       /* size of the text buffer under UP_STR_CTRL_LIMIT */
    uint32_t last_intf_type; /* in/out: interface type of the last piece written */
} up_str_ctrl_t;

typedef void (*up_str_help_fn)(void *env, const char *text, const char *desc);
typedef void (*up_str_line_fn)(void *env, const char *text);
typedef int (*up_str_may_end_fn)(void *env);

/* `it` is the interface type of a first element without prefix, or -1. */
PC_API int usStr2Up(int it, const char *rawstr, UP *up, const up_str_option_t *opt);
PC_API int usStr2UpList(int it, const char *rawstr, up_list *uplist, const up_str_option_t *opt);
/* `str` holds at least UP_STR_LEN bytes. */
PC_API int usUp2Str(UP up, char *str, uint32_t type);
/* `buf` holds ctrl->len_limit bytes under UP_STR_CTRL_LIMIT, else UP_LIST_STR_LEN. */
PC_API int usUplist2Str(up_list l, char *buf, up_str_ctrl_t *ctrl);
PC_API int usStr2UnitList(const char *string, unit_list *l);
/* `str` holds at least 2 bytes. */
PC_API int usUnitlist2Str(unit_list l, char *str);
PC_API void cliPortPromptPrint(void *env, const char *text, const char *desc);
PC_API int upStrCliParaSet(up_str_help_fn help, up_str_line_fn line, up_str_may_end_fn may_end);
PC_API int upStrShmGet(void);

PC_END_DECLS

#endif
