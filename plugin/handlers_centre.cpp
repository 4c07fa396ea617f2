// Centre and ellipticity handlers: placeholders until their analysis lands.
#include "plugin/frame.h"
#include "plugin/handlers.h"

float GuessCenter(DMImage *, float *, float *) {
  float result = 1.0f;
  orvan::RunFramed([] { orvan::NotBuiltYet("GuessCenter"); });
  return result;
}

float GuessInnerandOuterRadius(DMImage *, float, float, float, float *, float *, float *) {
  float result = 1.0f;
  orvan::RunFramed([] { orvan::NotBuiltYet("GuessInnerandOuterRadius"); });
  return result;
}

float RefineCenter(DMImage *, float *, float *, float *, float *, float *) {
  float result = 0.0f;
  orvan::RunFramed([] { orvan::NotBuiltYet("RefineCenter"); });
  return result;
}

float RefineCenterEllipticity(DMImage *, float *, float *, float *, float *, float *, float *, float *,
                              float, float) {
  float result = 0.0f;
  orvan::RunFramed([] { orvan::NotBuiltYet("RefineCenterEllipticity"); });
  return result;
}

float RefineCenterEllipticityFit(DMImage *, float *, float *, float *, float *, float *, float *,
                                 float *, float, float) {
  float result = 0.0f;
  orvan::RunFramed([] { orvan::NotBuiltYet("RefineCenterEllipticityFit"); });
  return result;
}

float RefineCenterEllipticitySimplex(DMImage *, float *, float *, float *, float *, float *, float *,
                                     float *) {
  float result = 0.0f;
  orvan::RunFramed([] { orvan::NotBuiltYet("RefineCenterEllipticitySimplex"); });
  return result;
}
