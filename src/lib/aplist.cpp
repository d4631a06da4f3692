#include "lib/aplist.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace sxpak {

// The magic must sit directly in front of slot 0, and slot 0 must stay aligned.
static_assert(offsetof(AplistHeader, magic) + sizeof(int) == sizeof(AplistHeader));
static_assert(sizeof(AplistHeader) % alignof(void*) == 0);

namespace {

void** slots_of(AplistHeader* header) {
    return reinterpret_cast<void**>(reinterpret_cast<unsigned char*>(header) + sizeof(AplistHeader));
}

AplistHeader* header_of(void** list) {
    return reinterpret_cast<AplistHeader*>(reinterpret_cast<unsigned char*>(list) - sizeof(AplistHeader));
}

}  // namespace

void** aplist_create(int capacity, aplist_free_fn free_fn) {
    if (capacity < 1) capacity = 1;
    // capacity + 1 slots after the header; refuse sizes that would wrap.
    const size_t slots = static_cast<size_t>(capacity) + 1;
    if (slots > (SIZE_MAX - sizeof(AplistHeader)) / sizeof(void*)) return nullptr;
    void* block = calloc(1, sizeof(AplistHeader) + slots * sizeof(void*));
    if (block == nullptr) return nullptr;
    auto* header = static_cast<AplistHeader*>(block);
    header->array = slots_of(header);
    header->capacity = capacity;
    header->no_free = free_fn == nullptr ? 1 : 0;
    header->free_fn = free_fn;
    header->magic = aplist_magic;
    return header->array;
}

AplistHeader* aplist_header(void** list) {
    AplistHeader* header = header_of(list);
    return header->magic == aplist_magic ? header : nullptr;
}

int aplist_valid(void** list) {
    return list != nullptr && aplist_header(list) != nullptr ? 0 : -1;
}

int aplist_rawcount(void** array) {
    int n = 0;
    while (array[n] != nullptr) ++n;
    return n;
}

int aplist_count(void** list) {
    if (list == nullptr) return 0;
    AplistHeader* header = aplist_header(list);
    if (header == nullptr) return aplist_rawcount(list);
    if (header->count != 0) return header->count;
    header->count = aplist_rawcount(list);
    return header->count;
}

void** aplist_grow(void** list, int extra) {
    if (list == nullptr || extra < 0) return nullptr;
    AplistHeader* old_header = aplist_header(list);
    if (old_header == nullptr) return nullptr;
    const int n = aplist_count(list);
    if (extra > INT_MAX - n) return nullptr;
    void** grown = aplist_create(n + extra, nullptr);
    if (grown == nullptr) return nullptr;
    memcpy(grown, list, static_cast<size_t>(n) * sizeof(void*));
    AplistHeader* header = aplist_header(grown);
    header->count = old_header->count;
    header->reserved = old_header->reserved;
    header->free_fn = old_header->free_fn;
    header->no_free = old_header->no_free;
    aplist_destroy(list);
    return grown;
}

int aplist_append(void*** list, void* element) {
    // A null element would end the array early and break the cached count.
    if (list == nullptr || *list == nullptr || element == nullptr) return -1;
    AplistHeader* header = aplist_header(*list);
    if (header == nullptr) return -1;
    const int i = aplist_count(*list);
    if (header->capacity <= i) {
        void** grown = aplist_grow(*list, header->capacity);
        if (grown == nullptr) {
            // Drop the list rather than leak it or leave a half-valid pointer behind.
            aplist_free(*list);
            *list = nullptr;
            return -1;
        }
        *list = grown;
        header = aplist_header(grown);
    }
    header->count = i + 1;
    (*list)[i] = element;
    (*list)[i + 1] = nullptr;
    return 0;
}

void aplist_free(void** list) {
    if (list == nullptr) return;
    AplistHeader* header = aplist_header(list);
    if (header == nullptr) return;  // not ours: touch nothing
    if (header->no_free == 0 && header->free_fn != nullptr) {
        const int n = header->count > 0 ? header->count : aplist_rawcount(list);
        for (int i = 0; i < n && list[i] != nullptr; ++i) {
            header->free_fn(list[i]);
            list[i] = nullptr;
        }
    }
    aplist_destroy(list);
}

void aplist_destroy(void** list) {
    if (list == nullptr) return;
    AplistHeader* header = aplist_header(list);
    if (header == nullptr) return;  // not ours: touch nothing
    for (int i = 0; list[i] != nullptr; ++i) list[i] = nullptr;
    header->magic = 0;
    free(header);
}

}  // namespace sxpak
