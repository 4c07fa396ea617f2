// Reads element rows of the bundled Kirkland table for the RDF tests.
#ifndef ORVAN_TESTS_PROFILE_RDF_TEST_TABLE_H
#define ORVAN_TESTS_PROFILE_RDF_TEST_TABLE_H

#include <armadillo>
#include <array>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace rdftest {

// The twelve coefficients a1..a3, b1..b3, c1..c3, d1..d3 of one element, as
// doubles parsed from the text of examples/data/kirkland.csv.
inline std::array<double, 12> KirklandRow(const std::string& symbol) {
    const char* src = std::getenv("ORVAN_SOURCE_DIR");
    const std::string path = std::string(src ? src : ".") + "/examples/data/kirkland.csv";
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot open " + path);
    std::string line;
    while (std::getline(in, line)) {
        std::stringstream ss(line);
        std::string z, sym;
        std::getline(ss, z, ',');
        std::getline(ss, sym, ',');
        if (sym != symbol) continue;
        std::array<double, 12> row{};
        for (double& v : row) {
            std::string cell;
            std::getline(ss, cell, ',');
            v = std::stod(cell);
        }
        return row;
    }
    throw std::runtime_error("no element " + symbol);
}

// One column of the element table: the coefficients, an unread value, the
// concentration in percent.
inline arma::Col<float> ElementColumn(const std::string& symbol, float percent) {
    const std::array<double, 12> row = KirklandRow(symbol);
    arma::Col<float> c(14);
    for (int i = 0; i < 12; ++i) c[i] = static_cast<float>(row[i]);
    c[12] = -999.0f;  // never read
    c[13] = percent;
    return c;
}

// f(s) in double, s in 1/Angstrom, from the coefficients as floats (the
// precision the element image carries).
inline double ScatteringFactor(const arma::Col<float>& c, double s) {
    const double s2 = s * s;
    double f = 0;
    for (int i = 0; i < 3; ++i) f += double(c[i]) / (s2 + double(c[3 + i]));
    for (int i = 0; i < 3; ++i) f += double(c[6 + i]) * std::exp(-double(c[9 + i]) * s2);
    return f;
}

}  // namespace rdftest

#endif
