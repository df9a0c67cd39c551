// The buffer walk: every printer is asked once for all its sections; the
// text is collected per section and per interface and then written, in the
// order of the running configuration, into the caller's buffer with the
// merging output (the last line that does not fit is cut, later ones are
// dropped).
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "mgmt/axconfig_sections.h"
#include "mgmt/axconfig_state.h"
#include "mgmt/mgmt_para.h"
#include "mgmt/mgmt_stack_view.h"
#include "platform_core/pal.h"

namespace pc::mgmt::cfg {

namespace {

constexpr uint32_t kStep = 10000;  // collection buffers grow in steps of this many bytes

// One collection buffer: accounted memory, allocated on first use and grown
// in steps of kStep bytes.
class Collected {
public:
    Collected() = default;
    ~Collected() { pal_free(data_); }
    Collected(const Collected &) = delete;
    Collected &operator=(const Collected &) = delete;

    bool append(const char *text, uint32_t n) {
        if (n == 0) return true;
        if (data_ == nullptr || size_ % kStep + n > kStep || size_ + n + 1 > capacity_) {
            uint32_t want = ((size_ + n) / kStep + 1) * kStep;
            if (want <= capacity_) want = capacity_ + kStep;
            auto *grown = static_cast<char *>(pal_realloc(data_, want, kTag));
            if (grown == nullptr) return false;
            data_ = grown;
            capacity_ = want;
        }
        std::memcpy(data_ + size_, text, n);
        size_ += n;
        data_[size_] = '\0';
        return true;
    }
    bool empty() const { return size_ == 0; }
    // The text without its final line feed (the merging output adds it).
    std::string_view lines() const {
        std::string_view text(data_ != nullptr ? data_ : "", size_);
        if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
        return text;
    }

private:
    char *data_ = nullptr;   // owned
    uint32_t size_ = 0;      // bytes of text
    uint32_t capacity_ = 0;  // bytes allocated
};

class BufferWalk {
public:
    explicit BufferWalk(AXCFG_OUT_ENV_T *env)
        : env_(env),
          loopbackCount_(loopback_count()),
          ports_(kPortSlots),
          vlans_(kVlanMax + 1),
          loopbacks_(loopbackCount_ + 1) {}

    int run() {
        for (const RegNode &node : registry_snapshot(Registry::GetCfg)) {
            if (full_) break;
            int rc = node.pid == PID_CORE ? collect_local(node) : collect_remote(node);
            if (rc < 0) return -1;  // out of memory: everything is freed on return
        }
        write_out();
        return 0;
    }

private:
    Collected *target(int type, uint32_t index) {
        switch (type) {
            case AXCFG_TYPE_PRE:
                return &pre_;
            case AXCFG_TYPE_GLOBAL:
                return &global_;
            case AXCFG_TYPE_VLAN:
                return &vlan_;
            case AXCFG_TYPE_OTHER:
                return &other_;
            case AXCFG_TYPE_PORT_CHANNEL:
            case AXCFG_TYPE_ETHERNET:
                return index < ports_.size() ? &ports_[index] : nullptr;
            case AXCFG_TYPE_INTF_VLAN:
                return index < vlans_.size() ? &vlans_[index] : nullptr;
            case AXCFG_TYPE_LOOPBACK:
                return index < loopbacks_.size() ? &loopbacks_[index] : nullptr;
            default:
                return nullptr;
        }
    }

    // 0 to go on, 1 once the limit is reached, -1 without memory.
    int add(int type, uint32_t index, const char *text, uint32_t len) {
        if (full_) return 1;
        Collected *to = target(type, index);
        if (to == nullptr || len == 0) return 0;
        if (!to->append(text, len)) return -1;
        total_ += len;
        if (total_ > kMaxLen) full_ = true;
        return full_ ? 1 : 0;
    }

    static int sink(void *cookie, int type, uint32_t index, const char *text, uint32_t len) {
        return static_cast<BufferWalk *>(cookie)->add(type, index, text, len);
    }

