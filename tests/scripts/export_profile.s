// Profiles into a workbook: a new file, the same sheet again, a second
// sheet in front. A successful export says nothing.
image p := RealImage("profile", 4, 64, 2);
for (number y = 0; y < 2; y = y + 1) {
    for (number x = 0; x < 64; x = x + 1) {
        SetPixel(p, x, y, 1000 / (x + 1) + y);
    }
}
saveprofileasxls(p, "profile.xls", "q  intensity background", 0.1);
saveprofileasxls(p, "profile.xls", "q intensity", 0.1);
saveprofileasxlslong(p, "profile.xls", "s I", 0.05, "Second run", "Run 2");
Result("profiles written\n");
