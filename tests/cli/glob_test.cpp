// The pattern matcher on its own: the cases a greedy matcher gets wrong
// (a '*' that must give back characters), sets and ranges, separators, and
// brackets that do not close.
#include <gtest/gtest.h>

#include "glob.h"

namespace {

using qzcli::GlobMatch;

TEST(Glob, MatchesLikeTheShellButAcrossDirectories) {
    struct Case {
        const char *pattern;
        const char *name;
        bool match;
    };
    const Case cases[] = {
        {"*", "", true},
        {"*", "a\\b\\c", true},
        {"?", "", false},
        {"a*b*c", "aXbYbZc", true},  // the first '*' must not take the last 'b'
        {"a*b*c", "aXbYcZ", false},
        {"*a*a*a", "aaXaa", true},
        {"*.txt", "x.txt.bak", false},
        {"*.txt", "d\\e.txt", true},
        {"d/*/f", "d\\e\\f", true},
        {"d\\e", "d/e", true},
        {"???", "ab", false},
        {"[abc]x", "bx", true},
        {"[a-c]x", "dx", false},
        {"[!a-c]x", "dx", true},
        {"[^a-c]x", "ax", false},
        {"[]]", "]", true},        // ']' first in a set is a member
        {"[a-]", "-", true},       // '-' last in a set is a member
        {"[ab", "[ab", true},      // no closing ']': an ordinary '['
        {"[ab", "a", false},
        {"x[/]y", "x\\y", true},   // a separator in a set matches either one
        {"*[0-9].log", "e10.log", true},
        {"ABC", "abc", false},     // names are case-sensitive
    };
    for (const Case &c : cases)
        EXPECT_EQ(GlobMatch(c.pattern, c.name), c.match) << c.pattern << " ~ " << c.name;
}

}  // namespace
