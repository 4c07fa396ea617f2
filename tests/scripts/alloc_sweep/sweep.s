// Run once for every allocation it makes, each time with that allocation failing.
image pattern := OpenImage("pattern.tif");
image profile;
AzimuthalIntegral(pattern, profile, 32, 32, 30, 1);
number cx = 31, cy = 33, ring = 0, inner = 11, outer = 22;
RefineCenter(pattern, cx, cy, ring, inner, outer);
saveprofileasxls(profile, "sweep.xls", "q intensity", 0.1);
saveprofileasxlslong(profile, "sweep.xls", "q I", 0.1, "Second", "Run 2");
Result("centre " + cx + " " + cy + " ring " + ring + "\n");
