#pragma once
// What the ring fit said on the Results window.

#include <cstdio>
#include <sstream>
#include <string>

// How many sectors fell back to their maxima, from the one line a call
// prints ("Fit failed, using maxima instead (N of M sectors)"): 0 without
// it, -1 when it comes more than once.
inline int SectorsFellBack(const std::string& text) {
    std::istringstream in(text);
    int lines = 0, n = 0;
    for (std::string l; std::getline(in, l);)
        if (l.rfind("Fit failed, using maxima instead (", 0) == 0) {
            ++lines;
            int m = 0;
            if (std::sscanf(l.c_str(), "Fit failed, using maxima instead (%d of", &m) == 1) n = m;
        }
    return lines > 1 ? -1 : n;
}