    int collect_local(const RegNode &node) {
        if (node.function == nullptr) return 0;
        int rc = axconfigCollectSections(reinterpret_cast<AXCFG_GET_CFG_FUNC>(node.function), env_->buffer,
                                         env_->bufferLen, sink, this);
        return rc < 0 ? -1 : 0;
    }

    int add_text(const AXRPC_PARA_T *reply, const char *name, int type) {
        const char *text = para_text(reply, name);
        return text != nullptr ? add(type, 0, text, static_cast<uint32_t>(std::strlen(text))) : 0;
    }

    int add_entries(const AXRPC_PARA_T *reply, const char *name, int type, uint32_t limit) {
        const char *data = nullptr;
        size_t len = 0;
        if (!para_bytes(reply, name, &data, &len)) return 0;
        int rc = 0;
        decode_entries(data, len, limit, [&](uint32_t index, std::string_view text) {
            if (rc == 0) rc = add(type, index, text.data(), static_cast<uint32_t>(text.size()));
        });
        return rc;
    }

    int collect_remote(const RegNode &node) {
        AXRPC_PARA_T in;
        AXRPC_PARA_GROUP_T reply;
        axrpcParaInit(&in);
        axrpcParaGroupInit(&reply);
        AXCFG_REG_ARG_T arg = 0;
        int rc = axrpcAddStringPtr(&in, AXCFG_PARA_REG_NAME, node.regFuncName);
        rc |= axrpcAddInt(&in, AXCFG_PARA_TYPE, AXCFG_TYPE_ALL);
        rc |= axrpcAddInt(&in, AXCFG_PARA_OUTPUT, AXCFG_OUTPUT_BUFFER);
        rc |= axrpcAddInt(&in, AXCFG_PARA_OUTPUT_LEN, static_cast<int>(env_->bufferLen));
        rc |= axrpcAddFlag(&in, AXCFG_PARA_FLAG, 1);
        rc |= axrpcAddData(&in, AXCFG_PARA_ARG, AXRPC_PARA_TYPE_DATA, &arg, static_cast<int>(sizeof arg));
        int result = 0;
        if (rc != 0 || axrpcCallFunctionSync(current_unit_bits(), node.pid, AXCFG_RPC_GET_CFG, &in,
                                             kRemoteWaitS, 0, &reply) != 0) {
            PFM_ERR(kMid, "rcp call error\n");
        } else if (reply.isUsed) {
            const AXRPC_PARA_T *r = &reply.paraSet;
            const struct {
                const char *name;
                int type;
            } kPlain[] = {{AXCFG_PARA_BUF_PRE, AXCFG_TYPE_PRE},
                          {AXCFG_PARA_BUF_VLAN, AXCFG_TYPE_VLAN},
                          {AXCFG_PARA_BUF_GLOBAL, AXCFG_TYPE_GLOBAL},
                          {AXCFG_PARA_BUF_OTHER, AXCFG_TYPE_OTHER}};
            for (const auto &p : kPlain)
                if (result >= 0) result = add_text(r, p.name, p.type);
            if (result >= 0)
                result = add_entries(r, AXCFG_PARA_BUF_ETHERNET, AXCFG_TYPE_ETHERNET, kPortSlots);
            if (result >= 0)
                result = add_entries(r, AXCFG_PARA_BUF_INTF_VLAN, AXCFG_TYPE_INTF_VLAN,
                                     static_cast<uint32_t>(vlans_.size()));
            if (result >= 0)
                result = add_entries(r, AXCFG_PARA_BUF_LOOPBACK, AXCFG_TYPE_LOOPBACK,
                                     static_cast<uint32_t>(loopbacks_.size()));
        }
        axrpcParaFree(&in);
        axrpcParaGroupFree(&reply);
        return result < 0 ? -1 : 0;
    }

    void put(const char *text) { axcfgOutputBufferMerge(env_, text); }
    void put(std::string_view text) {
        if (text.empty()) return;
        std::string line(text);  // the merging output takes a terminated text
        put(line.c_str());
    }
    template <typename... Args>
    void putf(const char *format, Args... args) {
        char line[128];
        std::snprintf(line, sizeof line, format, args...);
        put(line);
    }

