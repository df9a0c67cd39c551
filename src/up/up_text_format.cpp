// Writing a UP or a port list as text.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform_core/platform.h"
#include "platform_core/up_text.h"
#include "up/up_bits.h"
#include "up/up_text_tables.h"

namespace {

constexpr int kUnlimitedBudget = UP_LIST_STR_LEN - 1;
constexpr int kMinLimit = 30;

std::string format(const char *fmt, ...) PC_PRINTF(1, 2);
std::string format(const char *fmt, ...) {
    char buf[96];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return n < 0 ? std::string()
                 : std::string(buf,
                               static_cast<size_t>(n) < sizeof buf ? static_cast<size_t>(n) : sizeof buf - 1);
}

// Builds the text of one call to usUplist2Str.
class ListWriter {
public:
    ListWriter(const up_list &list, up_str_ctrl_t &ctrl, int budget)
        : list_(list), ctrl_(ctrl), budget_(budget) {}

    // 0 with the text complete or cut at an element; else the failing code.
    int write() {
        int32_t start = ctrl_.resume_index;
        if (start < 0) start = 0;
        for (uint32_t i = static_cast<uint32_t>(start); i < UP_UNIT_PORT_MAX; ++i) {
            int rc = port_piece(i);
            if (rc != 0 || full_) return rc;
        }
        bool lags_wanted = !(ctrl_.flags & UP_STR_CTRL_NO_LAG) &&
                           (!(ctrl_.flags & UP_STR_CTRL_INTF) || ctrl_.intf_type == INTF_TYPE_LAG);
        uint32_t lag_start =
            static_cast<uint32_t>(start) > UP_UNIT_PORT_MAX ? static_cast<uint32_t>(start) : UP_UNIT_PORT_MAX;
        for (uint32_t i = lag_start; lags_wanted && i < INNER_UP_IDX_MAX; ++i) {
            int rc = lag_piece(i);
            if (rc != 0 || full_) return rc;
        }
        finish();
        return 0;
    }

    const std::string &text() const { return text_; }

private:
    bool in_list_port(uint32_t index) const { return pc::up::list_test(list_, pc::up::kUnitWords, index); }
    bool in_list_lag(uint32_t index) const {
        return pc::up::list_test(list_, pc::up::kLagWords, index - INNER_UP_LAG_BASE - 1);
    }

    bool fits(const std::string &piece) const {
        return static_cast<int>(text_.size() + piece.size()) <= budget_;
    }

    // Appends `piece` unless it overflows the budget; then the call ends
    // here and the next call resumes at `first_index`.
    bool append(const std::string &piece, uint32_t first_index) {
        if (!fits(piece)) {
            ctrl_.done = 0;
            ctrl_.resume_index = static_cast<int32_t>(first_index);
            full_ = true;
            trim_tail();
            return false;
        }
        text_ += piece;
        return true;
    }

    // Every call must hand out at least one element: an element that does
    // not fit even into an empty text would come back forever. Such a call
    // fails instead.
    int refuse_unfit(const std::string &piece) {
        if (!text_.empty() || fits(piece)) return 0;
        PFM_ERR(MID_UP, "\"%s\" does not fit the length limit %d", piece.c_str(), budget_ + 1);
        ctrl_.done = 0;
        return -1;
    }

    const char *prefix(uint32_t it) const { return pc::up::kIntfPrefix[ctrl_.str_type][it]; }

    int port_piece(uint32_t &i) {
        if (!in_list_port(i)) return 0;
        UP up = pc::up::kIndexTable.up[i];
        if ((ctrl_.flags & UP_STR_CTRL_UNIT) && UP_UNIT(up) != ctrl_.unit) return 0;
        uint32_t it = INTF_TYPE_MAX;
        if (int rc = upProptIntfTypeGet(up, &it); rc != 0) {
            PFM_CALL_FAILED(MID_UP, rc, "upProptIntfTypeGet(up, &it)");
            return rc;
        }
        if ((ctrl_.flags & UP_STR_CTRL_INTF) && it != ctrl_.intf_type) return 0;
        uint32_t unit = UP_UNIT(up), slot = UP_SLOT(up), first = UP_PORT(up);
        if (ctrl_.flags & UP_STR_CTRL_SINGLE) {
            std::string piece = format("%s%u/%u/%u, ", prefix(it), unit, slot, first);
            if (int rc = refuse_unfit(piece); rc != 0) return rc;
            if (append(piece, i)) ctrl_.last_intf_type = it;
            return 0;
        }
        uint32_t first_index = i;
        while (i + 1 < UP_UNIT_PORT_MAX && UP_PORT(up) + (i - first_index) < pc::up::kPortMax[slot] &&
               in_list_port(i + 1)) {
            UP next = pc::up::kIndexTable.up[i + 1];
            if (!UP_IS_VALID(next) || UP_SLOT(next) != slot) break;
            uint32_t next_it = INTF_TYPE_MAX;
            if (int rc = upProptIntfTypeGet(next, &next_it); rc != 0) {
                PFM_CALL_FAILED(MID_UP, rc, "upProptIntfTypeGet(up, &nextIt)");
                return rc;
            }
            if (next_it != it) break;
            ++i;
        }
        const char *p = it == ctrl_.last_intf_type ? "" : prefix(it);
        auto run_text = [&] {
            uint32_t last = UP_PORT(pc::up::kIndexTable.up[i]);
            return last == first ? format("%s%u/%u/%u,", p, unit, slot, first)
                                 : format("%s%u/%u/%u-%u,", p, unit, slot, first, last);
        };
        std::string piece = run_text();
        // A run too long for an empty text is written shorter; the rest
        // follows in the next call.
        while (text_.empty() && !fits(piece) && i > first_index) {
            --i;
            piece = run_text();
        }
        if (int rc = refuse_unfit(piece); rc != 0) return rc;
        if (append(piece, first_index)) ctrl_.last_intf_type = it;
        return 0;
    }

