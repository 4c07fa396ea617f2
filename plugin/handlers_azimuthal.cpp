// Azimuthal integration and projection handlers: placeholders until their
// analysis lands.
#include "plugin/frame.h"
#include "plugin/handlers.h"

void AzimuthalIntegral(DMImage *, DMImage **, float, float, float, float) {
  orvan::RunFramed([] { orvan::NotBuiltYet("AzimuthalIntegral"); });
}

void AzimuthalIntegralEllipticity(DMImage *, DMImage **, float, float, float, float, float, float) {
  orvan::RunFramed([] { orvan::NotBuiltYet("AzimuthalIntegralEllipticity"); });
}

void AzimuthalIntegralSektor(DMImage *, DMImage **, float, float, float, float, float, float) {
  orvan::RunFramed([] { orvan::NotBuiltYet("AzimuthalIntegralSektor"); });
}

void AzimuthalIntegralSektorEllipticity(DMImage *, DMImage **, float, float, float, float, float, float,
                                        float, float) {
  orvan::RunFramed([] { orvan::NotBuiltYet("AzimuthalIntegralSektorEllipticity"); });
}

void AzimuthalProjection(DMImage *, DMImage **, float, float, float) {
  orvan::RunFramed([] { orvan::NotBuiltYet("AzimuthalProjection"); });
}
