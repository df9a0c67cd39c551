// Parsing port text into a UP or a port list.
//
// A parse runs through four stages, each consuming part of the text:
// interface prefix, unit, slot and number (port or LAG id). A stage
// finishes the parse, hands over to the next stage, reports a syntax error
// or reports that the text ended early (while a command line is typed).
// The property record is copied once per parse, under its read lock.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform_core/platform.h"
#include "platform_core/up_text.h"
#include "up/up_bits.h"
#include "up/up_shared.h"
#include "up/up_text_hooks.h"
#include "up/up_text_tables.h"

namespace {

using pc::up::Decimal;
using pc::up::DecimalStatus;

enum Stage { kIntf = 0, kUnit = 1, kSlot = 2, kNumber = 3, kStageEnd = 4 };
constexpr const char *kStageName[] = {"_parseIntfV2", "_parseUnitV2", "_parseSlotV2", "_parseNumberV2"};

enum class StageResult { Finished = 0, Continue = 1, SyntaxError = 2, Incomplete = 3 };

constexpr int kTypeUnset = -1;
constexpr uint32_t kUnsetSlotMax = UP_SLOT_NUM - 1;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

class PortTextParser {
public:
    PortTextParser(std::string_view text, bool list_mode, int it, const up_str_option_t *opt)
        : full_(text),
          list_mode_(list_mode),
          type_(it),
          no_unit_validate_(opt && opt->no_unit_validate),
          env_(opt ? opt->cli_env : nullptr) {}

    // Parses into `list` (list mode) or `single`.
    int run(up_list *list, UP *single) {
        list_ = list;
        single_ = single;
        have_propt_ = pc::up::propt_read(&propt_);
        while (pos_ < full_.size() && is_blank(full_[pos_])) ++pos_;
        Stage stage = kIntf;
        if (type_ >= 0) stage = type_ == INTF_TYPE_LAG ? kNumber : kUnit;
        for (;;) {
            std::string_view rest = full_.substr(pos_);
            PFM_DBG(MID_UP, "%s \"%.*s\",len %d\n", kStageName[stage], static_cast<int>(rest.size()),
                    rest.data(), static_cast<int>(rest.size()));
            StageResult r = run_stage(stage);
            if (r == StageResult::Finished) return 0;
            if (r != StageResult::Continue) return -1;
            if (next_ >= kStageEnd) return -1;
            stage = next_;
        }
    }

private:
    StageResult run_stage(Stage s) {
        switch (s) {
            case kIntf:
                return parse_intf();
            case kUnit:
                return parse_unit();
            case kSlot:
                return parse_slot();
            case kNumber:
                return parse_number();
            default:
                return StageResult::SyntaxError;
        }
    }

    std::string_view rest() const { return full_.substr(pos_); }
    bool at_end() const { return pos_ >= full_.size(); }
    char peek() const { return at_end() ? '\0' : full_[pos_]; }

    void help(const char *text, const char *desc) {
        if (env_ != nullptr) cliPortPromptPrint(env_, text, desc);
    }
    void help_range(uint32_t from, uint32_t to, const char *desc) {
        char text[32];
        std::snprintf(text, sizeof text, "<%u-%u>", from, to);
        help(text, desc);
    }
    void help_may_end();

    StageResult syntax_error() {
        PFM_ERR(MID_UP, "us err");
        return StageResult::SyntaxError;
    }

    StageResult parse_intf();
    StageResult parse_prefix();
    StageResult parse_unit();
    StageResult parse_slot();
    StageResult parse_number();
    bool port_range(uint32_t *from, uint32_t *to);
    void store(uint32_t first, uint32_t last);

