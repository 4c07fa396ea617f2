#pragma once
// How the geometry loops cut their work: thread shares, pieces, chunks and
// strips. None of these changes a result: every sum keeps its order whatever
// the cut; they only set speed. Times quoted were taken on the development
// machine (bench_azimuthal, one thread, 1024 x 1024 pattern).

#include <cstddef>
#include <cstdint>

// Fewest image pixels a worker thread's band of bins gets (integration
// kernels, ring-pixel list, polar rebinning). Starting and joining a thread
// took 40-50 us; binning a pixel about 7 ns, so a band of 2^17 pixels runs
// about 1 ms, twenty times what its thread costs.
constexpr std::uint64_t kMinPixelsPerBand = std::uint64_t{1} << 17;

// Fewest items a task gets where an item is a single load with no radius
// and no share (the centre cost's offsets, the polar projection's samples):
// half the pixel threshold; not tuned separately.
constexpr std::uint64_t kMinLoadsPerTask = std::uint64_t{1} << 16;

// Pixels of a run judged at once by the sector and angle-bin tests from the
// run's two ends. Long enough that the two end tests cost little per pixel,
// short enough that a piece crossing a wedge side sends few pixels to the
// per-pixel test.
constexpr std::uint64_t kRunPiecePixels = 32;

// Pixels whose radii and shares are computed before they are summed: five
// arrays of 256 four-byte values, 5 KiB, stay in the first-level cache.
constexpr std::size_t kSharesChunkPixels = 256;

// Matrix rows copied together into a row-ordered strip (pixel_rows.h): a
// 64-byte cache line of a column holds 16 of them, so a strip reads whole
// lines, two per column.
constexpr std::uint64_t kStripRows = 32;

// Floats added to each strip row: one 64-byte cache line, so that rows of a
// power-of-two length do not all map to the same cache sets.
constexpr std::uint64_t kStripPadding = 16;

// Columns ahead of the copy that a strip prefetches: the hardware prefetcher
// does not follow a stride of a whole column.
constexpr std::uint64_t kStripPrefetchColumns = 16;

// The band split counts pixels on one matrix row in every rows / 256: 256
// sampled rows share the work evenly enough, and the estimate decides only
// the split, never a sum.
constexpr std::uint64_t kBandSampleRows = 256;

// Angles of the polar projection walked together outward: the pixels they
// read and the samples they write stay close together.
constexpr std::uint32_t kProjectionAngleBlock = 64;
