/*
 * The configuration registry and the running configuration.
 *
 * The running configuration is not stored: it is generated on demand by
 * asking every feature module to print its own commands. Modules register a
 * printer (and optionally a port deletion handler) under a name and a
 * priority; the core keeps two lists ordered by priority (lower first, equal
 * priorities in registration order). Printers of the core process are
 * called directly; those of other processes are registered through the RPC
 * function "axconfigManageGetCfgReg" and asked through
 * "axconfigManageGetCfg" in their own process (the serving side lives in
 * the application-process client, axconfig_client.h).
 *
 * Walks. The ordinary walk prints section after section (pre, vlan,
 * global, port-channel, VLAN and loopback interfaces, Ethernet interfaces,
 * other) to a CLI session or a file; the buffer walk asks every printer
 * once for all its sections, collects the text per section and interface
 * and writes the whole configuration into a caller's buffer. A walk works
 * on a copy of the registry taken under the registry lock, so a remote
 * printer may register or unregister while a walk waits for it.
 *
 * The start-up configuration file AXCONFIG_CFG_FILE_PATH holds one command
 * per line; at most AXCONFIG_MAX_LEN bytes of it are read.
 */
#ifndef PLATFORM_CORE_AXCONFIG_H
#define PLATFORM_CORE_AXCONFIG_H

#include <stdint.h>

#include "platform_core/api.h"
#include "platform_core/axrpc.h"
#include "platform_core/types.h"

PC_BEGIN_DECLS

#define AXCFG_REG_FUNC_NAME_LEN 31

#define AXCONFIG_CFG_FILE_PATH "/axbase/usrapp/conf/config.ax"
#define AXCONFIG_MAX_LEN 0x180000u /* bytes of configuration read or produced */

/* Section types, the first argument of a printer. */
enum axcfg_type {
    AXCFG_TYPE_PRE = 0,
    AXCFG_TYPE_GLOBAL = 1,
    AXCFG_TYPE_VLAN = 2,
    AXCFG_TYPE_PORT_CHANNEL = 3,
    AXCFG_TYPE_INTF_VLAN = 4,
    AXCFG_TYPE_LOOPBACK = 5,
    AXCFG_TYPE_ETHERNET = 6,
    AXCFG_TYPE_OTHER = 7,
    AXCFG_TYPE_ALL = 8, /* over RPC only: every section at once (buffer walk) */
};

/* Output kinds of an output environment. */
#define AXCFG_OUTPUT_NONE 0
#define AXCFG_OUTPUT_CLI 1
#define AXCFG_OUTPUT_BUFFER 2
#define AXCFG_OUTPUT_FILE 3

/* Section argument: port-channel number, VLAN id, loopback id or UP. */
typedef uint32_t AXCFG_REG_ARG_T;

typedef struct AXCFG_OUT_ENV_S {
    int32_t output;       /* AXCFG_OUTPUT_* */
    char *buffer;         /* buffer output: the caller's buffer */
    uint32_t bufferLen;   /* its size */
    uint32_t bufferSeek;  /* bytes used */
    const char *fileName; /* file output: the target file */
    void *printEnv;       /* CLI output: the session (AXIMI_CTX_T *) */
    int32_t indent;       /* set while a registrant's printer runs */
    int32_t cliRet;       /* result of the last CLI print; non-zero stops the walk */
} AXCFG_OUT_ENV_T;

/* Writes one line (without line end). */
typedef int (*AXCFG_OUTPUT_FUNC)(AXCFG_OUT_ENV_T *outEnv, const char *text);
/* A printer: prints the lines of section `type` for `arg` through `output`. */
typedef int (*AXCFG_GET_CFG_FUNC)(int type, AXCFG_REG_ARG_T *arg, AXCFG_OUT_ENV_T *outEnv,
                                  AXCFG_OUTPUT_FUNC output);
/* A port deletion handler. */
typedef int (*AXCFG_DEL_PORT_FUNC)(unit_list *delUnits, up_list *delList);

