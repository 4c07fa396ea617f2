// Run once for every allocation it makes, each time with that allocation
// failing. Each line ends by showing its number ("@N"), so the Results of a
// run that stops tell the line it stopped in.
Result("@4\n");
image pattern := OpenImage("pattern.tif"); Result("@5\n");
image profile; Result("@6\n");
AzimuthalIntegral(pattern, profile, 32, 32, 30, 1); Result("@7\n");
number cx = 31, cy = 33, ring = 0, inner = 11, outer = 22; Result("@8\n");
RefineCenter(pattern, cx, cy, ring, inner, outer); Result("@9\n");
if (1 < 2) { Result("@10\n");
    image part := RealImage("part", 4, 8, 8); Result("@11\n");
}
saveprofileasxls(profile, "sweep.xls", "q intensity", 0.1); Result("@13\n");
saveprofileasxlslong(profile, "sweep.xls", "q I", 0.1, "Second", "Run 2"); Result("@14\n");
Result("centre " + cx + " " + cy + " ring " + ring + "\n"); Result("@15\n");
