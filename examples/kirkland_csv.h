// Reading one element's coefficients from the bundled Kirkland table.
#ifndef ORVAN_EXAMPLES_KIRKLAND_CSV_H
#define ORVAN_EXAMPLES_KIRKLAND_CSV_H

#include <array>
#include <string>

// a1..a3, b1..b3, c1..c3, d1..d3 of one element.
struct KirklandCoefficients {
    std::array<double, 12> c{};
    // Electron scattering factor (Angstrom) at s = 1/d in 1/Angstrom.
    double ScatteringFactor(double s) const;
};

// Reads the row of `symbol` from a table with the header
// Z,symbol,a1,a2,a3,b1,b2,b3,c1,c2,c3,d1,d2,d3.
// Throws std::runtime_error when the file cannot be read ("cannot read PATH:
// reason"), the element is missing or a coefficient is not a number.
KirklandCoefficients ReadKirklandElement(const std::string& path, const std::string& symbol);

#endif
