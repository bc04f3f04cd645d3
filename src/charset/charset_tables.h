// The two active translation tables, the substitute for codes without an
// entry, and the lookups between CP/M codes and host characters.
#pragma once

#include <cwchar>

#include "charset/builtin_charsets.h"

/// An active table: one entry per CP/M code, each null (absent) or an owned
/// text of zero or one wide character.
using charset_entries = wchar_t* [CPM_CODE_COUNT];

extern charset_entries charset_table;
extern charset_entries alt_charset_table;

/// Nonzero: both lookups translate through alt_charset_table (option -a).
extern int use_alt_charset;

/// The substitute for CP/M codes without an entry: null, empty or one character.
extern wchar_t* unprintable_char;

/// Completes table from a column of builtin_charsets: every absent entry whose
/// cell is present gets a copy of it; present entries stay as they are.
/// Afterwards the table is taken as final and the reverse lookup indexes it.
void fill_charset_table(charset_entries& table, int column);

/// Empties table: every entry's text freed and the entry left unset.
void clear_charset_table(charset_entries& table);

/// Takes table as final again once its entries have been replaced: the
/// reverse lookup indexes it anew.
void reindex_charset_table(charset_entries& table);

/// The host character for a CP/M code (0..255), or -1 when it has none.
/// Codes 0-31 and 127 pass through unchanged.
int cpm_to_host_char(int code);

/// The lowest CP/M code whose entry holds c, or -1 when none does. Characters
/// 0-31 and 127 pass through unchanged.
int host_to_cpm_char(wchar_t c);

/// host_to_cpm_char done by the plain search of codes 32-255, without the
/// index that fill_charset_table builds; the index must agree with it.
int host_to_cpm_char_by_search(wchar_t c);

/// Returns both tables, the flag and the substitute to their state at
/// process start, freeing the texts they held. For tests only.
void reset_charsets_for_testing();
