/* What the settings above the configuration-file database reach inside it: the settings lock,
 * the list of databases in the order of opening, the search of one section's body whose end is
 * the next "[" outside a comment, and the edits and file operations on one database. Positions
 * are offsets into the database's text. */
#pragma once

#include <mutex>
#include <string_view>

#include "cmpinifile.h"

namespace ini {

constexpr RTS_SIZE kNoPosition = ~RTS_SIZE{0};

std::recursive_mutex& settings_lock();
IniDatabase* first_database();
IniDatabase* next_database(IniDatabase* db);

/* The "[" of the first header not commented out; a name beginning with "[" is searched as it
 * is. kNoPosition when there is none. */
RTS_SIZE section_header(const IniDatabase* db, const char* section);
/* The position after the "=" of key in the body of the header at header, or kNoPosition. */
RTS_SIZE key_value(const IniDatabase* db, RTS_SIZE header, const char* key);
/* The value at at: leading blanks, tabs and quotes skipped; its length at most limit - 1
 * characters (limit 0: no limit). */
std::string_view value_at(const IniDatabase* db, RTS_SIZE at, RTS_SIZE limit);

/* Replaces the stored value at at (without any leading skip) under the database's own lock. */
RTS_RESULT replace_value(IniDatabase* db, RTS_SIZE at, std::string_view value);
/* Inserts a key line into the section, which is appended first (and written) when missing. */
RTS_RESULT insert_value(IniDatabase* db, const char* section, std::string_view key, std::string_view value);
/* The text written to the file (held back while an update bracket is open), or read anew. */
RTS_RESULT write_back(IniDatabase* db);
RTS_RESULT reload(IniDatabase* db);
RTS_RESULT close_file(IniDatabase* db);

} // namespace ini
