// aplist: a NULL-terminated pointer array with a hidden header before slot 0.
//
// Callers hold and pass the address of slot 0, which can be walked like an
// argument vector. Every list argument below must be null or a list made by
// aplist_create (and not yet released): the header is found by reading the
// word in front of slot 0, which a plain array does not own. Only
// aplist_rawcount accepts an arbitrary NULL-terminated array.
#pragma once

namespace sxpak {

using aplist_free_fn = void (*)(void*);

struct AplistHeader {
    void** array;  // slot 0 of the same block
    int count;     // cached element count; 0 means "walk the slots"
    int capacity;  // element slots, not counting the terminator slot
    int reserved;
    int no_free;   // 1: the list borrows its elements
    aplist_free_fn free_fn;
    int spare;
    int magic;     // the word right before slot 0
};

constexpr int aplist_magic = 13688;

// A new empty list of at least one slot (capacity <= 0 becomes 1), or null
// when memory cannot be had. With free_fn the list owns its elements and
// releases each with it; with null it only borrows them.
[[nodiscard]] void** aplist_create(int capacity, aplist_free_fn free_fn);

// Number of elements; 0 for a null list.
[[nodiscard]] int aplist_count(void** list);

// Entries before the first NULL of any NULL-terminated array (not null).
[[nodiscard]] int aplist_rawcount(void** array);

// A new list with room for `extra` more elements, taking over the elements,
// count and ownership; the old list is released and must not be used again.
// Null (and the old list untouched) for a null or foreign list, a negative
// extra, or when memory cannot be had.
[[nodiscard]] void** aplist_grow(void** list, int extra);

// Appends a non-null element, growing the list (and replacing *list) when it
// is full. 0 on success. -1 when *list is null or element is null (nothing
// changes), and -1 when the list cannot grow: the old list is then released
// with aplist_free (its owned elements too) and *list is set to null; the
// element itself stays with the caller.
int aplist_append(void*** list, void* element);

// Releases the owned elements (if the list owns them), then the list. Null is ignored.
void aplist_free(void** list);

// Releases the list block only; the elements are left alone. Null is ignored.
void aplist_destroy(void** list);

// 0 when list is non-null and carries the magic, -1 otherwise.
[[nodiscard]] int aplist_valid(void** list);

// The header of a list (not null), or null when the magic is missing.
[[nodiscard]] AplistHeader* aplist_header(void** list);

}  // namespace sxpak
