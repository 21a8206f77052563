// The shell-pattern match of POSIX for the test programs' Windows build, which has none:
// '*', '?' and bracket sets ("[abc]", "[a-z]", "[!x]"), no escapes, flags ignored.
#pragma once

inline int fnmatch(const char* pattern, const char* text, int /*flags*/) {
    const auto matchSet = [](const char*& p, char c) {
        const bool negate = *p == '!';
        if (negate) ++p;
        bool hit = false;
        for (bool first = true; *p && (first || *p != ']'); first = false, ++p) {
            if (p[1] == '-' && p[2] && p[2] != ']') {
                hit = hit || (c >= p[0] && c <= p[2]);
                p += 2;
            } else {
                hit = hit || c == *p;
            }
        }
        if (*p == ']') ++p;
        return hit != negate;
    };
    for (; *pattern; ++text) {
        if (*pattern == '*') {
            for (const char* t = text;; ++t) {
                if (fnmatch(pattern + 1, t, 0) == 0) return 0;
                if (!*t) return 1;
            }
        }
        if (!*text) return 1;
        if (*pattern == '[') {
            ++pattern;
            if (!matchSet(pattern, *text)) return 1;
        } else if (*pattern == '?' || *pattern == *text) {
            ++pattern;
        } else {
            return 1;
        }
    }
    return *text ? 1 : 0;
}
