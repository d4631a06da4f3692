// Placeholder definitions until the list and split modules land.
#include "lib/aplist.h"
#include "lib/strdel.h"
#include "lib/strsplit.h"

namespace sxpak {
void** aplist_create(int, aplist_free_fn) { return nullptr; }
int aplist_count(void**) { return 0; }
int aplist_rawcount(void**) { return 0; }
void** aplist_grow(void**, int) { return nullptr; }
int aplist_append(void***, void*) { return -1; }
void aplist_free(void**) {}
void aplist_destroy(void**) {}
int aplist_valid(void**) { return -1; }
AplistHeader* aplist_header(void**) { return nullptr; }
void** strsplit(const char*, const char*) { return nullptr; }
int strdel(char*, int) { return 0; }
}  // namespace sxpak