    std::string_view full_;
    size_t pos_ = 0;
    bool list_mode_;
    int type_;
    bool no_unit_validate_;
    void *env_;
    Stage next_ = kStageEnd;
    uint32_t unit_ = 0;
    uint32_t slot_ = 0;
    up_list *list_ = nullptr;
    UP *single_ = nullptr;
    sys_property_t propt_{};
    bool have_propt_ = false;
};

StageResult PortTextParser::parse_intf() {
    if (at_end()) return StageResult::Incomplete;
    char c = peek();
    if (std::isalpha(static_cast<unsigned char>(c))) return parse_prefix();
    if (std::isdigit(static_cast<unsigned char>(c))) {
        PFM_DBG(MID_UP, "No specify interface type");
        next_ = type_ == INTF_TYPE_LAG ? kNumber : kUnit;
        return StageResult::Continue;
    }
    PFM_ERR(MID_UP, "Invalid up string: \"%.*s\"", static_cast<int>(full_.size()), full_.data());
    return StageResult::SyntaxError;
}

StageResult PortTextParser::parse_prefix() {
    char first = static_cast<char>(std::tolower(static_cast<unsigned char>(peek())));
    std::string_view expect;
    int type = kTypeUnset;
    switch (first) {
        case 'f':
            type = INTF_TYPE_FE;
            break;
        case 'g':
            type = INTF_TYPE_GE;
            break;
        case 't':
            type = INTF_TYPE_TE;
            break;
        case 'p':
            type = INTF_TYPE_LAG;
            break;
        case 'l':
            type = INTF_TYPE_LAG;
            expect = pc::up::kLagWord;
            break;
        default:
            PFM_ERR(MID_UP, "Invalid up string: \"%.*s\"", static_cast<int>(full_.size()), full_.data());
            return StageResult::SyntaxError;
    }
    if (expect.empty())
        expect = std::string_view(pc::up::kIntfPrefix[UP_STR_TYPE_LONG][type],
                                  pc::up::kIntfPrefixLen[UP_STR_TYPE_LONG][type]);
    size_t n = 0;
    while (pos_ + n < full_.size()) {
        char c = full_[pos_ + n];
        if (!std::isalpha(static_cast<unsigned char>(c)) && c != '-') break;
        if (n >= expect.size() || std::tolower(static_cast<unsigned char>(c)) !=
                                      std::tolower(static_cast<unsigned char>(expect[n]))) {
            PFM_ERR(MID_UP, "Invalid up string: \"%.*s\", offset %d", static_cast<int>(full_.size()),
                    full_.data(), static_cast<int>(pos_ + n));
            return StageResult::SyntaxError;
        }
        ++n;
    }
    bool lag_word = first == 'l';
    bool length_ok = lag_word ? n == pc::up::kLagWord.size()
                              : (n == pc::up::kIntfPrefixLen[UP_STR_TYPE_SHORT][type] ||
                                 n == pc::up::kIntfPrefixLen[UP_STR_TYPE_LONG][type]);
    if (!length_ok) {
        PFM_ERR(MID_UP,
                lag_word ? "Invalid up string(lag): \"%.*s\", offset %d"
                         : "Invalid up string(po,fe,gi,te): \"%.*s\", offset %d",
                static_cast<int>(full_.size()), full_.data(), static_cast<int>(pos_ + n));
        return StageResult::SyntaxError;
    }
    pos_ += n;
    while (!at_end() && is_blank(peek())) ++pos_;
    type_ = type;
    next_ = type_ == INTF_TYPE_LAG ? kNumber : kUnit;
    return StageResult::Continue;
}

StageResult PortTextParser::parse_unit() {
    Decimal d = pc::up::parse_decimal(rest(), UNIT_1, UNIT_NUM - 1);
    if (d.status == DecimalStatus::Incomplete) {
        help_range(UNIT_1, UNIT_NUM - 1, "Unit number");
        return StageResult::Incomplete;
    }
    if (d.status == DecimalStatus::Error) return syntax_error();
    pos_ += d.length;
    if (at_end()) {
        help("/", "Unit number");
        return StageResult::Incomplete;
    }
    if (peek() != '/') return syntax_error();
    ++pos_;
    if (!no_unit_validate_ && !UP_UNIT_IS_VALID(d.value)) return syntax_error();
    unit_ = d.value;
    next_ = kSlot;
    return StageResult::Continue;
}

StageResult PortTextParser::parse_slot() {
    // Without a valid unit, the ranges are those of the unit this process runs on.
    if (no_unit_validate_ && !have_propt_) {
        PFM_ENSURE_FAILED(MID_UP, "map_unit > 0");
        return StageResult::SyntaxError;
    }
    uint32_t slot_max = kUnsetSlotMax;
    if (type_ != kTypeUnset) {
        if (propt_.slot_amount == 0) return syntax_error();
        slot_max = propt_.slot_amount - 1u < kUnsetSlotMax ? propt_.slot_amount - 1u : kUnsetSlotMax;
    }
    Decimal d = pc::up::parse_decimal(rest(), 0, slot_max);
    if (d.status == DecimalStatus::Incomplete) {
        help_range(0, slot_max, "Slot number");
        return StageResult::Incomplete;
    }
    if (d.status == DecimalStatus::Error) return syntax_error();
    pos_ += d.length;
    if (at_end()) {
        help("/", "Slot number");
        return StageResult::Incomplete;
    }
    if (peek() != '/') return syntax_error();
    ++pos_;
    slot_ = d.value;
    next_ = kNumber;
    return StageResult::Continue;
}

bool PortTextParser::port_range(uint32_t *from, uint32_t *to) {
    if (type_ == INTF_TYPE_LAG) return upProptPortRangeGet(UNIT_1, INTF_TYPE_LAG, 0, from, to) == 0;
    if (type_ == kTypeUnset) {
        PFM_WARN(MID_UP, "Unconcern the interface type");
        *from = 1;
        *to = pc::up::kPortMax[slot_];
        return true;
    }
    if (!have_propt_) return false;
    *from = propt_.port_range[2 * type_ + slot_][0];
    *to = propt_.port_range[2 * type_ + slot_][1];
    return true;
}

void PortTextParser::store(uint32_t first, uint32_t last) {
    for (uint32_t n = first; n <= last; ++n) {
        if (type_ == INTF_TYPE_LAG) {
            UP up = UP_MAKE(UP_TYPE_LAG, 0, 0, n);
            if (single_) *single_ = up;
            if (list_) pc::up::list_set(*list_, pc::up::kLagWords, n - 1);
        } else {
            UP up = UP_MAKE(UP_TYPE_SWP, unit_, slot_, n);
            if (single_) *single_ = up;
            if (list_) pc::up::list_set(*list_, pc::up::kUnitWords, pc::up::port_bit(up));
        }
    }
}

void PortTextParser::help_may_end() {
    if (env_ == nullptr) return;
    up_str_may_end_fn may_end = pc::up::text_may_end_hook();
    if (may_end != nullptr && may_end(env_)) help(" <cr>", "");
}

StageResult PortTextParser::parse_number() {
    uint32_t from = 0, to = 0;
    if (!port_range(&from, &to)) return syntax_error();
    if (from < 1 || to < from) {
        PFM_ERR(MID_UP, "Invalid port range,%d-%d", static_cast<int>(from), static_cast<int>(to));
        return StageResult::SyntaxError;
    }
    // Legal ports of the slot bound every range, whatever the record says.
    uint32_t legal_max = type_ == INTF_TYPE_LAG ? UP_LAG_MAX : pc::up::kPortMax[slot_];
    if (to > legal_max) to = legal_max;
    PFM_DBG(MID_UP, "Port range is %d-%d", static_cast<int>(from), static_cast<int>(to));
    const char *number_help =
        type_ == kTypeUnset ? "GigabitEthernet interface number" : pc::up::kIntfNumberHelp[type_];

    Decimal first = pc::up::parse_decimal(rest(), from, to);
    if (first.status == DecimalStatus::Incomplete) {
        help_range(from, to, number_help);
        return StageResult::Incomplete;
    }
    if (first.status == DecimalStatus::Error) return syntax_error();
    pos_ += first.length;
    uint32_t last = first.value;
    bool ranged = false;
    if (list_mode_ && peek() == '-') {
        ++pos_;
        Decimal second = pc::up::parse_decimal(rest(), from, to);
        if (second.status == DecimalStatus::Incomplete) {
            help_range(from, to, number_help);
            return StageResult::Incomplete;
        }
        if (second.status == DecimalStatus::Error) return syntax_error();
        pos_ += second.length;
        last = second.value;
        ranged = true;
    }
    uint32_t lo = first.value < last ? first.value : last;
    uint32_t hi = first.value < last ? last : first.value;
    store(lo, hi);
    if (at_end()) {
        if (list_mode_) {
            help(" ,", "");
            if (!ranged) help(" -", "");
        }
        help_may_end();
        return StageResult::Finished;
    }
    if (!list_mode_ || peek() != ',') return syntax_error();
    ++pos_;
    next_ = kIntf;
    return StageResult::Continue;
}

}  // namespace

