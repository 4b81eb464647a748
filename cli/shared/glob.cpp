#include "glob.h"

namespace qzcli {
namespace {

char Fold(char c) { return c == '\\' ? '/' : c; }

// Matches one name character against the set starting at pattern[p] == '['.
// Sets *end to the index after the closing ']'. A '[' without a closing ']'
// is an ordinary character.
bool MatchSet(const std::string &pattern, size_t p, char c, size_t *end, bool *isSet) {
    size_t i = p + 1;
    bool negate = false;
    if (i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^')) {
        negate = true;
        ++i;
    }
    bool matched = false;
    bool first = true;
    while (i < pattern.size() && (pattern[i] != ']' || first)) {
        first = false;
        char low = Fold(pattern[i]);
        char high = low;
        if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
            high = Fold(pattern[i + 2]);
            i += 3;
        } else {
            i += 1;
        }
        const unsigned char u = static_cast<unsigned char>(c);
        if (static_cast<unsigned char>(low) <= u && u <= static_cast<unsigned char>(high))
            matched = true;
    }
    if (i >= pattern.size()) {
        *isSet = false;
        return c == '[';
    }
    *isSet = true;
    *end = i + 1;
    return matched != negate;
}

// Matches pattern[p] (one character or set) against c; *next is the index
// after it in the pattern.
bool MatchOne(const std::string &pattern, size_t p, char c, size_t *next) {
    if (pattern[p] == '?') {
        *next = p + 1;
        return true;
    }
    if (pattern[p] == '[') {
        bool isSet = false;
        size_t end = p + 1;
        const bool matched = MatchSet(pattern, p, Fold(c), &end, &isSet);
        *next = isSet ? end : p + 1;
        return matched;
    }
    *next = p + 1;
    return Fold(pattern[p]) == Fold(c);
}

}  // namespace

bool GlobMatch(const std::string &pattern, const std::string &name) {
    // Greedy matching with one point to come back to: the most recent '*'
    // and the name position it has swallowed up to. A later '*' supersedes
    // an earlier one, so no deeper backtracking is ever needed.
    size_t p = 0;
    size_t n = 0;
    size_t starP = std::string::npos;
    size_t starN = 0;
    while (n < name.size()) {
        size_t next = 0;
        if (p < pattern.size() && pattern[p] == '*') {
            starP = ++p;
            starN = n;
        } else if (p < pattern.size() && MatchOne(pattern, p, name[n], &next)) {
            p = next;
            ++n;
        } else if (starP != std::string::npos) {
            p = starP;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool Selected(const std::string &name, const std::vector<std::string> &patterns,
              const std::vector<std::string> &excludes, std::vector<bool> *used) {
    for (const std::string &exclude : excludes) {
        if (GlobMatch(exclude, name))
            return false;
    }
    if (patterns.empty())
        return true;
    bool selected = false;
    for (size_t p = 0; p < patterns.size(); ++p) {
        if (GlobMatch(patterns[p], name)) {
            (*used)[p] = true;
            selected = true;
        }
    }
    return selected;
}

}  // namespace qzcli
