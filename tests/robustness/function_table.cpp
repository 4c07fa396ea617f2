#include "tests/robustness/function_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <stdexcept>

#include "tests/geometry/synthetic_pattern.h"
#include "tests/profile/peak_test_profiles.h"
#include "tests/profile/rdf_test_table.h"

namespace robust {

namespace {

using orvanhost::Arg;
using orvanhost::DataType;
using orvanhost::ImagePtr;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::vector<float> PixelsOf(const ImagePtr& image) {
    std::vector<float> out;
    for (double v : image->Pixels()) out.push_back(static_cast<float>(v));
    return out;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

// The sentinel a script's image variable holds before a call.
ImagePtr Held() { return RealImage(3, 1, {7, 8, 9}); }

std::vector<float> Ramp(size_t n, float step) {
    std::vector<float> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<float>(i) * step + 1.0f;
    return v;
}

// Ring pattern arguments: centre and the ring's bracket.
constexpr double kCx = 32.4, kCy = 31.7, kInner = 12.5, kOuter = 24.0;

CaseArgs PatternArgs(const Kit& k) { return {ImageValue(RealImage(Kit::kPattern, Kit::kPattern, k.pattern))}; }

CaseArgs Join(CaseArgs a, std::vector<Value> b) {
    for (Value& v : b) a.push_back(std::move(v));
    return a;
}

std::vector<FunctionSpec> MakeFunctions() {
    const Param image{Kind::Image, "image"}, slot{Kind::Slot, "variable"};
    auto f = [](const char* role) { return Param{Kind::Float, role}; };
    auto r = [](const char* role) { return Param{Kind::FloatRef, role}; };
    auto s = [](const char* role) { return Param{Kind::String, role}; };
    std::vector<FunctionSpec> fs;

    fs.push_back({"SetORVANverbosity", {f("level")}, [](const Kit&) { return CaseArgs{FloatValue(0)}; }});
    fs.push_back({"GuessCenter", {image, r("x"), r("y")}, [](const Kit& k) {
                      return Join(PatternArgs(k), {FloatRefValue(30), FloatRefValue(33)});
                  }});
    fs.push_back({"GuessInnerandOuterRadius",
                  {image, f("half width"), f("x"), f("y"), r("ring"), r("inner guess"), r("outer guess")},
                  [](const Kit& k) {
                      return Join(PatternArgs(k), {FloatValue(4), FloatValue(kCx), FloatValue(kCy), FloatRefValue(18),
                                                   FloatRefValue(0), FloatRefValue(0)});
                  }});
    fs.push_back({"RefineCenter", {image, r("x"), r("y"), r("ring"), r("inner"), r("outer")}, [](const Kit& k) {
                      return Join(PatternArgs(k), {FloatRefValue(31), FloatRefValue(33), FloatRefValue(0),
                                                   FloatRefValue(kInner), FloatRefValue(kOuter)});
                  }});
    for (const char* name : {"RefineCenterEllipticity", "RefineCenterEllipticityFit"})
        fs.push_back({name,
                      {image, r("x"), r("y"), r("angle"), r("ratio"), r("ring"), r("inner"), r("outer"),
                       f("angle bins"), f("half width")},
                      [](const Kit& k) {
                          return Join(PatternArgs(k), {FloatRefValue(31), FloatRefValue(33), FloatRefValue(0),
                                                       FloatRefValue(1), FloatRefValue(0), FloatRefValue(kInner),
                                                       FloatRefValue(kOuter), FloatValue(16), FloatValue(2)});
                      }});
    fs.push_back({"RefineCenterEllipticitySimplex",
                  {image, r("x"), r("y"), r("angle"), r("ratio"), r("fifth"), r("inner"), r("outer")},
                  [](const Kit& k) {
                      return Join(PatternArgs(k),
                                  {FloatRefValue(kCx), FloatRefValue(kCy), FloatRefValue(10), FloatRefValue(1.05),
                                   FloatRefValue(0), FloatRefValue(kInner), FloatRefValue(kOuter)});
                  }});
    fs.push_back({"AzimuthalIntegral", {image, slot, f("x"), f("y"), f("radius"), f("plain")}, [](const Kit& k) {
                      return Join(PatternArgs(k),
                                  {SlotValue(Held()), FloatValue(kCx), FloatValue(kCy), FloatValue(0), FloatValue(0)});
                  }});
    fs.push_back({"AzimuthalIntegralEllipticity",
                  {image, slot, f("x"), f("y"), f("angle"), f("ratio"), f("radius"), f("plain")},
                  [](const Kit& k) {
                      return Join(PatternArgs(k), {SlotValue(Held()), FloatValue(kCx), FloatValue(kCy), FloatValue(30),
                                                   FloatValue(1.1), FloatValue(20), FloatValue(0)});
                  }});
    fs.push_back({"AzimuthalIntegralSektor",
                  {image, slot, f("x"), f("y"), f("start angle"), f("end angle"), f("radius"), f("plain")},
                  [](const Kit& k) {
                      return Join(PatternArgs(k), {SlotValue(Held()), FloatValue(kCx), FloatValue(kCy), FloatValue(10),
                                                   FloatValue(100), FloatValue(1), FloatValue(1)});
                  }});
    fs.push_back({"AzimuthalIntegralSektorEllipticity",
                  {image, slot, f("x"), f("y"), f("angle"), f("ratio"), f("start angle"), f("end angle"), f("radius"),
                   f("plain")},
                  [](const Kit& k) {
                      return Join(PatternArgs(k),
                                  {SlotValue(Held()), FloatValue(kCx), FloatValue(kCy), FloatValue(30), FloatValue(1.1),
                                   FloatValue(350), FloatValue(10), FloatValue(0), FloatValue(0)});
                  }});
    fs.push_back({"AzimuthalProjection", {image, slot, f("x"), f("y"), f("angle count")}, [](const Kit& k) {
                      return Join(PatternArgs(k), {SlotValue(Held()), FloatValue(kCx), FloatValue(kCy), FloatValue(0)});
                  }});
    fs.push_back({"PeakFindPreFit",
                  {image, slot, slot, f("min height"), f("valley height"), f("start"), f("end"), f("smoothing")},
                  [](const Kit& k) {
                      return CaseArgs{ImageValue(RealImage(Kit::kPeakWidth, 4, k.peak_profile)),
                                      SlotValue(Held()),
                                      SlotValue(Held()),
                                      FloatValue(5),
                                      FloatValue(5),
                                      FloatValue(5),
                                      FloatValue(155),
                                      FloatValue(0)};
                  }});
    auto peak_images = [](const Kit& k) {
        return CaseArgs{ImageValue(RealImage(Kit::kPeakWidth, 4, k.peak_profile)),
                        ImageValue(RealImage(4, k.peak_count, k.peaks)),
                        ImageValue(RealImage(k.point_count, 2, k.points))};
    };
    fs.push_back({"PreFit", {image, image, image, f("first point"), f("last point")}, [peak_images](const Kit& k) {
                      return Join(peak_images(k), {FloatValue(0), FloatValue(k.point_count - 1)});
                  }});
    fs.push_back({"PeakFit", {image, image, image}, peak_images});

    auto export_profile = [](const Kit& k) {
        WriteBytes(k.book, k.workbook);
        return ImageValue(RealImage(20, 1, Ramp(20, 1.5f)));
    };
    fs.push_back({"saveprofileasxlslong",
                  {image, s("file"), s("labels"), f("step"), s("title"), s("sheet")},
                  [export_profile](const Kit& k) {
                      return CaseArgs{export_profile(k), StringValue(k.book),  StringValue("q I"),
                                      FloatValue(0.5),   StringValue("Title"), StringValue("Sheet A")};
                  }});
    fs.push_back({"saveprofileasxls", {image, s("file"), s("labels"), f("step")}, [export_profile](const Kit& k) {
                      return CaseArgs{export_profile(k), StringValue(k.book), StringValue("q I"), FloatValue(0.5)};
                  }});
    fs.push_back({"saveimageasxls", {image, s("file"), s("labels"), s("title"), s("sheet")}, [](const Kit& k) {
                      WriteBytes(k.book, k.workbook);
                      return CaseArgs{ImageValue(RealImage(5, 4, Ramp(20, 0.25f))), StringValue(k.book),
                                      StringValue("a b c d e"), StringValue("Image"), StringValue("Pixels")};
                  }});
    fs.push_back({"GetMouseState", {s("button")}, [](const Kit&) { return CaseArgs{StringValue("lm")}; }});
    fs.push_back({"FakeESC", {}, [](const Kit&) { return CaseArgs{}; }});

    auto rdf_images = [](const Kit& k) {
        return CaseArgs{ImageValue(RealImage(Kit::kRdfWidth, 4, k.rdf_profile)),
                        ImageValue(RealImage(14, 1, k.elements))};
    };
    fs.push_back({"RDF_Kirklandfit",
                  {image, image, r("offset"), r("scale"), f("first"), f("last"), f("q step"), f("unused")},
                  [rdf_images](const Kit& k) {
                      return Join(rdf_images(k), {FloatRefValue(100), FloatRefValue(3), FloatValue(10), FloatValue(140),
                                                  FloatValue(0.05), FloatValue(0)});
                  }});
    fs.push_back(
        {"RDF_Kirklandfunction",
         {image, image, r("offset"), r("scale"), f("q step"), f("unused")},
         [rdf_images](const Kit& k) {
             return Join(rdf_images(k), {FloatRefValue(120), FloatRefValue(3.5), FloatValue(0.05), FloatValue(0)});
         }});
    fs.push_back({"CalculateRDF",
                  {image, slot, f("first"), f("last"), f("q step"), f("r max"), f("radius count")},
                  [](const Kit& k) {
                      return CaseArgs{ImageValue(RealImage(Kit::kRdfWidth, 4, k.rdf_input)),
                                      SlotValue(Held()),
                                      FloatValue(10),
                                      FloatValue(140),
                                      FloatValue(0.05),
                                      FloatValue(10),
                                      FloatValue(100)};
                  }});
    return fs;
}

// A copy of src with other dimensions and pixel type: pixels inside src's
// first plane are kept, the rest are 0 (planes beyond the first repeat it).
ImagePtr Reshaped(const orvanhost::Image& src, std::vector<uint32_t> dims, DataType type) {
    ImagePtr out = orvanhost::MakeImage(src.Name(), DataType::Real4, dims);
    const uint32_t w = src.DimensionSize(0), h = src.DimensionSize(1);
    const uint32_t ow = out->DimensionSize(0), oh = out->DimensionSize(1), od = out->DimensionSize(2);
    for (uint32_t z = 0; z < od; ++z)
        for (uint32_t y = 0; y < oh; ++y)
            for (uint32_t x = 0; x < ow; ++x)
                if (x < w && y < h) out->SetPixel(x, y, z, src.GetPixel(x, y));
    if (type != DataType::Real4) out->ChangeDataType(type);
    return out;
}

Variant NumberVariant(const char* kind, double v) {
    return {kind, [v](Value& value, const Kit&) { value.number = v; }};
}

Variant TextVariant(const char* kind, std::string text) {
    return {kind, [text](Value& value, const Kit&) { value.text = text; }};
}

}  // namespace

orvanhost::ImagePtr RealImage(uint32_t w, uint32_t h, const std::vector<float>& px) {
    return orvanhost::MakeRealImage(w, h, px);
}

Kit MakeKit(orvanhost::HostProgram& host) {
    Kit k;
    char dir[] = "/tmp/orvan-robust-XXXXXX";
    if (!mkdtemp(dir)) throw std::runtime_error("no scratch folder");
    k.dir = dir;
    k.book = k.dir + "/book.xls";

    RingSpec ring;
    ring.width = ring.height = Kit::kPattern;
    ring.cx = kCx;
    ring.cy = kCy;
    ring.radii = {18.0};
    ring.sigma = 1.5;
    const arma::Mat<float> pattern = MakeRingPattern(ring);
    k.pattern.assign(pattern.begin(), pattern.end());

    const std::vector<peak_test::TruePeak> truth = {{50, 300, 3, 0.1}, {110, 250, 3, 0.05}};
    const arma::Col<float> line =
        peak_test::MakeProfile(Kit::kPeakWidth, truth, [](double x) { return 100 - 0.1 * x; });
    k.peak_profile.assign(static_cast<size_t>(Kit::kPeakWidth) * 4, 0.0f);
    std::copy(line.begin(), line.end(), k.peak_profile.begin());

    const arma::Col<float> gold = rdftest::ElementColumn("Au", 100.0f);
    k.elements.assign(gold.begin(), gold.end());

    orvan_test::CaptureStdout quiet;
    {
        ImagePtr profile = RealImage(Kit::kPeakWidth, 4, k.peak_profile);
        ImagePtr peaks, points;
        host.Call("PeakFindPreFit", {Arg::Image(profile), Arg::ImageSlot(&peaks), Arg::ImageSlot(&points),
                                     Arg::Number(5), Arg::Number(5), Arg::Number(5), Arg::Number(155), Arg::Number(0)});
        if (!peaks || !points) throw std::runtime_error("the peak search found nothing");
        k.peak_count = peaks->DimensionSize(1);
        k.point_count = points->DimensionSize(0);
        k.peaks = PixelsOf(peaks);
        k.points = PixelsOf(points);
    }
    {
        // Line 0 of the profile is the background of chosen scale and offset.
        ImagePtr made = RealImage(Kit::kRdfWidth, 4, {});
        ImagePtr elements = RealImage(14, 1, k.elements);
        double offset = 120, scale = 3.5;
        host.Call("RDF_Kirklandfunction", {Arg::Image(made), Arg::Image(elements), Arg::NumberRef(&offset),
                                           Arg::NumberRef(&scale), Arg::Number(0.05), Arg::Number(0)});
        const std::vector<float> px = PixelsOf(made);
        k.rdf_profile.assign(px.size(), 0.0f);
        for (uint32_t i = 0; i < Kit::kRdfWidth; ++i)
            k.rdf_profile[i] = px[Kit::kRdfWidth + i] * (1.0f + 0.05f * std::sin(0.3f * static_cast<float>(i)));
        ImagePtr profile = RealImage(Kit::kRdfWidth, 4, k.rdf_profile);
        host.Call("RDF_Kirklandfunction", {Arg::Image(profile), Arg::Image(elements), Arg::NumberRef(&offset),
                                           Arg::NumberRef(&scale), Arg::Number(0.05), Arg::Number(0)});
        k.rdf_input = PixelsOf(profile);
    }
    {
        const std::string seed = k.dir + "/seed.xls";
        ImagePtr profile = RealImage(20, 1, Ramp(20, 2.0f));
        host.Call("saveprofileasxls", {Arg::Image(profile), Arg::Text(seed), Arg::Text("x y"), Arg::Number(1)});
        const std::optional<std::string> bytes = ReadFile(seed);
        if (!bytes) throw std::runtime_error("the export wrote no workbook");
        k.workbook = *bytes;
    }
    const std::string shown = host.ResultsText();
    host.ClearResults();
    if (shown.find("exception caught") != std::string::npos) throw std::runtime_error("kit: " + shown);
    return k;
}

const std::vector<FunctionSpec>& Functions() {
    static const std::vector<FunctionSpec> fs = MakeFunctions();
    return fs;
}

const FunctionSpec& Function(const std::string& name) {
    for (const FunctionSpec& f : Functions())
        if (f.name == name) return f;
    throw std::invalid_argument("no function " + name);
}

std::vector<Variant> VariantsFor(const Param& param, const Value& valid) {
    std::vector<Variant> out;
    switch (param.kind) {
        case Kind::Image: {
            if (!valid.image) break;
            const uint32_t w = valid.image->DimensionSize(0), h = valid.image->DimensionSize(1);
            auto shape = [](std::vector<uint32_t> dims, DataType type = DataType::Real4) {
                return [dims, type](Value& v, const Kit&) { v.image = Reshaped(*v.image, dims, type); };
            };
            out.push_back({"not valid", [](Value& v, const Kit&) { v.image.reset(); }});
            out.push_back({"1 x 1", shape({1, 1})});
            out.push_back({"one-dimensional", shape({w})});
            if (w > 2) out.push_back({"too narrow", shape({2, h})});
            if (h > 1) out.push_back({"one line high", shape({w, 1})});
            if (h > 2) out.push_back({"one line short", shape({w, h - 1})});
            out.push_back({"three-dimensional", shape({w, h, 2})});
            out.push_back({"int16 pixels", shape({w, h}, DataType::Int16)});
            out.push_back({"uint8 pixels", shape({w, h}, DataType::UInt8)});
            out.push_back({"real8 pixels", shape({w, h}, DataType::Real8)});
            out.push_back({"complex8 pixels", shape({w, h}, DataType::Complex8)});
            break;
        }
        case Kind::Slot: out.push_back({"empty variable", [](Value& v, const Kit&) { v.image.reset(); }}); break;
        case Kind::Float:
        case Kind::FloatRef:
            out.push_back(NumberVariant("0", 0));
            out.push_back(NumberVariant("-1", -1));
            out.push_back(NumberVariant("NaN", kNaN));
            out.push_back(NumberVariant("+inf", kInf));
            out.push_back(NumberVariant("-inf", -kInf));
            out.push_back(NumberVariant("1e9", 1e9));
            out.push_back(NumberVariant("-1e9", -1e9));
            out.push_back(NumberVariant("1e30", 1e30));
            break;
        case Kind::String: {
            const std::string bad_bytes("\xff\xfe\x80\xc3\x28", 5);
            if (param.role == "file") {
                out.push_back(TextVariant("empty", ""));
                out.push_back(
                    {"very long", [](Value& v, const Kit& k) { v.text = k.dir + "/" + std::string(1 << 17, 'x'); }});
                out.push_back({"invalid bytes",
                               [bad_bytes](Value& v, const Kit& k) { v.text = k.dir + "/" + bad_bytes + ".xls"; }});
                out.push_back(
                    {"embedded NUL", [](Value& v, const Kit& k) { v.text = k.book + std::string("\0.txt", 5); }});
                out.push_back({"missing folder",
                               [](Value& v, const Kit& k) { v.text = k.dir + "/no-such-folder/sub/book.xls"; }});
                out.push_back({"a folder", [](Value& v, const Kit& k) { v.text = k.dir; }});
                break;
            }
            out.push_back(TextVariant("empty", ""));
            out.push_back(TextVariant("very long", std::string(1 << 17, 'x')));
            out.push_back(TextVariant("invalid bytes", bad_bytes));
            out.push_back(TextVariant("embedded NUL", std::string("lm\0cd", 5)));
            if (param.role == "labels") {
                std::string words;
                for (int i = 0; i < 300; ++i) words += "w" + std::to_string(i) + " ";
                out.push_back(TextVariant("300 words", words));
            }
            break;
        }
    }
    return out;
}

}  // namespace robust
