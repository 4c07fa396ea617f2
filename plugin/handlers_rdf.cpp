// RDF handlers: the scattering-factor background fit, the same background
// for a given scale and offset, and the sine transform into a new "RDF"
// image.
//
// Every image, range and count is checked before anything changes, so a
// refused call leaves the script's images and numbers as they were.
#include <climits>
#include <cmath>
#include <sstream>
#include <stdexcept>
#include <string>

#include "host/sdk/image_ref.h"
#include "plugin/frame.h"
#include "plugin/handlers.h"
#include "plugin/image_bridge.h"
#include "plugin/script_number.h"
#include "plugin/streams.h"
#include "profile/profile_samples.h"
#include "profile/rdf_free_fit.h"
#include "profile/rdf_kirkland.h"
#include "profile/rdf_transform.h"

namespace {

// A script number truncated toward zero; one that is not a number or lies
// outside the 32-bit range gives INT_MIN, which every check below refuses
// (or, for the transform range, treats as "outside the profile").
int Trunc(float v) { return orvan::TruncateScriptNumber(v); }

constexpr int kMaxRadii = 1000000;

uint32_t Width(LinkImage* image) { return Host::ImageGetDimensionSize(image, 0); }
uint32_t Lines(LinkImage* image) { return Host::ImageGetDimensionSize(image, 1); }

void Refuse(const char* function, const std::string& problem) {
    throw std::invalid_argument(std::string(function) + ": " + problem);
}

// The profile image receives the four result lines in place.
void RequireProfileImage(const char* function, LinkImage* image) {
    if (!Host::ImageIsValid(image) || Host::ImageGetDataType(image) != HOST_TYPE_REAL4 || Lines(image) < 4)
        Refuse(function, "the profile image must be a valid 4-byte real image at least 4 lines high");
}

void RequireElementImage(const char* function, LinkImage* image) {
    if (!Host::ImageIsValid(image) || Width(image) != kKirklandTableRows || Lines(image) < 1)
        Refuse(function, "the element image must be 14 pixels wide with one line per element");
}

// A number as a script prints it ("0", "-5", "12.5").
std::string Shortest(float v) {
    std::ostringstream out;
    out << v;
    return out.str();
}

// Each element line must describe an element that is there: numbers only,
// coefficients that are not all 0, a b above 0 beside each a that is not 0,
// and a fraction above 0 %. Anything else turns the background into
// not-a-number or the fit into a scale of nothing.
void RequireElementLines(const char* function, const arma::Mat<float>& elements) {
    for (arma::uword c = 0; c < elements.n_cols; ++c) {
        const std::string line = "element line " + std::to_string(c);
        const arma::Col<float> e = elements.col(c);
        if (!e.is_finite()) Refuse(function, line + " has a value that is not a number");
        if (arma::all(e == 0.0f)) Refuse(function, line + " is all zeros");
        if (!(e[13] > 0.0f))
            Refuse(function,
                   line + " has a fraction of " + Shortest(e[13]) + " %; each element needs a fraction above 0 %");
        if (arma::all(e.head(12) == 0.0f)) Refuse(function, line + " has no scattering coefficients (all 0)");
        // a / (s^2 + b) is infinite where s^2 = -b: at q = 0 for b = 0.
        for (arma::uword k = 0; k < 3; ++k)
            if (e[k] != 0.0f && !(e[3 + k] > 0.0f))
                Refuse(function, line + " has b" + std::to_string(k + 1) + " = " + Shortest(e[3 + k]) +
                                     "; each b beside an a that is not 0 must be above 0");
    }
}

// Refuses a sample of `line` in [lo, hi] (clipped) that is not finite.
void RequireFiniteSamples(const char* function, const char* line, const arma::Col<float>& profile, long long lo,
                          long long hi) {
    const long long bad = profile_samples::FirstNonFinite(profile, lo, hi);
    if (bad >= 0) Refuse(function, std::string(line) + " " + profile_samples::NonFiniteText(profile, bad));
}

// What every profile handler shares: the profile object from the two
// images and the script's numbers.
RDFProfile LoadProfile(LinkImage* profile, LinkImage* elements, float offset, float scale, float q_step) {
    RDFProfile p;
    p.profile = orvan::ImageToFloatMatrix(profile).col(0);
    p.elements = orvan::ImageToFloatMatrix(elements);
    p.q_step = q_step;
    p.offset = offset;
    p.scale = scale;
    return p;
}

float Read(const float* number) { return number ? *number : 0.0f; }

// A number in four digits for a Results line ("-30", "0.0004123").
std::string Brief(double v) {
    std::ostringstream out;
    out.precision(4);
    out << v;
    return out.str();
}

// The fit takes scale and offset by magnitude: where the profile asks for a
// negative one, that value ends at 0 and the other is off with it, yet the
// fit counts as done. Results says so, with what the profile asks for.
// Never fails (the range was checked).
void ReportFitWall(const RDFProfile& p, int lo, int hi) {
    KirklandFreeFitResult free;
    if (!KirklandFreeFit(p, lo, hi, free) || !(free.scale_below_zero || free.offset_below_zero)) return;
    std::string ended;
    if (free.scale_below_zero) ended = "scale (" + Brief(p.scale) + ")";
    if (free.offset_below_zero)
        ended += (ended.empty() ? "" : " and the ") + std::string("offset (") + Brief(p.offset) + ")";
    ResultsStream << "RDF_Kirklandfit: the " << ended << " ended at 0, the fit taking magnitudes only; the profile"
                  << " asks for scale " << Brief(free.scale) << " and offset " << Brief(free.offset) << std::endl;
}

// Why the transform range [lo, hi) of the script gave way to the whole of
// n samples. Never fails.
std::string TransformRangeProblem(float first, float last, int lo, int hi, int n) {
    if (lo == INT_MIN) return "first " + Shortest(first) + " is not a sample position";
    if (hi == INT_MIN) return "last " + Shortest(last) + " is not a sample position";
    if (lo < 0) return "first " + Shortest(first) + " is below 0";
    if (hi > n) return "last " + Shortest(last) + " is beyond the " + std::to_string(n) + " samples of line 2";
    return "first " + Shortest(first) + " and last " + Shortest(last) + " span fewer than 11 samples";
}

}  // namespace