extern "C" {

PC_API int usStr2UpList(int it, const char *rawstr, up_list *uplist, const up_str_option_t *opt) {
    PFM_ENSURE_RET(MID_UP, NULL != rawstr, -1);
    PFM_ENSURE_RET(MID_UP, NULL != uplist, -1);
    *uplist = up_list{};
    if (it > INTF_TYPE_LAG) it = kTypeUnset;
    if (it >= 0)
        PFM_DBG(MID_UP, "Intf %s %s Option no_unit_validate = %d\n",
                pc::up::kIntfPrefix[UP_STR_TYPE_LONG][it], rawstr,
                opt ? static_cast<int>(opt->no_unit_validate) : 0);
    PortTextParser parser(rawstr, true, it < 0 ? kTypeUnset : it, opt);
    return parser.run(uplist, nullptr);
}

PC_API int usStr2Up(int it, const char *rawstr, UP *up, const up_str_option_t *opt) {
    PFM_ENSURE_RET(MID_UP, NULL != rawstr, -1);
    PFM_ENSURE_RET(MID_UP, NULL != up, -1);
    *up = UP_INVALID_VALUE;
    if (it > INTF_TYPE_LAG) it = kTypeUnset;
    if (it >= 0)
        PFM_DBG(MID_UP, "Intf %s %s Option no_unit_validate = %d, cli env is %sNULL\n",
                pc::up::kIntfPrefix[UP_STR_TYPE_LONG][it], rawstr,
                opt ? static_cast<int>(opt->no_unit_validate) : 0, opt && opt->cli_env ? "NOT" : "");
    UP parsed = UP_INVALID_VALUE;
    PortTextParser parser(rawstr, false, it < 0 ? kTypeUnset : it, opt);
    if (parser.run(nullptr, &parsed) != 0) return -1;
    *up = parsed;
    return 0;
}

}  // extern "C"
