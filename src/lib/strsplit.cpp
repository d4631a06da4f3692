#include "lib/strsplit.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "lib/aplist.h"
#include "lib/strdel.h"

namespace sxpak {

namespace {

bool is_delimiter(char c, const char* delimiters) {
    // strchr would also match the terminator itself.
    return c != '\0' && strchr(delimiters, c) != nullptr;
}

// Copies piece, drops its backslashes when one was seen, and appends it.
void add_piece(void*** list, const char* piece, bool backslash_seen) {
    char* copy = strdup(piece);
    if (copy == nullptr) return;
    if (backslash_seen) strdel(copy, '\\');
    if (aplist_append(list, copy) != 0) free(copy);
}

}  // namespace

void** strsplit(const char* text, const char* delimiters) {
    if (text == nullptr || text[0] == '\0') return nullptr;
    if (delimiters == nullptr) delimiters = "";

    // The scan edits the text (terminators, deleted quotes), so work on a copy.
    char* work = strdup(text);
    if (work == nullptr) return nullptr;

    long long delimiter_count = 0;
    for (const char* p = work; *p != '\0'; ++p) {
        if (is_delimiter(*p, delimiters)) ++delimiter_count;
    }
    const int capacity = delimiter_count < INT_MAX ? static_cast<int>(delimiter_count) + 1 : INT_MAX;
    void** list = aplist_create(capacity, free);
    if (list == nullptr) {
        free(work);
        return nullptr;
    }

    char* cursor = work;
    char* start = work;
    bool in_quotes = false;
    bool backslash_seen = false;
    bool complete = false;
    while (*cursor != '\0') {
        if (*cursor == '\\') {
            backslash_seen = true;
            if (cursor[1] == '\0') break;
            cursor += 2;
            continue;
        }
        bool after_close = false;
        if (*cursor == '"' && !backslash_seen) {
            if (!in_quotes) {
                in_quotes = true;
                start = cursor + 1;
                ++cursor;
                continue;
            }
            // Closing quote: it and every later quote vanish, so the cursor
            // now rests on the next character (or the end).
            in_quotes = false;
            strdel(cursor, '"');
            after_close = true;
        }
        const bool at_end = *cursor == '\0';
        if ((!in_quotes && is_delimiter(*cursor, delimiters)) || (after_close && at_end)) {
            *cursor = '\0';
            add_piece(&list, start, backslash_seen);
            backslash_seen = false;
            if (at_end) {
                complete = true;
                break;
            }
            start = cursor + 1;
        }
        ++cursor;
    }
    if (!complete && *start != '\0') add_piece(&list, start, backslash_seen);

    free(work);
    return list;
}

}  // namespace sxpak