void RDF_Kirklandfit(LinkImage* profile, LinkImage* elements, float* offset, float* scale, float first, float last,
                     float q_step, float) {
    orvan::RunFramed([&] {
        const char* fn = "RDF_Kirklandfit";
        RequireProfileImage(fn, profile);
        RequireElementImage(fn, elements);
        const int lo = Trunc(first), hi = Trunc(last);
        const long long m = Width(profile);
        // first == last is one point for two parameters: the fit fails and the
        // lines are written for the values given.
        if (lo < 0 || hi < lo || hi >= m)
            Refuse(fn, "the fit range must satisfy 0 <= first <= last < " + std::to_string(m));

        RDFProfile p = LoadProfile(profile, elements, Read(offset), Read(scale), q_step);
        RequireElementLines(fn, p.elements);
        RequireFiniteSamples(fn, "profile", p.profile, lo, hi);
        bool measured = false;
        for (int i = lo; i <= hi && !measured; ++i) measured = !profile_samples::IsMissing(p.profile[i]);
        if (!measured)
            Refuse(fn, "the fit range " + std::to_string(lo) + " to " + std::to_string(hi) +
                           " holds only missing samples (0)");
        if (KirklandFitCore(p, lo, hi)) ReportFitWall(p, lo, hi);
        orvan::StoreFloat(offset, p.offset);
        orvan::StoreFloat(scale, p.scale);
        orvan::CopyFloatMatrixToImage(profile, KirklandReducedIntensity(p));
    });
}

void RDF_Kirklandfunction(LinkImage* profile, LinkImage* elements, float* offset, float* scale, float q_step, float) {
    orvan::RunFramed([&] {
        const char* fn = "RDF_Kirklandfunction";
        RequireProfileImage(fn, profile);
        RequireElementImage(fn, elements);
        const RDFProfile p = LoadProfile(profile, elements, Read(offset), Read(scale), q_step);
        RequireElementLines(fn, p.elements);
        orvan::CopyFloatMatrixToImage(profile, KirklandReducedIntensity(p));
    });
}

void CalculateRDF(LinkImage* input, LinkImage** rdf, float first, float last, float q_step, float r_max,
                  float r_count) {
    orvan::RunFramed([&] {
        const char* fn = "CalculateRDF";
        if (!Host::ImageIsValid(input) || Lines(input) < 3)
            Refuse(fn, "the input image must be a valid image at least 3 lines high");
        const int n_r = Trunc(r_count);
        // Every radius is a sum over the whole range: a count far beyond any
        // useful sampling would run for hours.
        if (n_r < 1) Refuse(fn, "the number of radii must be at least 1");
        if (n_r > kMaxRadii) Refuse(fn, "the number of radii must be at most " + std::to_string(kMaxRadii));

        RDFProfile p;
        p.profile = orvan::ImageToFloatMatrix(input).col(2);
        const int n = static_cast<int>(p.profile.n_elem);
        const int asked_lo = Trunc(first), asked_hi = Trunc(last);
        int lo = asked_lo, hi = asked_hi;
        RDFTransformRange(n, lo, hi);
        RequireFiniteSamples(fn, "line 2", p.profile, lo, static_cast<long long>(hi) - 1);
        // The fit's q (1/d, per nm) becomes 2 pi / d per Angstrom.
        p.q_step = static_cast<float>(static_cast<double>(q_step) * 2.0 * 3.14159265358979 / 10.0);
        const arma::Col<float> g = RDFSineTransform(p, Trunc(first), Trunc(last), Trunc(r_max), n_r);
        orvan::StoreNewImage(rdf, orvan::FloatMatrixToRealImage(g, "RDF"));
        // The whole line stands in for a range that does not fit it: say so,
        // or a G of another range passes for the one asked.
        if (lo != asked_lo || hi != asked_hi)
            ResultsStream << fn << ": " << TransformRangeProblem(first, last, asked_lo, asked_hi, n)
                          << "; transformed the whole of line 2 instead, first 0, last " << n << std::endl;
    });
}
