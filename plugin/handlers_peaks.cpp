// Peak-fitting handlers: placeholders until their analysis lands.
#include "plugin/frame.h"
#include "plugin/handlers.h"

void PeakFindPreFit(DMImage *, DMImage **, DMImage **, float, float, float, float, float) {
  orvan::RunFramed([] { orvan::NotBuiltYet("PeakFindPreFit"); });
}

void PreFit(DMImage *, DMImage *, DMImage *, float, float) {
  orvan::RunFramed([] { orvan::NotBuiltYet("PreFit"); });
}

void PeakFit(DMImage *, DMImage *, DMImage *) {
  orvan::RunFramed([] { orvan::NotBuiltYet("PeakFit"); });
}
