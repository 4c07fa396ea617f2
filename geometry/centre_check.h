#pragma once
// Whether a centre the simplex refinement found is the centre of the ring
// it started on, made sharper, or something the radius-weighted cost
// mistakes for one: the edge of a displaced ring (the ends of its arcsine
// spread pile up), a falling background whose mean over a displaced circle
// rises, or a search stopped by its box.

#include "geometry/center_refinement.h"
#include "geometry/diffraction_pattern.h"
#include "geometry/ring_sharpness.h"

#include <string>

// A maximum at the result this many radii or fewer from either end of the
// window is the flank of something beyond it (the edge of a displaced ring,
// a falling background), not a ring the window brackets. The edge of the
// 111 ring, displaced, showed 1 radius inside; good results kept 5 or more.
constexpr int kWindowEndMargin = 2;
// Pixels the result must keep from the edge of the cost's search box.
constexpr int kSearchEdgeMargin = 1;
// The ring of the plain circular profile (pixel means) must stand no lower
// above its valleys at the result than at the start (RingProminence, within
// kDullerShare): the sharpest ring mean of the radius-weighted cost can be
// the edge of a displaced ring, or another ring, whose profile is duller.
// On nearly round survey patterns, in place of a limit on the move beyond
// the start's ring peak, it took 291 refinements that moved closer (285)
// and none that ended more than 1 px off and farther than the start (19).
// The refinement stops within its tolerance of 0.5 pixel of the largest ring
// mean it can reach; one of the 8 centres this far from the result holding a
// ring mean larger by more than the share below means it stopped on the edge
// of a displaced ring instead. Around good results on noisy elliptical rings
// the largest of the 8 came out up to 1.6 % above the result's; around
// searches stuck on an edge, 6 to 8 %.
constexpr float kProbeDistance = 3.0f;
constexpr float kSharperShare = 0.02f;
// A pattern is point-symmetric about its centre, so its ring means about
// start + v and start - v agree when the start is that centre: a move of v
// from there found the edge of the displaced ring, never a sharper one. A
// refinement from a start off by v ends near the centre, and its mirror
// lies 2v off it, where the means fall. Moves beyond kMirrorMove pixels
// whose mirror keeps kMirrorShare of the result's largest mean or more are
// refused. Measured: starts within 0.15 px that moved 5 to 18 px, shares
// of 0.87 to 1.02; good refinements from 4 to 8 px off on the whole
// pattern, 0.79 at most; of 2209 good refinements from 2 to 6 px off on
// patterns of axis ratio 1 to 1.1, 44 moved more than 5 px with a share
// above 0.85.
constexpr float kMirrorMove = 5.0f;
constexpr float kMirrorShare = 0.85f;

enum class CentreRefusal { None, SearchBoxEdge, WindowEnd, Duller, SharperNearby, MirroredStart };

struct CentreJudgement {
    CentreRefusal refusal = CentreRefusal::None;
    int ring = -1;                             // radius of the largest ring mean at the result; -1: none
    int shift_bound = 0;                       // the cost's search box, pixels either way
    float moved = 0.0f;                        // pixels from the start to the result
    float mirror = 0.0f;                       // largest ring mean at 2 start - result over the result's
    float start_height = 0.0f, height = 0.0f;  // RingProminence of the circle at each
};

// Judges the result (x1, y1) of a refinement of `image` started at (x0, y0)
// with the cost object it minimised; the rules are checked in the order of
// CentreRefusal and the first that fails is returned. Throws only
// std::bad_alloc.
CentreJudgement JudgeRefinedCentre(const maxazimuthalintcenter& cost, const PixelView& image, int r_in, int r_out,
                                   float x0, float y0, float x1, float y1);

// RefineCenterCore, judged: on a refusal the pattern's centre is put back
// to where it started. Throws what RefineCenterCore throws (the pattern is
// then unchanged).
CentreJudgement RefineCenterJudged(DiffractionPattern& pattern, int r_in, int r_out);

// One line for the Results window: why the centre was refused.
std::string RefusalText(const CentreJudgement& judgement, int r_in, int r_out);