    void write_out() {
        std::memset(env_->buffer, 0, env_->bufferLen);
        env_->bufferSeek = 0;
        env_->indent = 0;
        putf("!%s", master_description());
        put("#");
        for (const Collected *section : {&pre_, &vlan_, &global_}) {
            put(section->lines());
            put("#");
        }
        for (uint32_t index = kPortChannelFirst; index < kPortSlots; ++index) {
            UP up = valid_up_at(index);
            if (up == 0 || !UP_IS_LAG(up)) continue;
            putf("interface port-channel %u", UP_LAG_ID(up));
            put(ports_[index].lines());
            put("#");
        }
        for (uint32_t vid = 1; vid <= kVlanMax; ++vid) {
            if (vlans_[vid].empty() || !interface_present(vid, kIntfKindVlan)) continue;
            putf("interface vlan %u", vid);
            put(vlans_[vid].lines());
            put("#");
        }
        for (uint32_t id = 1; id <= loopbackCount_; ++id) {
            if (loopbacks_[id].empty() || !interface_present(id, kIntfKindLoopback)) continue;
            putf("interface loopback %u", id);
            put(loopbacks_[id].lines());
            put("#");
        }
        for (uint32_t index = 0; index < kEthernetIndexEnd; ++index) {
            UP up = 0;
            char name[UP_STR_LEN] = {};
            if (!named_port_at(index, &up, name)) continue;
            putf("interface %s", name);
            put(ports_[index].lines());
            put("#");
        }
        put(other_.lines());
        put("#");
    }

    AXCFG_OUT_ENV_T *env_;
    uint32_t loopbackCount_;
    Collected pre_, global_, vlan_, other_;
    std::vector<Collected> ports_;      // by inner index
    std::vector<Collected> vlans_;      // by VLAN id
    std::vector<Collected> loopbacks_;  // by loopback id
    uint32_t total_ = 0;                // bytes collected
    bool full_ = false;                 // the limit was passed: nothing more is collected
};

}  // namespace

int buffer_walk(AXCFG_OUT_ENV_T *env) {
    if (!registry_ready() || env->output != AXCFG_OUTPUT_BUFFER || env->buffer == nullptr ||
        env->bufferLen == 0) {
        PFM_ENSURE_FAILED(kMid, "NULL != lAxcfgGetCfgFuncRegList && AXCFG_OUTPUT_BUFFER == outEnv->output");
        return -1;
    }
    return BufferWalk(env).run();
}

}  // namespace pc::mgmt::cfg

using namespace pc::mgmt::cfg;

extern "C" {

PC_API int axConfigGetConfig(unsigned bufLen, char *cfgBuf, unsigned *cfgLen) {
    PFM_ENSURE_RET(kMid, (NULL != cfgBuf) && (NULL != cfgLen), -1);
    AXCFG_OUT_ENV_T env{};
    env.output = AXCFG_OUTPUT_BUFFER;
    env.buffer = cfgBuf;
    env.bufferLen = bufLen;
    int rc = buffer_walk(&env);
    *cfgLen = rc == 0 ? env.bufferSeek : 0;
    return rc;
}

PC_API int getRunningCfg(AXRPC_PARA_T *inPara, AXRPC_PARA_T *outPara) {
    int maxlen = 0;
    if (axrpcGetInt(inPara, AXCFG_PARA_MAXLEN, &maxlen) != 0 || maxlen <= 0) {
        PFM_ENSURE_FAILED(kMid, "0 < maxlen");
        return -1;
    }
    const uint32_t size = std::min(static_cast<uint32_t>(maxlen), kMaxLen);
    auto *buf = static_cast<char *>(pal_alloc(size, kTag));
    if (buf == nullptr) {
        PFM_ERR(kMid, "Malloc error\n");
        return -1;
    }
    unsigned len = 0;
    if (axConfigGetConfig(size, buf, &len) != 0 ||
        axrpcAddDataPtr(outPara, AXCFG_PARA_RUNCFG, buf, static_cast<int>(size), pal_free) != 0) {
        pal_free(buf);
        return -1;
    }
    axrpcAddInt(outPara, AXCFG_PARA_RUN_RET, 0);
    return 0;
}

}  // extern "C"
