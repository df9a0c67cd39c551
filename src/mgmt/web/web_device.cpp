// The device page: identity and image from flash, uptime, memory
// accounting and the resource monitors' figures.
#ifdef PC_HAVE_JSONC

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <string>

#include "mgmt/web/web_json.h"
#include "mgmt/web/web_pages_internal.h"
#include "platform_core/diag.h"
#include "platform_core/gev.h"
#include "platform_core/pal.h"
#include "platform_core/profile.h"

namespace pc::mgmt::web {

namespace {

constexpr size_t kIdLen = 16;
constexpr const char *kImageVars[] = {"START_IMAGE", "BACKUP_IMAGE"};

std::atomic<int64_t> g_start_ms{0};

int64_t now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A fixed-size identity field as text: up to its first NUL, printable only.
std::string field_text(const unsigned char *field, size_t len) {
    std::string text;
    for (size_t i = 0; i < len && field[i] != 0 && field[i] != 0xFF; ++i)  // blank flash reads 0xFF
        text.push_back(std::isprint(field[i]) != 0 ? static_cast<char>(field[i]) : '?');
    return text;
}

void add_field(json_object *obj, const char *key, int (*get)(unsigned char *)) {
    unsigned char field[kIdLen] = {};
    jsonObjectAddString(obj, key, get(field) == 0 ? field_text(field, sizeof field).c_str() : "");
}

Json identity() {
    Json id(jsonObjectNewObject());
    add_field(id.get(), "productId", sysGetProductId);
    add_field(id.get(), "hardwareId", sysGetHwIdFromFlash);
    add_field(id.get(), "firmwareVersion", sysGetFirmwareVer);
    unsigned char fwId[kIdLen] = {};
    jsonObjectAddString(
        id.get(), "firmwareId",
        sysGetFirmwareId(fwId, sizeof fwId) == 0 ? field_text(fwId, sizeof fwId).c_str() : "");
    unsigned char mac[6] = {};
    char macText[18] = "";
    if (sysGetMacFromFlash(mac) == 0)
        std::snprintf(macText, sizeof macText, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                      mac[3], mac[4], mac[5]);
    jsonObjectAddString(id.get(), "mac", macText);
    return id;
}

Json images() {
    Json img(jsonObjectNewObject());
    for (const char *name : kImageVars) {
        char value[GEV_VALUE_LEN + 1] = {};
        jsonObjectAddString(img.get(), name, getEnvItem(name, value) == 0 ? value : "");
    }
    return img;
}

Json memory() {
    Json mem(jsonObjectNewObject());
    unsigned now = 0, max = 0;
    pal_alloc_resource_usage_get(&now, &max);
    add_u64(mem.get(), "allocNow", now);
    add_u64(mem.get(), "allocPeak", max);
    unsigned threads = 0, stack = 0, maxThreads = 0, maxStack = 0;
    pal_thread_resource_usage_get(&threads, &stack, &maxThreads, &maxStack);
    add_u64(mem.get(), "threads", threads);
    add_u64(mem.get(), "threadStackBytes", stack);
    pal_mutex_resource_usage_get(&now, &max);
    add_u64(mem.get(), "mutexes", now);
    pal_sem_resource_usage_get(&now, &max);
    add_u64(mem.get(), "semaphores", now);
    return mem;
}

// A monitor that is not running has no figure (null).
void add_figure(json_object *obj, const char *key, double value) {
    json_object_object_add(obj, key, value >= 0 ? json_object_new_double(value) : nullptr);
}

Json monitors() {
    Json mon(jsonObjectNewObject());
    add_figure(mon.get(), "cpuUsagePercent", dk_mon_cpu_usage_get());
    add_figure(mon.get(), "memUsagePercent", dk_mon_mem_usage_get());
    return mon;
}

}  // namespace

void mark_start() {
    int64_t expected = 0;
    g_start_ms.compare_exchange_strong(expected, now_ms());
}

int device_page(AXIMI_CTX_T *, AXRPC_PARA_T *, AXRPC_PARA_T *) {
    Json root(jsonObjectNewObject());
    if (root == nullptr) return -1;
    add_child(root.get(), "identity", identity());
    add_child(root.get(), "images", images());
    add_u64(root.get(), "uptimeSeconds", static_cast<uint64_t>((now_ms() - g_start_ms.load()) / 1000));
    add_child(root.get(), "memory", memory());
    add_child(root.get(), "monitors", monitors());
    return send_json(root.get());
}

}  // namespace pc::mgmt::web

#endif
