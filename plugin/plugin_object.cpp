// The module's statics, defined in this one file so that they are built in
// this order and destroyed in the reverse: null_buffer, NullStream,
// plugin_instance, then the results stream buffer and ResultsStream.
#include "plugin/plugin_object.h"

#include <iostream>

#include "host/sdk/results_stream_buff.h"
#include "plugin/handlers.h"
#include "plugin/streams.h"

int log_threshold = 0;

static NullBuffer_ORVAN null_buffer;
std::ostream NullStream(&null_buffer);
ORVANTOOLS plugin_instance;
std::ostream ResultsStream(&Host::PlugIn::GetResultsStreamBuff());

NullBuffer_ORVAN::~NullBuffer_ORVAN() = default;

NullBuffer_ORVAN::int_type NullBuffer_ORVAN::overflow(int_type c) { return c; }

std::ostream& DiagnosticStream() { return log_threshold >= 1 ? std::cout : NullStream; }

ORVANTOOLS::~ORVANTOOLS() = default;

void ORVANTOOLS::Start() {
    log_threshold = 0;
    // Each returned reference is dropped at once; the registration stays.
    AddFunction("void SetORVANverbosity(float )", SetORVANverbosity);
    AddFunction("float GuessCenter(BasicImage, float *, float *)", GuessCenter);
    AddFunction("float GuessInnerandOuterRadius(BasicImage, float, float, float, float *, float *, float *)",
                GuessInnerandOuterRadius);
    AddFunction("float RefineCenter(BasicImage, float *, float *, float *, float *, float *)", RefineCenter);
    AddFunction(
        "float RefineCenterEllipticity(BasicImage, float *, float *, float *, float *, float *, float *, float *, float, float)",
        RefineCenterEllipticity);
    AddFunction(
        "float RefineCenterEllipticityFit(BasicImage, float *, float *, float *, float *, float *, float *, float *, float, float)",
        RefineCenterEllipticityFit);
    AddFunction(
        "float RefineCenterEllipticitySimplex(BasicImage, float *, float *, float *, float *, float *, float *, float *)",
        RefineCenterEllipticitySimplex);
    AddFunction("void AzimuthalIntegral(BasicImage, ImageRef *, float, float, float, float)", AzimuthalIntegral);
    AddFunction("void AzimuthalIntegralEllipticity(BasicImage , ImageRef *, float, float, float, float, float, float)",
                AzimuthalIntegralEllipticity);
    AddFunction("void AzimuthalIntegralSektor(BasicImage, ImageRef *, float, float, float, float, float, float)",
                AzimuthalIntegralSektor);
    AddFunction(
        "void AzimuthalIntegralSektorEllipticity(BasicImage, ImageRef *, float, float, float, float, float, float, float, float)",
        AzimuthalIntegralSektorEllipticity);
    AddFunction("void AzimuthalProjection(BasicImage, ImageRef *,float, float, float)", AzimuthalProjection);
    AddFunction("void PeakFindPreFit(RealImagePtr, ImageRef *, ImageRef *, float, float, float, float,float)",
                PeakFindPreFit);
    AddFunction("void PreFit(RealImagePtr, RealImagePtr, RealImagePtr, float, float)", PreFit);
    AddFunction("void PeakFit(RealImagePtr,RealImagePtr,RealImagePtr)", PeakFit);
    AddFunction("void saveprofileasxlslong(RealImagePtr, host_string, host_string, float, host_string, host_string)",
                saveprofileasxlslong);
    AddFunction("void saveprofileasxls(RealImagePtr, host_string, host_string, float)", saveprofileasxls);
    AddFunction("void saveimageasxls(RealImagePtr, host_string, host_string, host_string, host_string)",
                saveimageasxls);
    AddFunction("float GetMouseState(host_string)", GetMouseState);
    AddFunction("void FakeESC()", FakeESC);
    AddFunction("void RDF_Kirklandfit(RealImagePtr,RealImagePtr,float*,float*,float,float,float,float)",
                RDF_Kirklandfit);
    AddFunction("void RDF_Kirklandfunction(RealImagePtr,RealImagePtr,float*,float*,float,float)", RDF_Kirklandfunction);
    AddFunction("void CalculateRDF(RealImagePtr,ImageRef *,float,float,float,float,float)", CalculateRDF);
}

void ORVANTOOLS::Run() {}
void ORVANTOOLS::Cleanup() {}
void ORVANTOOLS::End() {}
