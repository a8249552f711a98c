// Matching of directory entry names against the last component of a
// FindFirst pattern, with the wildcards of Win32 enumerations.
#pragma once

// Whether name matches pattern: '*' matches any run of characters, '?'
// exactly one character (a UTF-8 sequence counts as one), letters compare
// without regard to ASCII case, and a pattern ending in ".*" also matches as
// if that ".*" were absent, so "*.*" matches every name and "Data*.*" also
// matches "Data". Both texts are zero-terminated bytes.
bool WildcardMatch(const char* pattern, const char* name);
