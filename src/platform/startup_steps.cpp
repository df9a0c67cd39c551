// The start-up table. Each service adds its step here, in its place in the
// fixed order:
//   flashDrvLibInit, axshm_init, debugFlagInit, timer_init, mm_initation,
//   sysRebootInit, adPmpInit, up_core_init, adStackInit, stkfsmInit,
//   stkdbLoad, utp_initiation, axmsg_init(PID_CORE), axPacketInit,
//   utp_reg_axpacket, axrpcInit, axPacketRpcReg, sfSyncInit, stkUsoInit,
//   adStackStart, notify_init, axImiInit, httpSHMInit, axConfigInit,
//   axPktCtlInit.
#include "platform/startup_steps.h"

#include <array>

#include "platform_core/app.h"
#include "platform_core/axconfig.h"
#include "platform_core/axhttp.h"
#include "platform_core/aximi.h"
#include "platform_core/axmsg.h"
#include "platform_core/axpacket.h"
#include "platform_core/axrpc.h"
#include "platform_core/axshm.h"
#include "platform_core/flash.h"
#include "platform_core/notify.h"
#include "platform_core/pktctl.h"
#include "platform_core/platform.h"
#include "platform_core/pmp.h"
#include "platform_core/stack.h"
#include "platform_core/stack_cb.h"
#include "platform_core/timer.h"
#include "platform_core/up.h"
#include "platform_core/utp.h"

namespace pc::platform {

namespace {

constexpr std::array kSteps{
    StartupStep{"flashDrvLibInit()", [] { return flashDrvLibInit(); }},
    StartupStep{"axshm_init()", [] { return axshm_init(); }},
    StartupStep{"debugFlagInit()", [] { return debugFlagInit(); }},
    StartupStep{"timer_init()", [] { return timer_init(); }},
    StartupStep{"mm_initation()", [] { return mm_initation(); }},
    StartupStep{"sysRebootInit()", [] { return sysRebootInit(); }},
    StartupStep{"adPmpInit()", [] { return adPmpInit(); }},
    StartupStep{"up_core_init()", [] { return up_core_init(); }},
    StartupStep{"adStackInit()", [] { return adStackInit(); }},
    StartupStep{"stkfsmInit()", [] { return stkfsmInit(); }},
    StartupStep{"stkdbLoad()", [] { return stkdbLoad(); }},
    StartupStep{"utp_initiation()", [] { return utp_initiation(); }},
    StartupStep{"axmsg_init(PID_CORE)", [] { return axmsg_init(PID_CORE); }},
    StartupStep{"axPacketInit()", [] { return axPacketInit(); }},
    StartupStep{"utp_reg_axpacket()", [] { return utp_reg_axpacket(); }},
    StartupStep{"axrpcInit()", [] { return axrpcInit(); }},
    StartupStep{"axPacketRpcReg()", [] { return axPacketRpcReg(); }},
    StartupStep{"sfSyncInit()", [] { return sfSyncInit(); }},
    StartupStep{"stkUsoInit()", [] { return stkUsoInit(); }},
    StartupStep{"adStackStart()", [] { return adStackStart(); }},
    StartupStep{"notify_init()", [] { return notify_init(); }},
    StartupStep{"axImiInit()", [] { return axImiInit(); }},
    StartupStep{"httpSHMInit()", [] { return httpSHMInit(); }},
    StartupStep{"axConfigInit()", [] { return axConfigInit(); }},
    StartupStep{"axPktCtlInit()", [] { return axPktCtlInit(); }},
};

}  // namespace

std::span<const StartupStep> startup_steps() { return kSteps; }

}  // namespace pc::platform
