// aplist: a NULL-terminated pointer array with a hidden header before slot 0.
#pragma once

namespace sxpak {

using aplist_free_fn = void (*)(void*);

struct AplistHeader {
    void** array;
    int count;
    int capacity;
    int reserved;
    int no_free;
    aplist_free_fn free_fn;
    int spare;
    int magic;     // the word right before slot 0
};

constexpr int aplist_magic = 13688;

[[nodiscard]] void** aplist_create(int capacity, aplist_free_fn free_fn);
[[nodiscard]] int aplist_count(void** list);
[[nodiscard]] int aplist_rawcount(void** array);
[[nodiscard]] void** aplist_grow(void** list, int extra);
int aplist_append(void*** list, void* element);
void aplist_free(void** list);
void aplist_destroy(void** list);
[[nodiscard]] int aplist_valid(void** list);
[[nodiscard]] AplistHeader* aplist_header(void** list);

}  // namespace sxpak
