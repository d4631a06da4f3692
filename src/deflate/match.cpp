#include "deflate/match.h"

#include <bit>
#include <cstring>

#include "deflate/bitwriter.h"
#include "deflate/trees.h"
#include "gzstream/stream.h"

namespace sxpak {

MatchState matcher;

namespace {

MatchState& m = matcher;
uint8_t* const window = stream.window;

template <typename T>
inline T load(const uint8_t* p) {
    T v;
    memcpy(&v, p, sizeof v);
    return v;
}

inline uint64_t load_le64(const uint8_t* p) {
    uint64_t v = load<uint64_t>(p);
    if constexpr (std::endian::native != std::endian::little) v = __builtin_bswap64(v);
    return v;
}

// The keys of the skip chains: the first 6 or 16 bytes at a position.
struct ShortKey {
    static constexpr unsigned bytes = 6;
    uint64_t v;
    static ShortKey at(const uint8_t* p) { return {load_le64(p) & 0xFFFFFFFFFFFFu}; }
    bool operator==(const ShortKey&) const = default;
    unsigned hash() const { return static_cast<unsigned>((v * 0x9E3779B97F4A7C15u) >> (64 - skip_hash_bits)); }
};

struct LongKey {
    static constexpr unsigned bytes = 16;
    uint64_t a, b;
    static LongKey at(const uint8_t* p) { return {load<uint64_t>(p), load<uint64_t>(p + 8)}; }
    bool operator==(const LongKey&) const = default;
    unsigned hash() const {
        return static_cast<unsigned>(((a * 0x9E3779B97F4A7C15u) ^ (b * 0xC2B2AE3D27D4EB4Fu)) >> (64 - skip_hash_bits));
    }
};

// Adds position p to its hash chain; returns the previous position with the
// same hash (0 for none).
inline unsigned insert_string(unsigned p) {
    m.hash_key = ((m.hash_key << hash_shift) ^ window[p + 2]) & hash_mask;
    unsigned candidate = m.hash_heads[m.hash_key];
    m.chain_links[p & hash_mask] = static_cast<uint16_t>(candidate);
    m.hash_heads[m.hash_key] = static_cast<uint16_t>(p);
    m.chain_rank[p & hash_mask] = static_cast<uint16_t>(m.chain_rank[candidate & hash_mask] + 1);
    return candidate;
}

template <typename Key>
inline void skip_insert(SkipChain& chain, unsigned p) {
    unsigned h = Key::at(window + p).hash();
    chain.links[p & hash_mask] = chain.heads[h];
    chain.heads[h] = static_cast<uint16_t>(p);
}

// Brings the skip chains up to cur_pos. They lag behind the hash chains:
// the positions inserted after a match reach 256 bytes past the search
// position, where a 16-byte key may not have been read yet, while at a
// search the look-ahead holds 262 bytes or the rest of the input.
inline void skip_catch_up() {
    for (unsigned p = m.skip_next; p <= m.cur_pos; p++) {
        skip_insert<ShortKey>(m.short_skip, p);
        skip_insert<LongKey>(m.long_skip, p);
    }
    m.skip_next = m.cur_pos + 1;
}

inline uint16_t rebase(uint16_t e) { return e >= half_window ? static_cast<uint16_t>(e - half_window) : 0; }

// Slides the upper half down when the position nears the window's end, then
// reads as much as fits. A read error ends the input like end of file.
void window_refill() {
    unsigned more = window_size - m.ahead - m.cur_pos;
    if (m.cur_pos >= slide_at) {
        memcpy(window, window + half_window, half_window);
        m.match_pos -= half_window;
        m.cur_pos -= half_window;
        m.block_origin -= half_window;
        for (auto& e : m.hash_heads) e = rebase(e);
        for (auto& e : m.chain_links) e = rebase(e);
        for (SkipChain* chain : {&m.short_skip, &m.long_skip}) {
            for (auto& e : chain->heads) e = rebase(e);
            for (auto& e : chain->links) e = rebase(e);
        }
        m.skip_next = m.skip_next >= half_window ? m.skip_next - half_window : 0;
        more += half_window;
    }
    if (m.input_done) return;
    int n = engine_reader(window + m.cur_pos + m.ahead, more);
    if (n == 0 || n == -1) {
        m.input_done = 1;
    } else {
        m.ahead += static_cast<unsigned>(n);
    }
}

// Index of the first differing byte of two 8-byte loads (diff non-zero).
inline unsigned first_difference(uint64_t diff) {
    if constexpr (std::endian::native == std::endian::little)
        return static_cast<unsigned>(__builtin_ctzll(diff)) >> 3;
    else
        return static_cast<unsigned>(__builtin_clzll(diff)) >> 3;
}

// Length of the common prefix of scan and match whose first three bytes are
// known equal (equal hashes and equal first two bytes imply an equal third).
// The end is tested after every eight equal bytes, so the comparison reaches
// at most offset 258.
inline unsigned common_length(const uint8_t* scan, const uint8_t* match) {
    unsigned len = 3;
    for (;;) {
        uint64_t diff = load<uint64_t>(scan + len) ^ load<uint64_t>(match + len);
        if (diff != 0) {
            len += first_difference(diff);
            break;
        }
        len += 8;
        if (len >= max_match) break;
    }
    return len > max_match ? max_match : len;
}

// One search: the position, its limits, and the best match so far.
struct Search {
    const uint8_t* scan;
    unsigned limit;     // candidates at or below this position are too far
    unsigned budget;    // candidates the chain walk may look at
    uint16_t top_rank;  // rank of the first candidate
    unsigned best;
    uint16_t scan_end;  // the two bytes at the best length
    unsigned next_from; // candidates from here on have been looked at
};

// Takes the candidate at c when it is longer; true when the search is over.
inline bool try_candidate(Search& s, unsigned c) {
    unsigned len = common_length(s.scan, window + c);
    if (len <= s.best) return false;
    m.match_pos = c;
    s.best = len;
    if (len >= m.nice_len) return true;
    s.scan_end = load<uint16_t>(s.scan + len - 1);
    return false;
}

// Continues the search along the chain of positions sharing the scan's Key,
// which holds, in the same order, every candidate of the hash chain that can
// still win. Returns true when the search is over; false when the best
// length has reached next_threshold, for a chain with a longer key.
template <typename Key>
bool walk_skip_chain(Search& s, const SkipChain& chain, unsigned next_threshold) {
    const Key key = Key::at(s.scan);
    const uint16_t* const links = chain.links.data();
    const uint16_t* const rank = m.chain_rank.data();
    unsigned d = links[m.cur_pos & hash_mask];
    while (d >= s.next_from) d = links[d & hash_mask];
    for (; d > s.limit; d = links[d & hash_mask]) {
        const uint8_t* match = window + d;
        // Sharing the key puts d on the hash chain, where its rank tells
        // whether the chain walk would have got this far.
        bool shares_key = Key::at(match) == key;
        bool beyond = static_cast<uint16_t>(s.top_rank - rank[d & hash_mask]) >= s.budget;
        bool may_win = load<uint16_t>(match + s.best - 1) == s.scan_end;
        if (!(shares_key & (beyond | may_win))) continue;
        if (beyond || try_candidate(s, d)) return true;
        if (s.best >= next_threshold) {
            s.next_from = d;
            return false;
        }
    }
    return true;
}

// The longest match for cur_pos along the hash chain from candidate, looking
// at no more than the chain limit's candidates and none at or below the
// distance limit; leaves its position in match_pos when it beats prior_len.
[[gnu::noinline]] unsigned find_longest(unsigned candidate) {
    unsigned chain = m.chain_limit;
    if (m.prior_len >= m.good_len) chain >>= 2;
    Search s;
    s.scan = window + m.cur_pos;
    s.limit = m.cur_pos > max_dist ? m.cur_pos - max_dist : 0;
    s.budget = chain;
    s.top_rank = m.chain_rank[candidate & hash_mask];
    s.best = m.prior_len;
    s.scan_end = load<uint16_t>(s.scan + s.best - 1);
    s.next_from = candidate + 1;

    // Along the hash chain while short matches can still win.
    const uint16_t* const links = m.chain_links.data();
    const uint16_t scan_start = load<uint16_t>(s.scan);
    unsigned c = candidate;
    while (s.best < ShortKey::bytes - 1) {
        const uint8_t* match = window + c;
        // Only a candidate equal in the two bytes at the best length and in
        // the first two can do better.
        if (load<uint16_t>(match + s.best - 1) == s.scan_end && load<uint16_t>(match) == scan_start) {
            if (try_candidate(s, c)) return s.best;
            if (s.best >= ShortKey::bytes - 1) {
                s.next_from = c;
                break;
            }
        }
        c = links[c & hash_mask];
        if (c <= s.limit || --chain == 0) return s.best;
    }

    skip_catch_up();
    if (s.best < LongKey::bytes - 1 && walk_skip_chain<ShortKey>(s, m.short_skip, LongKey::bytes - 1)) return s.best;
    walk_skip_chain<LongKey>(s, m.long_skip, max_match + 1);
    return s.best;
}

inline const uint8_t* block_data() {
    return m.block_origin >= 0 ? window + m.block_origin : nullptr;
}

inline void flush_block(int last) {
    block_flush(block_data(), static_cast<uint32_t>(static_cast<int64_t>(m.cur_pos) - m.block_origin), last);
    m.block_origin = m.cur_pos;
}

}  // namespace

void match_begin(int level, uint16_t* flags) {
    if (level < 1 || level > 9) fatal_stream_error("bad pack level");
    m.engine_level = level;
    m.hash_heads.fill(0);
    m.short_skip.heads.fill(0);
    m.long_skip.heads.fill(0);
    m.skip_next = 0;
    const LevelParams& row = level_table[static_cast<unsigned>(level)];
    m.good_len = row.good_len;
    m.lazy_limit = row.lazy_limit;
    m.nice_len = row.nice_len;
    m.chain_limit = row.chain_limit;
    if (level == 1) *flags |= 4;
    if (level == 9) *flags |= 2;
    m.cur_pos = 0;
    m.block_origin = 0;

    int n = engine_reader(window, window_size);
    if (n == 0 || n == -1) {
        m.input_done = 1;
        m.ahead = 0;
        return;
    }
    m.ahead = static_cast<unsigned>(n);
    m.input_done = 0;
    while (m.ahead < min_lookahead && !m.input_done) window_refill();
    m.hash_key = 0;
    for (unsigned j = 0; j < min_match - 1; j++) m.hash_key = ((m.hash_key << hash_shift) ^ window[j]) & hash_mask;
}

int compress_stream() {
    int literal_pending = 0;
    unsigned cur_len = 2;
    unsigned prior_pos = 0;

    while (m.ahead != 0) {
        unsigned candidate = insert_string(m.cur_pos);
        m.prior_len = cur_len;
        prior_pos = m.match_pos;
        cur_len = min_match - 1;

        if (candidate != 0 && m.prior_len < m.lazy_limit && m.cur_pos - candidate <= max_dist) {
            cur_len = find_longest(candidate);
            if (cur_len > m.ahead) cur_len = m.ahead;
            if (cur_len == min_match && m.cur_pos - m.match_pos > too_far) cur_len = min_match - 1;
        }

        if (m.prior_len >= min_match && cur_len <= m.prior_len) {
            // The previous position's match is at least as good: send it.
            int flush = record_symbol(m.cur_pos - 1 - prior_pos, m.prior_len - min_match);
            m.ahead -= m.prior_len - 1;
            for (unsigned k = m.prior_len - 2; k != 0; k--) {
                m.cur_pos++;
                insert_string(m.cur_pos);
            }
            literal_pending = 0;
            cur_len = min_match - 1;
            m.cur_pos++;
            if (flush) flush_block(0);
        } else if (literal_pending) {
            if (record_symbol(0, window[m.cur_pos - 1])) flush_block(0);
            m.cur_pos++;
            m.ahead--;
        } else {
            literal_pending = 1;
            m.cur_pos++;
            m.ahead--;
        }
        while (m.ahead < min_lookahead && !m.input_done) window_refill();
    }
    if (literal_pending) (void)record_symbol(0, window[m.cur_pos - 1]);
    flush_block(1);
    return 0;
}

}  // namespace sxpak
