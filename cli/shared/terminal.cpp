// Reading answers: the same on every platform once echo is dealt with.
#include "terminal.h"

#include <cstdio>

namespace qzcli {

bool ReadLine(std::string *line) {
    line->clear();
    int c;
    while ((c = std::getchar()) != EOF && c != '\n')
        line->push_back(static_cast<char>(c));
    if (!line->empty() && line->back() == '\r')
        line->pop_back();
    return c != EOF || !line->empty();
}

}  // namespace qzcli
