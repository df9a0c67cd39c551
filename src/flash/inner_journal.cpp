// The journal of an inner area re-layout: see inner_journal.h.
#include "flash/inner_journal.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

#include "flash/flash_internal.h"
#include "platform_core/crypto.h"
#include "platform_core/flash.h"
#include "platform_core/flash_inner.h"

namespace pc::flash::inner_journal {

namespace {

using Digest = std::array<uint8_t, 16>;

// Journal sector, big-endian words from its start: magic, sector count N,
// boundary count K, piece count P, body length, then the MD5 digest of the
// body. The body: K item boundaries, highest first, the last one the bottom
// of the new layout; N sector digests, lowest sector first; P pieces, each
// the bytes of one sector that differ from 0xFF: {sector, offset, length,
// bytes}; a sector number with kOldBytes set gives the sector's old bytes,
// one with kOldDigest set (16 bytes at offset 0) the MD5 digest of its old
// bytes: both describe the item that a value too large for the journal
// replaces. Journals written before kOldDigest carry no such piece; their
// readers refuse a sector number that has it set. The key word ends the
// sector.
constexpr uint32_t kMagic = 0x494E524Au;
constexpr size_t kWords = 5;
constexpr size_t kHeaderLen = kWords * 4 + 16;
constexpr uint32_t kPieceHeaderLen = 12;
constexpr uint32_t kOldBytes = 0x80000000u;
constexpr uint32_t kOldDigest = 0x40000000u;

// Where a sector's new bytes come from.
constexpr int kFromBlank = -1;    // all 0xFF
constexpr int kFromJournal = -2;  // a piece of the journal
constexpr int kFromNowhere = -3;  // only the caller has them (a value too large for the journal)

struct Step {
    uint32_t index;      // sector above the journal, lowest 0
    int from;            // another such sector, or one of the kFrom values
    bool stash = false;  // index takes the bytes from holds now, not its own new bytes
};

Digest digest_of(const uint8_t *data, uint32_t len) {
    Digest d{};
    md5_calc(d.data(), data, len);
    return d;
}

// The order in which the pending sectors (cur differs from want) may be
// written: a sector whose bytes another pending sector still copies waits
// for that copy. Copies come first, lowest sector first; then the journalled
// value and the erasures; what comes from nowhere goes last, lowest first
// (an item's trailer, at its top, last of all). ok is false when a cycle
// leaves a copy that no order allows.
struct Plan {
    std::vector<Step> steps;
    std::vector<uint32_t> stuck;  // copies that no order allows
    bool ok() const { return stuck.empty(); }
};

Plan make_plan(const std::vector<Digest> &cur, const std::vector<Digest> &want,
               const std::vector<bool> &inJournal, const Digest &blank) {
    const size_t n = want.size();
    std::vector<bool> pending(n);
    std::vector<int> from(n, kFromNowhere), waiting(n, 0);
    for (size_t i = 0; i < n; ++i) pending[i] = cur[i] != want[i];
    for (size_t i = 0; i < n; ++i) {
        if (!pending[i]) continue;
        if (want[i] == blank) {
            from[i] = kFromBlank;
            continue;
        }
        int best = -1;
        for (size_t j = 0; j < n; ++j) {
            if (j == i || cur[j] != want[i]) continue;
            if (!pending[j]) {
                best = static_cast<int>(j);  // stays as it is: nothing to wait for
                break;
            }
            if (best < 0) best = static_cast<int>(j);
        }
        if (inJournal[i] && (best < 0 || pending[static_cast<size_t>(best)])) {
            from[i] = kFromJournal;
        } else if (best >= 0) {
            from[i] = best;
            if (pending[static_cast<size_t>(best)]) ++waiting[static_cast<size_t>(best)];
        }
    }
    Plan plan;
    std::vector<bool> done(n);
    auto rank = [&](size_t i) { return from[i] >= 0 ? 0 : from[i] == kFromJournal ? 1 : 2; };
    for (;;) {
        size_t pick = n;
        for (size_t i = 0; i < n; ++i) {
            if (!pending[i] || done[i] || from[i] == kFromNowhere || waiting[i] != 0) continue;
            if (pick == n || rank(i) < rank(pick)) pick = i;
        }
        if (pick == n) break;
        done[pick] = true;
        plan.steps.push_back({static_cast<uint32_t>(pick), from[pick]});
        if (from[pick] >= 0 && pending[static_cast<size_t>(from[pick])])
            --waiting[static_cast<size_t>(from[pick])];
    }
    for (size_t i = 0; i < n; ++i) {
        if (pending[i] && !done[i] && from[i] != kFromNowhere) plan.stuck.push_back(static_cast<uint32_t>(i));
    }
    for (size_t i = 0; i < n; ++i) {
        if (pending[i] && from[i] == kFromNowhere)
            plan.steps.push_back({static_cast<uint32_t>(i), kFromNowhere});
    }
    return plan;
}

// The part of a sector's bytes that differs from 0xFF: offset and length.
std::pair<uint32_t, uint32_t> piece_of(const uint8_t *sector, uint32_t size) {
    uint32_t first = 0, last = size;
    while (first < size && sector[first] == 0xff) ++first;
    while (last > first && sector[last - 1] == 0xff) --last;
    return {first, last - first};
}

bool read_digests(uint32_t from, size_t count, std::vector<Digest> &out) {
    const uint32_t size = flashGetSectorSize();
    std::vector<uint8_t> sector(size);
    out.clear();
    for (size_t i = 0; i < count; ++i) {
        if (l_readFlash(sector.data(), size, from + static_cast<uint32_t>(i) * size) != 0) return false;
        out.push_back(digest_of(sector.data(), size));
    }
    return true;
}

// The journal as read back from the flash.
struct Record {
    std::vector<uint32_t> bounds;
    std::vector<Digest> want;
    std::vector<std::vector<uint8_t>> pieces;      // per sector: its new bytes, or empty
    std::vector<std::vector<uint8_t>> old;         // per sector: its old bytes, or empty
    std::vector<std::optional<Digest>> oldDigest;  // per sector: the digest of its old bytes
    // Every sector's bytes the journal holds, new or old, with its digest.
    std::vector<std::pair<Digest, const std::vector<uint8_t> *>> held;
};

bool parse(const uint8_t *sector, uint32_t size, uint32_t journalAt, Record &rec) {
    if (get_be32(sector + size - 4) != kKey || get_be32(sector) != kMagic) return false;
    const uint32_t n = get_be32(sector + 4), k = get_be32(sector + 8), p = get_be32(sector + 12),
                   bodyLen = get_be32(sector + 16);
    const uint32_t room = size - FLASH_INNER_TRAILER_LEN - kHeaderLen;
    // The sectors run from above the journal to the top of the chip.
    if (n == 0 || n > FLASH_INNER_AREA_MAX / size ||
        uint64_t(journalAt) + size + uint64_t(n) * size != chip_size())
        return false;
    if (k == 0 || k > n + 1 || p > 3 * n || bodyLen > room || uint64_t(k) * 4 + uint64_t(n) * 16 > bodyLen)
        return false;
    const uint8_t *body = sector + kHeaderLen;
    Digest stored;
    std::memcpy(stored.data(), sector + kWords * 4, stored.size());
    if (digest_of(body, bodyLen) != stored) return false;
    uint32_t prev = chip_size() + 1;
    for (uint32_t i = 0; i < k; ++i) {
        uint32_t b = get_be32(body + i * 4);
        if (b % size != 0 || b >= prev || b <= journalAt) return false;
        rec.bounds.push_back(b);
        prev = b;
    }
    if (rec.bounds.front() != chip_size()) return false;
    for (uint32_t i = 0; i < n; ++i) {
        Digest d;
        std::memcpy(d.data(), body + k * 4 + i * 16, 16);
        rec.want.push_back(d);
    }
    rec.pieces.assign(n, {});
    rec.old.assign(n, {});
    rec.oldDigest.assign(n, std::nullopt);
    uint32_t at = k * 4 + n * 16;
    for (uint32_t i = 0; i < p; ++i) {
        if (bodyLen - at < kPieceHeaderLen) return false;
        uint32_t index = get_be32(body + at), offset = get_be32(body + at + 4), len = get_be32(body + at + 8);
        at += kPieceHeaderLen;
        const uint32_t kind = index & (kOldBytes | kOldDigest);
        index &= ~(kOldBytes | kOldDigest);
        if (index >= n || offset > size || len > size - offset || len > bodyLen - at) return false;
        if (kind == kOldDigest) {
            if (offset != 0 || len != sizeof(Digest)) return false;
            Digest d;
            std::memcpy(d.data(), body + at, d.size());
            rec.oldDigest[index] = d;
        } else if (kind == kOldBytes || kind == 0) {
            auto &bytes = kind == kOldBytes ? rec.old[index] : rec.pieces[index];
            bytes.assign(size, 0xff);
            std::memcpy(bytes.data() + offset, body + at, len);
        } else {
            return false;
        }
        at += len;
    }
    for (const auto *list : {&rec.pieces, &rec.old}) {
        for (const auto &bytes : *list) {
            if (!bytes.empty()) rec.held.emplace_back(digest_of(bytes.data(), size), &bytes);
        }
    }
    return true;
}

// Writes a filler item whose trailer ends at top and which reaches down to
// bottom.
int put_filler(uint32_t top, uint32_t bottom) {
    const uint32_t size = flashGetSectorSize();
    std::vector<uint8_t> sector(size, 0xff);
    uint8_t *trailer = sector.data() + size - FLASH_INNER_TRAILER_LEN;
    put_be32(trailer, top - FLASH_INNER_TRAILER_LEN - bottom);
    put_be32(trailer + 4, kFillerType);
    put_be32(trailer + 8, FLASH_INNER_KEY);
    return update_range(sector.data(), size, top - size, 0);
}

// Brings each sector of the plan to its bytes: get(step, bytes) fills the
// bytes or answers false when they cannot be had.
template <typename Get>
int run_plan(uint32_t journalAt, const Plan &plan, std::vector<Digest> &cur, const std::vector<Digest> &want,
             int progress, Get get) {
    const uint32_t size = flashGetSectorSize();
    std::vector<uint8_t> bytes(size);
    for (const Step &step : plan.steps) {
        if (step.stash) {
            const uint32_t from = journalAt + (static_cast<uint32_t>(step.from) + 1) * size;
            if (l_readFlash(bytes.data(), size, from) != 0 ||
                update_range(bytes.data(), size, journalAt + (step.index + 1) * size, progress) != 0)
                return -1;
            cur[step.index] = digest_of(bytes.data(), size);
            continue;
        }
        if (!get(step, bytes) || digest_of(bytes.data(), size) != want[step.index]) continue;
        if (update_range(bytes.data(), size, journalAt + (step.index + 1) * size, progress) != 0) return -1;
        cur[step.index] = want[step.index];
    }
    return 0;
}

// The places of the new layout whose new bytes cannot all be had (a value
// the journal could not hold), each as {top, bottom}.
std::vector<std::pair<uint32_t, uint32_t>> missing_places(uint32_t journalAt, const Record &rec,
                                                          const Plan &plan) {
    const uint32_t size = flashGetSectorSize();
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (size_t k = 0; k + 1 < rec.bounds.size(); ++k) {
        const uint32_t top = rec.bounds[k], bottom = rec.bounds[k + 1];
        bool missing = std::any_of(plan.steps.begin(), plan.steps.end(), [&](const Step &s) {
            const uint32_t at = journalAt + (s.index + 1) * size;
            return s.from == kFromNowhere && at >= bottom && at < top;
        });
        if (missing) out.emplace_back(top, bottom);
    }
    return out;
}

// The old bytes of a sector as the journal describes them (its new bytes
// where the rewrite did not change it).
const Digest &old_want(const Record &rec, size_t i) {
    return rec.oldDigest[i] ? *rec.oldDigest[i] : rec.want[i];
}

bool has_old_digests(const Record &rec) {
    return std::any_of(rec.oldDigest.begin(), rec.oldDigest.end(),
                       [](const auto &d) { return d.has_value(); });
}

// Bytes the journal holds (new bytes and old bytes alike) with this digest,
// or null.
const std::vector<uint8_t> *journal_bytes(const Record &rec, const Digest &d) {
    auto held = std::find_if(rec.held.begin(), rec.held.end(), [&](const auto &h) { return h.first == d; });
    return held == rec.held.end() ? nullptr : held->second;
}

// Brings every sector back to its old bytes, when each of them is still
// somewhere on the flash or in the journal: the rewrite undone. false when
// that cannot be, and then nothing was written.
bool undo(uint32_t journalAt, const Record &rec, std::vector<Digest> &cur, int &rc) {
    const uint32_t size = flashGetSectorSize();
    const size_t n = rec.want.size();
    std::vector<Digest> oldWant(n);
    std::vector<const std::vector<uint8_t> *> fromJournal(n);
    std::vector<bool> inJournal(n);
    for (size_t i = 0; i < n; ++i) {
        oldWant[i] = old_want(rec, i);
        fromJournal[i] = journal_bytes(rec, oldWant[i]);
        inJournal[i] = fromJournal[i] != nullptr;
    }
    const std::vector<uint8_t> blankSector(size, 0xff);
    Plan plan = make_plan(cur, oldWant, inJournal, digest_of(blankSector.data(), size));
    if (!plan.ok() || std::any_of(plan.steps.begin(), plan.steps.end(),
                                  [](const Step &s) { return s.from == kFromNowhere; }))
        return false;
    FLASH_DBG(flash_app_inner_debug, "Interrupted rewrite: %u sectors back to the old layout\r\n",
              static_cast<unsigned>(plan.steps.size()));
    rc = run_plan(journalAt, plan, cur, oldWant, 0, [&](const Step &s, std::vector<uint8_t> &bytes) {
        if (s.from >= 0)
            return l_readFlash(bytes.data(), size, journalAt + (static_cast<uint32_t>(s.from) + 1) * size) ==
                   0;
        if (s.from == kFromBlank) {
            std::fill(bytes.begin(), bytes.end(), 0xff);
            return true;
        }
        bytes = *fromJournal[s.index];
        return true;
    });
    return true;
}

// The old item at the top of a place, when every one of its sectors still
// holds its old bytes or the journal has them: the sectors to write back
// from the journal, and the item's lower boundary. Nothing when it is not
// whole.
struct OldItem {
    uint32_t bottom;
    std::vector<std::pair<size_t, const std::vector<uint8_t> *>> restore;
};
std::optional<OldItem> whole_old_item(uint32_t journalAt, const Record &rec, const std::vector<Digest> &cur,
                                      uint32_t top, uint32_t bottom) {
    const uint32_t size = flashGetSectorSize();
    auto index = [&](uint32_t at) { return static_cast<size_t>((at - journalAt) / size - 1); };
    std::vector<uint8_t> topSector(size);
    const size_t topIndex = index(top - size);
    if (cur[topIndex] == old_want(rec, topIndex)) {
        if (l_readFlash(topSector.data(), size, top - size) != 0) return std::nullopt;
    } else if (const auto *bytes = journal_bytes(rec, old_want(rec, topIndex))) {
        topSector = *bytes;
    } else {
        return std::nullopt;
    }
    const uint8_t *trailer = topSector.data() + size - FLASH_INNER_TRAILER_LEN;
    const uint32_t len = get_be32(trailer);
    if (get_be32(trailer + 8) != FLASH_INNER_KEY || len == 0 || len > top - bottom - FLASH_INNER_TRAILER_LEN)
        return std::nullopt;
    OldItem item{top - inner_item_span(len, size), {}};
    for (uint32_t at = item.bottom; at < top; at += size) {
        const size_t i = index(at);
        if (cur[i] == old_want(rec, i)) continue;
        const auto *bytes = journal_bytes(rec, old_want(rec, i));
        if (bytes == nullptr) return std::nullopt;
        item.restore.emplace_back(i, bytes);
    }
    return item;
}

// The missing places become filler items, so that the chain of trailers
// runs through them. The item a place replaces stays at its top when it is
// still whole (the sectors it lost written back from the journal), with the
// filler below it. A journal without digests of old bytes (as earlier
// writers left them) keeps an old one-sector item that is whole at the top
// of the place, or the one parked in the journal.
int fill_missing(uint32_t journalAt, const Record &rec, const std::vector<Digest> &cur,
                 const std::vector<std::pair<uint32_t, uint32_t>> &places) {
    const uint32_t size = flashGetSectorSize();
    const bool described = has_old_digests(rec);
    for (const auto &[top, bottom] : places) {
        uint32_t fillTop = top;
        const size_t topIndex = (top - size - journalAt) / size - 1;
        if (described) {
            if (auto old = whole_old_item(journalAt, rec, cur, top, bottom)) {
                for (const auto &[i, bytes] : old->restore) {
                    const uint32_t at = journalAt + static_cast<uint32_t>(i + 1) * size;
                    if (update_range(bytes->data(), size, at, 0) != 0) return -1;
                }
                fillTop = old->bottom;
            }
        } else {
            std::vector<uint8_t> sector(size);
            if (l_readFlash(sector.data(), size, top - size) != 0) return -1;
            if (one_sector_item(sector.data(), size) &&
                digest_of(sector.data(), size) != rec.want[topIndex]) {
                fillTop = top - size;  // the old item, whole in its one sector
            } else if (!rec.old[topIndex].empty()) {
                if (update_range(rec.old[topIndex].data(), size, top - size, 0) != 0) return -1;
                fillTop = top - size;  // the old item, back from the journal
            }
        }
        FLASH_DBG(flash_app_inner_debug, "Interrupted rewrite: %#x to %#x could not be finished\r\n", bottom,
                  fillTop);
        if (fillTop > bottom && put_filler(fillTop, bottom) != 0) return -1;
    }
    return 0;
}

}  // namespace

bool holds_journal(const uint8_t *sector, uint32_t size) {
    return get_be32(sector + size - 4) == kKey && get_be32(sector) == kMagic;
}

Outcome write(uint32_t journalAt, uint32_t oldEdge, const std::vector<uint8_t> &target,
              const std::vector<Placed> &items, int progress) {
    const uint32_t size = flashGetSectorSize();
    const size_t n = target.size() / size;
    const std::vector<uint8_t> blankSector(size, 0xff);
    const Digest blank = digest_of(blankSector.data(), size);
    std::vector<Digest> want, cur;
    for (size_t i = 0; i < n; ++i) want.push_back(digest_of(target.data() + i * size, size));
    if (!read_digests(journalAt + size, n, cur)) return Outcome::kFailed;
    std::vector<bool> inJournal(n);
    Plan plan = make_plan(cur, want, inJournal, blank);
    if (plan.ok() && plan.steps.empty()) return Outcome::kDone;

    // Into the journal go the new bytes that are nowhere on the flash, and
    // then, while copies wait on each other, the smallest of them, as far as
    // they fit.
    const uint32_t bounds = static_cast<uint32_t>(items.size() + 1);
    uint32_t room = size - FLASH_INNER_TRAILER_LEN - kHeaderLen - bounds * 4 - static_cast<uint32_t>(n) * 16;
    auto cost = [&](uint32_t i) {
        return kPieceHeaderLen + piece_of(target.data() + size_t(i) * size, size).second;
    };
    auto take = [&](uint32_t i) {
        if (inJournal[i] || cost(i) > room) return false;
        room -= cost(i);
        inJournal[i] = true;
        return true;
    };
    for (const Step &s : plan.steps) {
        if (s.from == kFromNowhere) take(s.index);
    }
    // A new value that stays outside the journal is written last, its top
    // sector (the trailer) last of all. So that a cut before it is whole can
    // keep the item it replaces, the journal gets the digest of the old bytes
    // of every sector the rewrite changes (blank below the old area), and the
    // old bytes of the replaced item's sectors that the rewrite overwrites,
    // as far as they fit (lowest first) once the plan has its pieces.
    std::vector<std::vector<uint8_t>> old(n);
    std::vector<std::optional<Digest>> oldDigest(n);
    std::vector<std::pair<uint32_t, uint32_t>> latePlaces;  // {top, bottom}
    std::vector<uint32_t> unparked;  // sectors of the replaced item the journal cannot hold, lowest first
    for (const auto &it : items) {
        bool late = std::any_of(plan.steps.begin(), plan.steps.end(), [&](const Step &s) {
            uint32_t at = journalAt + (s.index + 1) * size;
            return s.from == kFromNowhere && !inJournal[s.index] && at >= it.top - it.span && at < it.top;
        });
        if (late) latePlaces.emplace_back(it.top, it.top - it.span);
    }
    plan = make_plan(cur, want, inJournal, blank);
    while (!plan.ok()) {
        auto smallest = std::min_element(plan.stuck.begin(), plan.stuck.end(),
                                         [&](uint32_t a, uint32_t b) { return cost(a) < cost(b); });
        if (!take(*smallest)) return Outcome::kNoPlan;
        plan = make_plan(cur, want, inJournal, blank);
    }
    // What room the plan leaves describes the replaced item.
    uint32_t changed = 0;
    for (size_t i = 0; i < n; ++i) changed += cur[i] != want[i] ? 1 : 0;
    if (!latePlaces.empty() && changed * (kPieceHeaderLen + sizeof(Digest)) <= room) {
        room -= changed * (kPieceHeaderLen + static_cast<uint32_t>(sizeof(Digest)));
        for (size_t i = 0; i < n; ++i) {
            if (cur[i] != want[i]) oldDigest[i] = journalAt + (i + 1) * size >= oldEdge ? cur[i] : blank;
        }
        std::vector<uint8_t> oldSector(size);
        for (const auto &[top, bottom] : latePlaces) {
            if (l_readFlash(oldSector.data(), size, top - size) != 0) return Outcome::kFailed;
            const uint8_t *trailer = oldSector.data() + size - FLASH_INNER_TRAILER_LEN;
            const uint32_t len = get_be32(trailer);
            if (get_be32(trailer + 8) != FLASH_INNER_KEY || len == 0 ||
                len > top - FLASH_INNER_TRAILER_LEN - (journalAt + size))
                continue;
            for (uint32_t at = top - inner_item_span(len, size); at < top; at += size) {
                const size_t i = (at - journalAt) / size - 1;
                if (cur[i] == want[i]) continue;  // not overwritten
                if (l_readFlash(oldSector.data(), size, at) != 0) return Outcome::kFailed;
                const uint32_t pieceCost = kPieceHeaderLen + piece_of(oldSector.data(), size).second;
                if (pieceCost > room) {
                    unparked.push_back(static_cast<uint32_t>(i));
                    continue;
                }
                room -= pieceCost;
                old[i] = oldSector;
            }
        }
    }
    // The journalled and blank sectors of such a place go just before those
    // from nowhere, so that the item it replaces stays whole as long as can
    // be. (A sector copied from elsewhere keeps its place in the order: its
    // source may be overwritten after it.)
    auto order = [&](const Step &st) {
        if (st.from == kFromNowhere) return 2;
        const uint32_t at = journalAt + (st.index + 1) * size;
        bool inLate = std::any_of(latePlaces.begin(), latePlaces.end(),
                                  [&](const auto &p) { return at >= p.second && at < p.first; });
        return st.from < 0 && inLate ? 1 : 0;
    };
    std::stable_sort(plan.steps.begin(), plan.steps.end(),
                     [&](const Step &a, const Step &b) { return order(a) < order(b); });
    // Where the new layout leaves sectors free below it (it is smaller), the
    // sectors of the replaced item that the journal cannot hold are first
    // copied there, once every copy that reads the free sector is done (the
    // start of those places' writes), and the free sector is erased at the
    // very end. A repair finds them by their digests.
    const uint32_t newBottom = items.empty() ? chip_size() : items.back().top - items.back().span;
    std::vector<uint32_t> spare;
    for (uint32_t i = 0; i < n && journalAt + (i + 1) * size < newBottom; ++i) {
        if (want[i] == blank) spare.push_back(i);
    }
    auto lateStart =
        std::find_if(plan.steps.begin(), plan.steps.end(), [&](const Step &st) { return order(st) != 0; });
    std::vector<Step> stashes, blanks;
    for (size_t k = 0; k < std::min(spare.size(), unparked.size()); ++k) {
        stashes.push_back({spare[k], static_cast<int>(unparked[k]), true});
        blanks.push_back({spare[k], kFromBlank});
    }
    if (!stashes.empty()) {
        std::vector<Step> steps(plan.steps.begin(), lateStart);
        auto stashed = [&](const Step &st) {
            return !st.stash && std::any_of(stashes.begin(), stashes.end(),
                                            [&](const Step &x) { return x.index == st.index; });
        };
        std::erase_if(steps, stashed);
        steps.insert(steps.end(), stashes.begin(), stashes.end());
        for (auto it = lateStart; it != plan.steps.end(); ++it) {
            if (!stashed(*it)) steps.push_back(*it);
        }
        steps.insert(steps.end(), blanks.begin(), blanks.end());
        plan.steps = std::move(steps);
    }

    std::vector<uint8_t> body;
    auto put = [&](uint32_t v) {
        uint8_t w[4];
        put_be32(w, v);
        body.insert(body.end(), w, w + 4);
    };
    for (const auto &it : items) put(it.top);
    put(items.empty() ? chip_size() : items.back().top - items.back().span);
    for (const auto &d : want) body.insert(body.end(), d.begin(), d.end());
    uint32_t pieces = 0;
    for (uint32_t i = 0; i < n; ++i) {
        if (!inJournal[i]) continue;
        const uint8_t *sector = target.data() + size_t(i) * size;
        auto [offset, len] = piece_of(sector, size);
        put(i);
        put(offset);
        put(len);
        body.insert(body.end(), sector + offset, sector + offset + len);
        ++pieces;
    }
    for (uint32_t i = 0; i < n; ++i) {
        if (old[i].empty()) continue;
        auto [offset, len] = piece_of(old[i].data(), size);
        put(i | kOldBytes);
        put(offset);
        put(len);
        body.insert(body.end(), old[i].begin() + offset, old[i].begin() + offset + len);
        ++pieces;
    }
    for (uint32_t i = 0; i < n; ++i) {
        if (!oldDigest[i]) continue;
        put(i | kOldDigest);
        put(0);
        put(static_cast<uint32_t>(sizeof(Digest)));
        body.insert(body.end(), oldDigest[i]->begin(), oldDigest[i]->end());
        ++pieces;
    }
    std::vector<uint8_t> journal(size, 0xff);
    const uint32_t words[kWords] = {kMagic, static_cast<uint32_t>(n), bounds, pieces,
                                    static_cast<uint32_t>(body.size())};
    for (size_t i = 0; i < kWords; ++i) put_be32(journal.data() + i * 4, words[i]);
    Digest bodyDigest = digest_of(body.data(), static_cast<uint32_t>(body.size()));
    std::memcpy(journal.data() + kWords * 4, bodyDigest.data(), bodyDigest.size());
    std::memcpy(journal.data() + kHeaderLen, body.data(), body.size());
    put_be32(journal.data() + size - 4, kKey);
    if (erase_sector_unless_blank(journalAt) != 0 || update_range(journal.data(), size, journalAt, 0) != 0)
        return Outcome::kFailed;

    int rc = run_plan(journalAt, plan, cur, want, progress, [&](const Step &s, std::vector<uint8_t> &bytes) {
        std::memcpy(bytes.data(), target.data() + size_t(s.index) * size, size);
        return true;
    });
    if (rc != 0 || l_eraseFlash(journalAt, size, 0) != 0) return Outcome::kFailed;
    return Outcome::kDone;
}

int resume(uint32_t journalAt) {
    const uint32_t size = flashGetSectorSize();
    std::vector<uint8_t> sector(size);
    if (l_readFlash(sector.data(), size, journalAt) != 0) return -1;
    Record rec;
    if (!parse(sector.data(), size, journalAt, rec)) return 1;
    const size_t n = rec.want.size();
    std::vector<Digest> cur;
    if (!read_digests(journalAt + size, n, cur)) return -1;
    // The journal's pieces, where they check out.
    std::vector<bool> inJournal(n);
    for (size_t i = 0; i < n; ++i) {
        inJournal[i] = !rec.pieces[i].empty() && digest_of(rec.pieces[i].data(), size) == rec.want[i];
    }
    const std::vector<uint8_t> blankSector(size, 0xff);
    Plan plan = make_plan(cur, rec.want, inJournal, digest_of(blankSector.data(), size));
    // A place that cannot be finished: the rewrite is undone where the
    // journal describes the old bytes and they are all still to be had.
    // Otherwise the sectors of such a place stay as they are (the item it
    // replaces may still be whole there) and the rest is finished.
    const auto places = missing_places(journalAt, rec, plan);
    if (!places.empty() && has_old_digests(rec)) {
        int rc = 0;
        if (undo(journalAt, rec, cur, rc)) return rc != 0 ? -1 : l_eraseFlash(journalAt, size, 0);
    }
    std::erase_if(plan.steps, [&](const Step &s) {
        const uint32_t at = journalAt + (s.index + 1) * size;
        return std::any_of(places.begin(), places.end(),
                           [&](const auto &p) { return at >= p.second && at < p.first; });
    });
    FLASH_DBG(flash_app_inner_debug, "Interrupted rewrite: %u sectors to finish\r\n",
              static_cast<unsigned>(plan.steps.size()));
    int rc = run_plan(journalAt, plan, cur, rec.want, 0, [&](const Step &s, std::vector<uint8_t> &bytes) {
        if (s.from >= 0)
            return l_readFlash(bytes.data(), size, journalAt + (static_cast<uint32_t>(s.from) + 1) * size) ==
                   0;
        if (s.from == kFromBlank) {
            std::fill(bytes.begin(), bytes.end(), 0xff);
            return true;
        }
        if (s.from == kFromJournal) {
            bytes = rec.pieces[s.index];
            return true;
        }
        return false;
    });
    if (rc != 0 || fill_missing(journalAt, rec, cur, places) != 0) return -1;
    return l_eraseFlash(journalAt, size, 0);
}

}  // namespace pc::flash::inner_journal
