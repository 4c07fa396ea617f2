// The 23 script-function handlers. The host calls each directly with the
// parameters its signature string names: BasicImage/RealImagePtr as a
// borrowed DMImage * (may be null: not a valid image; never released here),
// ImageRef * as DMImage ** (the script variable's slot; hand a new image
// back with StoreNewImage of plugin/image_bridge.h), float by value,
// float * as the script's number (read and written in place), dm_string as
// a borrowed DMString *. No exception leaves a handler: each runs its work
// in RunFramed (plugin/frame.h).
#pragma once

#include "host/link/dm_link.h"

// "void SetORVANverbosity(float )"
void SetORVANverbosity(float level);

// Centre and ellipticity.
float GuessCenter(DMImage* image, float* center_x, float* center_y);
float GuessInnerandOuterRadius(DMImage* image, float half_width, float center_x, float center_y, float* ring_radius,
                               float* inner_radius, float* outer_radius);
float RefineCenter(DMImage* image, float* center_x, float* center_y, float* ring_radius, float* inner_radius,
                   float* outer_radius);
float RefineCenterEllipticity(DMImage* image, float* center_x, float* center_y, float* angle, float* axis_ratio,
                              float* ring_radius, float* inner_radius, float* outer_radius, float angle_bins,
                              float half_width);
float RefineCenterEllipticityFit(DMImage* image, float* center_x, float* center_y, float* angle, float* axis_ratio,
                                 float* ring_radius, float* inner_radius, float* outer_radius, float angle_bins,
                                 float half_width);
float RefineCenterEllipticitySimplex(DMImage* image, float* center_x, float* center_y, float* angle, float* axis_ratio,
                                     float* unused, float* inner_radius, float* outer_radius);

// Azimuthal integration and projection.
void AzimuthalIntegral(DMImage* image, DMImage** profile, float center_x, float center_y, float radius, float plain);
void AzimuthalIntegralEllipticity(DMImage* image, DMImage** profile, float center_x, float center_y, float angle,
                                  float axis_ratio, float radius, float plain);
void AzimuthalIntegralSektor(DMImage* image, DMImage** profile, float center_x, float center_y, float start_angle,
                             float end_angle, float radius, float plain);
void AzimuthalIntegralSektorEllipticity(DMImage* image, DMImage** profile, float center_x, float center_y, float angle,
                                        float axis_ratio, float start_angle, float end_angle, float radius,
                                        float plain);
void AzimuthalProjection(DMImage* image, DMImage** projection, float center_x, float center_y, float angle_count);

// Peak fitting.
void PeakFindPreFit(DMImage* profile, DMImage** peaks, DMImage** spline_points, float min_height, float valley_height,
                    float start, float end, float smoothing);
void PreFit(DMImage* profile, DMImage* peaks, DMImage* spline_points, float first_point, float last_point);
void PeakFit(DMImage* profile, DMImage* peaks, DMImage* spline_points);

// Spreadsheet export.
void saveprofileasxlslong(DMImage* image, DMString* file_name, DMString* labels, float step, DMString* title,
                          DMString* sheet_name);
void saveprofileasxls(DMImage* image, DMString* file_name, DMString* labels, float step);
void saveimageasxls(DMImage* image, DMString* file_name, DMString* labels, DMString* title, DMString* sheet_name);

// Mouse and keyboard.
float GetMouseState(DMString* button);
void FakeESC();

// Radial distribution function.
void RDF_Kirklandfit(DMImage* profile, DMImage* elements, float* offset, float* scale, float first, float last,
                     float q_step, float unused);
void RDF_Kirklandfunction(DMImage* profile, DMImage* elements, float* offset, float* scale, float q_step, float unused);
void CalculateRDF(DMImage* input, DMImage** rdf, float first, float last, float q_step, float r_max, float r_count);