/* RPC functions and their parameter names. */
#define AXCFG_RPC_REG "axconfigManageGetCfgReg"
#define AXCFG_RPC_UNREG "axconfigManageGetCfgUnReg"
#define AXCFG_RPC_RUNNING "getRunningCfg"
#define AXCFG_RPC_GET_CFG "axconfigManageGetCfg"
#define AXCFG_RPC_DEL_PORT "axconfigManageDelPort"
#define AXCFG_PARA_REG_NAME "axcfg_regName"
#define AXCFG_PARA_PRIORITY "axcfg_priority"
#define AXCFG_PARA_DST_PID "axcfg_dstPid"
#define AXCFG_PARA_DELPORT "axcfg_delport"
#define AXCFG_PARA_DELUNIT "axcfg_delunit"
#define AXCFG_PARA_RET "axcfg_ret"
#define AXCFG_PARA_TYPE "axcfg_type"
#define AXCFG_PARA_OUTPUT "axcfg_output"
#define AXCFG_PARA_OUTPUT_LEN "axcfg_output_len"
#define AXCFG_PARA_FLAG "axcfg_flag"
#define AXCFG_PARA_ARG "axcfg_arg"
#define AXCFG_PARA_PRIVATE "axcfg_private"
#define AXCFG_PARA_CLIENT_PID "axcfg_clientPid" /* CLI output: the UI process */
#define AXCFG_PARA_FILENAME "axcfg_filename"
#define AXCFG_PARA_OUT_BUFFER "axcfg_outbutbuffer"
#define AXCFG_PARA_CLI_RET "axcfg_cliRet"
#define AXCFG_PARA_BUF_PRE "axcfg_buf_pre"
#define AXCFG_PARA_BUF_VLAN "axcfg_buf_vlan"
#define AXCFG_PARA_BUF_GLOBAL "axcfg_buf_global"
#define AXCFG_PARA_BUF_ETHERNET "axcfg_buf_ethernet"
#define AXCFG_PARA_BUF_INTF_VLAN "axcfg_buf_interface_vlan"
#define AXCFG_PARA_BUF_LOOPBACK "axcfg_buf_loopback"
#define AXCFG_PARA_BUF_OTHER "axcfg_buf_other"
#define AXCFG_PARA_MAXLEN "maxlen"
#define AXCFG_PARA_RUNCFG "runcfg"
#define AXCFG_PARA_RUN_RET "ret"

/* The output functions of each output kind (one line of text each). */
PC_API int axcfgOutputNone(AXCFG_OUT_ENV_T *outEnv, const char *text);
PC_API int axcfgOutputCli(AXCFG_OUT_ENV_T *outEnv, const char *text);
PC_API int axcfgOutputFile(AXCFG_OUT_ENV_T *outEnv, const char *text);
PC_API int axcfgOutputBuffer(AXCFG_OUT_ENV_T *outEnv, const char *text);
PC_API int axcfgOutputBufferLine(AXCFG_OUT_ENV_T *outEnv, const char *text);
PC_API int axcfgOutputBufferMerge(AXCFG_OUT_ENV_T *outEnv, const char *text);
/* The output function of outEnv->output (axcfgOutputNone for unknown kinds). */
PC_API AXCFG_OUTPUT_FUNC axcfgOutputFor(int output);

/* Runs one printer over every section the walks know (pre, global, other,
 * vlan, each valid port or port channel, each present VLAN interface and
 * loopback), writing each section's lines into `scratch` (cleared before
 * each call) and handing the text to `sink` with the section type and its
 * index (inner port index, VLAN id, loopback id; 0 for the plain sections).
 * A sink that answers non-zero stops the run. Returns 0 or the sink's
 * answer. */
typedef int (*AXCFG_SECTION_SINK)(void *cookie, int type, uint32_t index, const char *text, uint32_t len);
PC_API int axconfigCollectSections(AXCFG_GET_CFG_FUNC printer, char *scratch, uint32_t scratchLen,
                                   AXCFG_SECTION_SINK sink, void *cookie);

/* Start-up and registry. */
PC_API int axConfigInit(void);
PC_API int axConfigLibInit(void);
PC_API int axConfigLibDeInit(void);
PC_API int axConfigRegister(const char *regName, AXCFG_GET_CFG_FUNC getCfgFunc,
                            AXCFG_DEL_PORT_FUNC delPortFunc, int priority);
PC_API int axConfigUnRegister(const char *regName);

/* Running configuration. */
PC_API int axconfigGetAllConfig(AXCFG_OUT_ENV_T *outEnv);
PC_API int axConfigGetConfig(unsigned bufLen, char *buf, unsigned *len);
struct AXIMI_CTX_S;
PC_API int imi_cli_axConfigShowRunCfg(struct AXIMI_CTX_S *printEnv, AXRPC_PARA_T *args, AXRPC_PARA_T *out);
PC_API int axConfigDelPort(unit_list *delUnits, up_list *delList);

/* Start-up file. */
PC_API int axConfigIsConfigExist(void);
PC_API int axconfigGetConfigFromFile(const char *path, char **data, unsigned *len);
PC_API int axconfigSaveConfig(const char *path, const char *buf, unsigned len);
PC_API int axConfigLoadConfig(const char *buf, unsigned len);
PC_API int axConfigReloadStartupConfig(void);
PC_API int axConfigGetCommand(const char *prefix, int len, char *out);
PC_API int axConfigReplaceCommand(const char *prefix, const char *replCommand);

/* Served RPC functions (registered by axConfigInit). */
PC_API int axconfigManageGetCfgReg(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara);
PC_API int axconfigManageGetCfgUnReg(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara);
PC_API int getRunningCfg(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara);

PC_END_DECLS

#endif
