// Time of a workbook export of an image as the export handler lays it out:
// one sheet of 8192 rows by 256 columns of single-precision pixel values
// (most of which an RK value cannot hold), built and written to a file.

#include "workbook/xls_document.h"
#include "workbook/xls_sheet.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

// Pixel-like values: a whole number every 64 columns, the rest not.
void Fill(CompoundFiles::XlsDocument& document, std::size_t width, std::size_t height) {
    document.New(1);
    CompoundFiles::XlsSheet* sheet = document.GetSheet(std::size_t{0});
    sheet->Cell(0, 0)->SetText("title");
    for (std::size_t x = 0; x < width; ++x)
        for (std::size_t y = 0; y < height; ++y) {
            const float v = x % 64 == 0 ? static_cast<float>(x + y) : std::sin(0.01f * x) * 100.0f + 0.001f * y;
            sheet->Cell(y + 2, x)->SetReal(v);
        }
}

std::string File() { return "/tmp/bench_export_" + std::to_string(getpid()) + ".xls"; }

// Cells set in the handler's order, then the workbook built and written.
void BM_ExportImage(benchmark::State& state) {
    const std::string file = File();
    for (auto _ : state) {
        std::remove(file.c_str());
        CompoundFiles::XlsDocument document;
        Fill(document, state.range(0), state.range(1));
        if (!document.SaveAs(file.c_str())) state.SkipWithError("could not write the workbook");
    }
    std::remove(file.c_str());
}

// Only the records built from the cells and the file written.
void BM_SaveImageSheet(benchmark::State& state) {
    const std::string file = File();
    for (auto _ : state) {
        state.PauseTiming();
        std::remove(file.c_str());
        CompoundFiles::XlsDocument document;
        Fill(document, state.range(0), state.range(1));
        state.ResumeTiming();
        if (!document.SaveAs(file.c_str())) state.SkipWithError("could not write the workbook");
    }
    std::remove(file.c_str());
}

}  // namespace

BENCHMARK(BM_ExportImage)->Args({256, 8192})->Args({256, 1024})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveImageSheet)->Args({256, 8192})->Args({256, 1024})->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
