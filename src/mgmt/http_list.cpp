// Generic lists of the web glue (see axhttp.h). Readers follow offsets, so
// any process that maps the block can walk a list; the pointer copies are
// kept as the writer saw them.
#include <strings.h>

#include <cstring>

#include "mgmt/http_state.h"

namespace pc::mgmt::http {

namespace {

char *local_base(AXHTTP_GEN_LIST_T *list) { return reinterpret_cast<char *>(list) - list->selfOffset; }

AXHTTP_GEN_ITEM_T *at(AXHTTP_GEN_LIST_T *list, uint32_t offset) {
    return offset != 0 ? reinterpret_cast<AXHTTP_GEN_ITEM_T *>(local_base(list) + offset) : nullptr;
}

uint32_t offset_of(AXHTTP_GEN_LIST_T *list, const void *p) {
    return static_cast<uint32_t>(static_cast<const char *>(p) - local_base(list));
}

AXHTTP_GEN_ITEM_T *local_items(AXHTTP_GEN_LIST_T *list) {
    return reinterpret_cast<AXHTTP_GEN_ITEM_T *>(local_base(list) +
                                                 (reinterpret_cast<char *>(list->items) - list->base));
}

// Walks at most `capacity` links, so a damaged chain cannot loop for ever.
template <typename Visit>
AXHTTP_GEN_ITEM_T *walk(AXHTTP_GEN_LIST_T *list, Visit &&visit) {
    AXHTTP_GEN_ITEM_T *item = at(list, list->firstOffset);
    for (unsigned steps = 0; item != nullptr && steps < list->capacity; ++steps) {
        if (visit(item)) return item;
        item = at(list, item->nextOffset);
    }
    return nullptr;
}

int append(AXHTTP_GEN_LIST_T *list, char *name, uintptr_t data) {
    if (list->count >= list->capacity) {
        PFM_ERR(kMid, "List is full");
        return -1;
    }
    AXHTTP_GEN_ITEM_T *items = local_items(list);
    AXHTTP_GEN_ITEM_T *slot = nullptr;
    for (unsigned i = 0; i < list->capacity && slot == nullptr; ++i)
        if (items[i].nameOffset == 0) slot = &items[i];
    if (slot == nullptr) return -1;
    slot->nameOffset = offset_of(list, name);
    slot->name = name;
    slot->nextOffset = 0;
    slot->next = nullptr;
    slot->data = data;
    AXHTTP_GEN_ITEM_T *tail = nullptr;
    walk(list, [&](AXHTTP_GEN_ITEM_T *item) {
        tail = item;
        return false;
    });
    if (tail == nullptr) {
        list->firstOffset = offset_of(list, slot);
        list->first = slot;
    } else {
        tail->nextOffset = offset_of(list, slot);
        tail->next = slot;
    }
    ++list->count;
    return 0;
}

}  // namespace

AXHTTP_GEN_LIST_T *list_create(AXMEM_POOL_T *pool, unsigned capacity, char *base) {
    PFM_ENSURE_RET(kMid, NULL != pool, nullptr);
    PFM_ENSURE_RET(kMid, (0 < capacity) && (AXHTTP_GEN_LIST_CAPACITY_MAX >= capacity), nullptr);
    auto *list = static_cast<AXHTTP_GEN_LIST_T *>(axmemPoolAlloc(pool, sizeof(AXHTTP_GEN_LIST_T)));
    if (list == nullptr) return nullptr;
    auto *items =
        static_cast<AXHTTP_GEN_ITEM_T *>(axmemPoolAlloc(pool, capacity * sizeof(AXHTTP_GEN_ITEM_T)));
    if (items == nullptr) {
        axmemPoolFree(pool, list);
        return nullptr;
    }
    std::memset(list, 0, sizeof *list);
    std::memset(items, 0, capacity * sizeof(AXHTTP_GEN_ITEM_T));
    list->capacity = static_cast<uint16_t>(capacity);
    list->pool = pool;
    list->items = items;
    list->base = base;
    list->selfOffset = static_cast<uint32_t>(reinterpret_cast<char *>(list) - base);
    return list;
}

}  // namespace pc::mgmt::http

using namespace pc::mgmt::http;

