// The blocking read and write loops on a message stream.
#include <unistd.h>

#include "ipc/hub/axmsg_stream.h"
#include "platform_core/axmsg.h"
#include "platform_core/platform.h"

extern "C" {

PC_API int axmsg_blocking_write(int fd, const AXMSG_HEADER_T *header, const struct iovec *iov, int count) {
    if (fd < 0 || header == nullptr) return -1;
    if (pc::ipc::write_message(fd, *header, iov, count) != 0) {
        close(fd);
        return -1;
    }
    PFM_DBG(MID_AXMSG, "write data bytes: %d", static_cast<int>(header->data_len));
    return 0;
}

PC_API int axmsg_blocking_read(int fd, void *buf, uint32_t len) {
    if (fd < 0 || (buf == nullptr && len > 0)) return -1;
    if (pc::ipc::read_exact(fd, buf, len, -1) != 0) return -1;
    PFM_DBG(MID_AXMSG, "read data bytes: %d", static_cast<int>(len));
    return 0;
}

}  // extern "C"
