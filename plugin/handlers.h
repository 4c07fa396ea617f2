// The 23 script-function handlers. The host calls each directly with the
// parameters its signature string names: BasicImage/RealImagePtr as a
// borrowed LinkImage * (may be null: not a valid image; never released here),
// ImageRef * as LinkImage ** (the script variable's slot; hand a new image
// back with StoreNewImage of plugin/image_bridge.h), float by value,
// float * as the script's number (read and written in place), host_string as
// a borrowed LinkString *. No exception leaves a handler: each runs its work
// in RunFramed (plugin/frame.h).
#pragma once

#include "host/link/host_link.h"

// "void SetORVANverbosity(float )"
void SetORVANverbosity(float level);

// Centre and ellipticity.
float GuessCenter(LinkImage* image, float* center_x, float* center_y);
float GuessInnerandOuterRadius(LinkImage* image, float half_width, float center_x, float center_y, float* ring_radius,
                               float* inner_radius, float* outer_radius);
float RefineCenter(LinkImage* image, float* center_x, float* center_y, float* ring_radius, float* inner_radius,
                   float* outer_radius);
float RefineCenterEllipticity(LinkImage* image, float* center_x, float* center_y, float* angle, float* axis_ratio,
                              float* ring_radius, float* inner_radius, float* outer_radius, float angle_bins,
                              float half_width);
float RefineCenterEllipticityFit(LinkImage* image, float* center_x, float* center_y, float* angle, float* axis_ratio,
                                 float* ring_radius, float* inner_radius, float* outer_radius, float angle_bins,
                                 float half_width);
float RefineCenterEllipticitySimplex(LinkImage* image, float* center_x, float* center_y, float* angle,
                                     float* axis_ratio, float* unused, float* inner_radius, float* outer_radius);

// Azimuthal integration and projection.
void AzimuthalIntegral(LinkImage* image, LinkImage** profile, float center_x, float center_y, float radius,
                       float plain);
void AzimuthalIntegralEllipticity(LinkImage* image, LinkImage** profile, float center_x, float center_y, float angle,
                                  float axis_ratio, float radius, float plain);
void AzimuthalIntegralSektor(LinkImage* image, LinkImage** profile, float center_x, float center_y, float start_angle,
                             float end_angle, float radius, float plain);
void AzimuthalIntegralSektorEllipticity(LinkImage* image, LinkImage** profile, float center_x, float center_y,
                                        float angle, float axis_ratio, float start_angle, float end_angle, float radius,
                                        float plain);
void AzimuthalProjection(LinkImage* image, LinkImage** projection, float center_x, float center_y, float angle_count);

// Peak fitting.
void PeakFindPreFit(LinkImage* profile, LinkImage** peaks, LinkImage** spline_points, float min_height,
                    float valley_height, float start, float end, float smoothing);
void PreFit(LinkImage* profile, LinkImage* peaks, LinkImage* spline_points, float first_point, float last_point);
void PeakFit(LinkImage* profile, LinkImage* peaks, LinkImage* spline_points);

// Spreadsheet export.
void saveprofileasxlslong(LinkImage* image, LinkString* file_name, LinkString* labels, float step, LinkString* title,
                          LinkString* sheet_name);
void saveprofileasxls(LinkImage* image, LinkString* file_name, LinkString* labels, float step);
void saveimageasxls(LinkImage* image, LinkString* file_name, LinkString* labels, LinkString* title,
                    LinkString* sheet_name);

// Mouse and keyboard.
float GetMouseState(LinkString* button);
void FakeESC();

// Radial distribution function.
void RDF_Kirklandfit(LinkImage* profile, LinkImage* elements, float* offset, float* scale, float first, float last,
                     float q_step, float unused);
void RDF_Kirklandfunction(LinkImage* profile, LinkImage* elements, float* offset, float* scale, float q_step,
                          float unused);
void CalculateRDF(LinkImage* input, LinkImage** rdf, float first, float last, float q_step, float r_max, float r_count);