extern "C" {

PC_API AXHTTP_GEN_LIST_T *axhttpGenListCreate(AXMEM_POOL_T *pool, unsigned capacity) {
    return list_create(pool, capacity, reinterpret_cast<char *>(pool));
}

PC_API int axhttpGenListDestroy(AXHTTP_GEN_LIST_T *list) {
    PFM_ENSURE_RET(kMid, NULL != list, -1);
    AXMEM_POOL_T *pool = axhttpGenListPool(list);
    axmemPoolFree(pool, local_items(list));
    return axmemPoolFree(pool, list);
}

PC_API int axhttpGenListDataAppend(AXHTTP_GEN_LIST_T *list, char *name, char *value) {
    PFM_ENSURE_RET(kMid, (NULL != list) && (NULL != name) && (NULL != value), -1);
    return append(list, name, offset_of(list, value));
}

PC_API int axhttpGenListFuncAppend(AXHTTP_GEN_LIST_T *list, char *name, AXHTTP_GEN_FUNC func) {
    PFM_ENSURE_RET(kMid, (NULL != list) && (NULL != name) && (NULL != func), -1);
    return append(list, name, reinterpret_cast<uintptr_t>(func));
}

PC_API AXHTTP_GEN_ITEM_T *axhttpGenListFind(AXHTTP_GEN_LIST_T *list, const char *name) {
    PFM_ENSURE_RET(kMid, (NULL != list) && (NULL != name), nullptr);
    return walk(list, [&](AXHTTP_GEN_ITEM_T *item) {
        return std::strcmp(local_base(list) + item->nameOffset, name) == 0;
    });
}

PC_API AXHTTP_GEN_ITEM_T *axhttpGenListCaseFind(AXHTTP_GEN_LIST_T *list, const char *name) {
    PFM_ENSURE_RET(kMid, (NULL != list) && (NULL != name), nullptr);
    return walk(list, [&](AXHTTP_GEN_ITEM_T *item) {
        return strcasecmp(local_base(list) + item->nameOffset, name) == 0;
    });
}

PC_API int axhttpGenListRemove(AXHTTP_GEN_LIST_T *list, AXHTTP_GEN_ITEM_T *item) {
    PFM_ENSURE_RET(kMid, (NULL != list) && (NULL != item), -1);
    AXHTTP_GEN_ITEM_T *prev = nullptr;
    AXHTTP_GEN_ITEM_T *found = walk(list, [&](AXHTTP_GEN_ITEM_T *cur) {
        if (cur == item) return true;
        prev = cur;
        return false;
    });
    if (found == nullptr) return -1;
    if (prev == nullptr) {
        list->firstOffset = item->nextOffset;
        list->first = item->next;
    } else {
        prev->nextOffset = item->nextOffset;
        prev->next = item->next;
    }
    std::memset(item, 0, sizeof *item);  // the slot is free for the next append
    --list->count;
    return 0;
}

PC_API AXHTTP_GEN_ITEM_T *axhttpGenListIterator(AXHTTP_GEN_LIST_T *list, AXHTTP_GEN_ITEM_T *item) {
    PFM_ENSURE_RET(kMid, NULL != list, nullptr);
    return item == nullptr ? at(list, list->firstOffset) : at(list, item->nextOffset);
}

PC_API AXHTTP_GEN_ITEM_T *axhttpGenListIndexIterator(AXHTTP_GEN_LIST_T *list, unsigned index) {
    PFM_ENSURE_RET(kMid, NULL != list, nullptr);
    unsigned n = 0;
    return walk(list, [&](AXHTTP_GEN_ITEM_T *) { return n++ == index; });
}

PC_API const char *axhttpGenListItemName(AXHTTP_GEN_LIST_T *list, AXHTTP_GEN_ITEM_T *item) {
    PFM_ENSURE_RET(kMid, (NULL != list) && (NULL != item), nullptr);
    return local_base(list) + item->nameOffset;
}

PC_API const char *axhttpGenListItemData(AXHTTP_GEN_LIST_T *list, AXHTTP_GEN_ITEM_T *item) {
    PFM_ENSURE_RET(kMid, (NULL != list) && (NULL != item), nullptr);
    return local_base(list) + item->data;
}

PC_API AXHTTP_GEN_FUNC axhttpGenListItemFunc(AXHTTP_GEN_ITEM_T *item) {
    PFM_ENSURE_RET(kMid, NULL != item, nullptr);
    return reinterpret_cast<AXHTTP_GEN_FUNC>(item->data);
}

PC_API unsigned axhttpGenListCount(AXHTTP_GEN_LIST_T *list) { return list != nullptr ? list->count : 0; }

PC_API AXMEM_POOL_T *axhttpGenListPool(AXHTTP_GEN_LIST_T *list) {
    PFM_ENSURE_RET(kMid, NULL != list, nullptr);
    return reinterpret_cast<AXMEM_POOL_T *>(local_base(list) +
                                            (reinterpret_cast<char *>(list->pool) - list->base));
}

PC_API int axhttpGenListLock(AXHTTP_GEN_LIST_T *list) {
    PFM_ENSURE_RET(kMid, NULL != list, -1);
    return axmemPoolLock(axhttpGenListPool(list));
}

PC_API int axhttpGenListUnlock(AXHTTP_GEN_LIST_T *list) {
    PFM_ENSURE_RET(kMid, NULL != list, -1);
    return axmemPoolUnlock(axhttpGenListPool(list));
}

}  // extern "C"
