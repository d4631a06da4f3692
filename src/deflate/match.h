// The match finder: LZ77 over the sliding window with hash chains and lazy
// evaluation, feeding the block encoder.
#pragma once

#include <array>
#include <cstdint>

namespace sxpak {

constexpr unsigned min_match = 3;
constexpr unsigned max_match = 258;
constexpr unsigned min_lookahead = max_match + min_match + 1;  // 262
constexpr unsigned half_window = 32768;
constexpr unsigned max_dist = half_window - min_lookahead;      // 32,506
constexpr unsigned slide_at = half_window + max_dist;           // 65,274
constexpr unsigned too_far = 4096;  // a 3-byte match farther than this is not worth it
constexpr unsigned hash_size = 32768;
constexpr unsigned hash_mask = hash_size - 1;
constexpr unsigned hash_shift = 5;

struct LevelParams {
    uint16_t good_len;    // from this previous length on, a quarter of the chain
    uint16_t lazy_limit;  // no search after a match this long
    uint16_t nice_len;    // a match this long ends the search
    uint16_t chain_limit; // candidates examined per search
};

constexpr std::array<LevelParams, 10> level_table = {{
    {0, 0, 0, 0},
    {4, 4, 8, 4},
    {4, 5, 16, 8},
    {4, 6, 32, 32},
    {4, 4, 16, 16},
    {8, 16, 32, 32},
    {8, 16, 128, 128},
    {8, 32, 128, 256},
    {32, 128, 258, 1024},
    {32, 258, 258, 4096},
}};

constexpr unsigned skip_hash_bits = 15;

// Positions by a hash of a longer key: a subsequence of the hash chains.
struct SkipChain {
    std::array<uint16_t, 1u << skip_hash_bits> heads;
    std::array<uint16_t, half_window> links;
};

struct MatchState {
    // Positions are window offsets; 0 in the tables means "none", so
    // position 0 never serves as a candidate.
    std::array<uint16_t, hash_size> hash_heads;   // latest position per hash
    std::array<uint16_t, half_window> chain_links; // previous position, same hash

    // Once the best length reaches a key's length less one, only candidates
    // that share the key's bytes can do better, so the search follows a
    // chain of positions with that key and skips the others. chain_rank
    // numbers the positions along their hash chain, which tells a skipping
    // search how many candidates the plain chain walk would have looked at,
    // so that it stops where that walk stops and finds the same match.
    std::array<uint16_t, half_window> chain_rank;
    SkipChain short_skip;  // keyed on 6 bytes
    SkipChain long_skip;   // keyed on 16 bytes
    uint32_t skip_next;    // first position not yet in the skip chains
    uint32_t hash_key;
    uint32_t cur_pos;
    int64_t block_origin;  // negative once the block's start slid out
    uint32_t ahead;        // valid bytes from cur_pos on
    int input_done;
    uint32_t match_pos;
    uint32_t prior_len;
    int engine_level;
    unsigned good_len;
    unsigned lazy_limit;
    unsigned nice_len;
    unsigned chain_limit;
};

extern MatchState matcher;

// Starts a member: clears the hash, reads the first input into the window and
// sets the extra-flags bits of the level in *flags.
void match_begin(int level, uint16_t* flags);

// Compresses the input to its end, the final block included.
int compress_stream();

}  // namespace sxpak
