// RDF handlers: placeholders until their analysis lands.
#include "plugin/frame.h"
#include "plugin/handlers.h"

void RDF_Kirklandfit(DMImage *, DMImage *, float *, float *, float, float, float, float) {
  orvan::RunFramed([] { orvan::NotBuiltYet("RDF_Kirklandfit"); });
}

void RDF_Kirklandfunction(DMImage *, DMImage *, float *, float *, float, float) {
  orvan::RunFramed([] { orvan::NotBuiltYet("RDF_Kirklandfunction"); });
}

void CalculateRDF(DMImage *, DMImage **, float, float, float, float, float) {
  orvan::RunFramed([] { orvan::NotBuiltYet("CalculateRDF"); });
}
