// A profile with no clear extremum: the search's error becomes host error
// 28803, after the first progress line.
image prof := RealImage("flat", 4, 100, 4);
image peaks;
image points;
PeakFindPreFit(prof, peaks, points, 5, 5, 20, 99, 0);
Result("never\n");