    int lag_piece(uint32_t &i) {
        if (!in_list_lag(i)) return 0;
        uint32_t str_type = ctrl_.str_type;
        if (str_type == UP_STR_TYPE_NONE && (ctrl_.flags & UP_STR_CTRL_LAG_SHORT))
            str_type = UP_STR_TYPE_SHORT;
        const char *lag_prefix = pc::up::kIntfPrefix[str_type][INTF_TYPE_LAG];
        uint32_t first = i - INNER_UP_LAG_BASE;
        if (ctrl_.flags & UP_STR_CTRL_SINGLE) {
            std::string piece = format("%s%u, ", lag_prefix, first);
            if (int rc = refuse_unfit(piece); rc != 0) return rc;
            if (append(piece, i)) ctrl_.last_intf_type = INTF_TYPE_LAG;
            return 0;
        }
        uint32_t first_index = i;
        while (i + 1 < INNER_UP_IDX_MAX && in_list_lag(i + 1)) ++i;
        const char *p = ctrl_.last_intf_type == INTF_TYPE_LAG ? "" : lag_prefix;
        auto run_text = [&] {
            uint32_t last = i - INNER_UP_LAG_BASE;
            return last == first ? format("%s%u,", p, first) : format("%s%u-%u,", p, first, last);
        };
        std::string piece = run_text();
        while (text_.empty() && !fits(piece) && i > first_index) {
            --i;
            piece = run_text();
        }
        if (int rc = refuse_unfit(piece); rc != 0) return rc;
        if (append(piece, first_index)) ctrl_.last_intf_type = INTF_TYPE_LAG;
        return 0;
    }

    // Drops the separator after the last element.
    void trim_tail() {
        if (!text_.empty()) {
            text_.pop_back();
            if (!text_.empty() && text_.back() == ',') text_.pop_back();
        }
    }

    void finish() {
        trim_tail();
        ctrl_.done = 1;
    }

    const up_list &list_;
    up_str_ctrl_t &ctrl_;
    int budget_;
    std::string text_;
    bool full_ = false;
};

}  // namespace

extern "C" {

PC_API int usUp2Str(UP up, char *str, uint32_t type) {
    PFM_ENSURE_RET(MID_UP, UP_STR_TYPE_IS_LEGAL(type), -1);
    PFM_ENSURE_RET(MID_UP, UP_IS_VALID(up), -1);
    PFM_ENSURE_RET(MID_UP, str != NULL, -1);
    if (UP_IS_LAG(up)) {
        std::snprintf(str, UP_STR_LEN, "%s%u", pc::up::kIntfPrefix[type][INTF_TYPE_LAG], UP_LAG_ID(up));
        return 0;
    }
    uint32_t it = INTF_TYPE_MAX;
    if (int rc = upProptIntfTypeGet(up, &it); rc != 0) {
        PFM_CALL_FAILED(MID_UP, rc, "upProptIntfTypeGet(up, &it)");
        return rc;
    }
    std::snprintf(str, UP_STR_LEN, "%s%u/%u/%u", pc::up::kIntfPrefix[type][it], UP_UNIT(up), UP_SLOT(up),
                  UP_PORT(up));
    return 0;
}

PC_API int usUplist2Str(up_list l, char *buf, up_str_ctrl_t *ctrl) {
    PFM_ENSURE_RET(MID_UP, NULL != buf, -1);
    PFM_ENSURE_RET(MID_UP, NULL != ctrl, -1);
    PFM_ENSURE_RET(MID_UP, UP_STR_TYPE_IS_LEGAL(ctrl->str_type), -1);
    int budget = kUnlimitedBudget;
    if (ctrl->flags & UP_STR_CTRL_LIMIT) {
        if (ctrl->len_limit < kMinLimit) return -1;
        budget = ctrl->len_limit - 1;
    }
    if (ctrl->flags & UP_STR_CTRL_INTF) PFM_ENSURE_RET(MID_UP, INTF_TYPE_IS_LEGAL(ctrl->intf_type), -1);
    if (ctrl->flags & UP_STR_CTRL_UNIT) PFM_ENSURE_RET(MID_UP, UP_UNIT_IS_VALID(ctrl->unit), -1);
    if (ctrl->resume_index == 0) ctrl->last_intf_type = INTF_TYPE_MAX;
    buf[0] = '\0';
    ListWriter writer(l, *ctrl, budget);
    if (int rc = writer.write(); rc != 0) return rc;
    std::memcpy(buf, writer.text().c_str(), writer.text().size() + 1);
    return 0;
}

}  // extern "C"
