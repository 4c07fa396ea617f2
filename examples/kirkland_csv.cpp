#include "kirkland_csv.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

double KirklandCoefficients::ScatteringFactor(double s) const {
    const double s2 = s * s;
    double f = 0;
    for (int i = 0; i < 3; ++i) f += c[i] / (s2 + c[3 + i]);
    for (int i = 0; i < 3; ++i) f += c[6 + i] * std::exp(-c[9 + i] * s2);
    return f;
}

KirklandCoefficients ReadKirklandElement(const std::string& path, const std::string& symbol) {
    errno = 0;
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path + (errno ? std::string(": ") + std::strerror(errno) : ""));
    std::string line;
    while (std::getline(in, line)) {
        std::stringstream row(line);
        std::string z, sym;
        std::getline(row, z, ',');
        std::getline(row, sym, ',');
        if (sym != symbol) continue;
        KirklandCoefficients k;
        for (double& v : k.c) {
            std::string cell;
            std::getline(row, cell, ',');
            char* end = nullptr;
            v = std::strtod(cell.c_str(), &end);
            if (cell.empty() || end == cell.c_str() || !std::isfinite(v))
                throw std::runtime_error("bad coefficient for " + symbol + " in " + path);
        }
        return k;
    }
    throw std::runtime_error("no element " + symbol + " in " + path);
}
